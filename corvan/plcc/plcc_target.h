// What the PLC compiler needs to know about the card it compiles for, and the
// firmware version test it shares with the rest of the library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zimo::corvan::plcc {

inline constexpr int kLinkListWords = 68;

// The lab's compiler takes its routines as a table of 48 addresses built
// from the first 41 link-list values (see LabRoutineTable).
inline constexpr int kLabRoutineEntries = 48;
inline constexpr int kLabLinkValues = 41;
using LabRoutineTable = std::array<std::uint32_t, kLabRoutineEntries>;

// The 48-entry table of the 41 link values: two operator sets, the operand
// routines, the program switch and the divide/modulo pairs.
LabRoutineTable MakeLabRoutineTable(const std::uint32_t (&values)[kLabLinkValues]);

// The statements a caller compiles: the card library's whole language, or
// the lab's reduced one (PLCC programs only: no sections, no F variables, no
// arrays, no RETURN, no listing, X/Y L-variables 0..1023 each at a place of
// its own, ADDRESS of a motor only).
enum class PlccLanguage { kFull, kLab };

// Sizes a caller may set; 0 keeps the generation's own.
struct PlccLimits {
  std::size_t tokens = 0;          // the token list of one program
  std::size_t program_tokens = 0;  // the most a program may collect
  std::size_t code_words = 0;      // the code buffer of one program
  std::size_t total_words = 0;     // the code of all programs together
  std::size_t pool_bytes = 0;      // the text pool of one program
  std::size_t open_structures = 0; // open IF/WHILE blocks and their pending AND/OR jumps
};

// The card a program is compiled for: generation, firmware version text,
// the firmware's routine link list and the PLC program memory layout
// (table base B, chain end E, code start C, slot table S).
struct PlccTarget {
  bool spran = false;
  std::string firmware;
  std::array<std::uint32_t, kLinkListWords> link_list{};
  std::uint32_t table_base = 0;
  std::uint32_t chain_end = 0;
  std::uint32_t code_start = 0;
  std::uint32_t slot_table = 0;
  std::uint32_t variable_count = 0;
  // The server's own build of the library starts VARPLCC sections with its
  // own ring variable.
  bool server_build = false;

  // What differs between the two libraries that compile through this core.
  PlccLanguage language = PlccLanguage::kFull;
  PlccLimits limits;
  // When set, the routines come from this table instead of link_list.
  bool has_lab_routines = false;
  LabRoutineTable lab_routines{};
  // Written before everything else (lab), and at the first PLCC program
  // (card library).
  std::string first_line;
  std::string table_start_line = "CLS DISPLCC 0..31 ";
  // Overlong source lines are refused everywhere, not only inside compiled
  // blocks.
  bool refuse_long_lines = false;

  // The layout each generation keeps its PLC tables at, with the variable
  // count of that generation.
  static PlccTarget Older(std::string firmware);
  static PlccTarget Spran(std::string firmware);
};

// Compares the first five characters of a firmware version text with
// `reference` ("1.935", "1.16F"): <0, 0, >0. A text that does not begin
// with a digit is no version and lies below every reference.
int CompareFirmware5(const char* version, const char* reference);

}  // namespace zimo::corvan::plcc
