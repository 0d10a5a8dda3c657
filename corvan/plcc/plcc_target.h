// What the PLC compiler needs to know about the card it compiles for, and the
// firmware version test it shares with the rest of the library.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zimo::corvan::plcc {

inline constexpr int kLinkListWords = 68;

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
