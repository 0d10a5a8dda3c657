// The working state of one PLC compilation: tokens, the string pool, the L
// and F definition tables, the routine addresses and the flags that the
// tokenizer, the driver and the code emitters share. Everything lives in
// one object per compilation, so compilations in different threads never
// meet.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "plcc/plcc_target.h"

namespace zimo::corvan::plcc {

// Error numbers of the compiler (the library's text numbers).
enum PlccError : int {
  kErrPack = 33,
  kErrConvert = 34,
  kErrFormat = 35,
  kErrRange = 36,
  kErrParen = 37,
  kErrElse = 38,
  kErrEndIf = 39,
  kErrEndWhile = 40,
  kErrOutput = 41,
  kErrInput = 42,
  kErrUnclosed = 43,
  kErrMemory = 44,
  kErrStack = 45,
  kErrTokens = 46,
  kErrAlloc = 47,
  kErrString = 48,
  kErrUndefined = 49,
  kErrTwice = 50,
};

struct PlccToken {
  std::uint32_t code = 0;
  double value = 0;
};

// Token codes used by name outside the tokenizer.
enum PlccCode : std::uint32_t {
  kTokConstant = 40,
  kTokParen = 96,
  kTokCloseParen = 98,
  kTokIf = 292,
  kTokWhile = 296,
  kTokAndLine = 298,
  kTokOrLine = 299,
  kTokEnablePlc = 320,
  kTokCommandText = 324,
  kTokCommandChar = 325,
  kTokDisplayText = 327,
  kTokDisplayVar = 328,
  kTokOpenPlcc = 329,
  kTokClose = 330,
  kTokLDefinition = 331,
  kTokFDefinition = 332,
  kTokReturn = 333,
  kTokAsmOut = 334,
  kTokLmOverlay = 335,
  kTokOpenServo = 339,
  kTokCopyReg = 340,
  kTokOptimizeOff = 341,
  kTokOpenVarPlcc = 342,
  kTokElse = 357,
  kTokEndIf = 358,
  kTokEndWhile = 361,
  kTokIndexedTarget = 770,
  kTokIndexedCompound = 772,
};

// Bits the driver's structure pass sets on IF and WHILE tokens.
inline constexpr std::uint32_t kClosedBit = 0x400;
inline constexpr std::uint32_t kElseBit = 0x800;

// One entry of the L or F definition table; all zero means undefined.
struct VariableDefinition {
  std::int32_t address = 0;
  std::uint8_t flags = 0;
  std::uint8_t width = 0;
  std::uint32_t code = 0;
  bool defined() const { return address != 0 || flags != 0 || width != 0 || code != 0; }
};

inline constexpr int kDefinitionEntries = 8192;
inline constexpr std::size_t kStringPoolSize = 16384;
inline constexpr std::uint32_t kLArrayCode = 0x406C00;
inline constexpr std::uint32_t kLArrayCodeY = 0x486C00;
inline constexpr std::uint32_t kFPlainCode = 0x407000;
inline constexpr std::uint32_t kFArrayCode = 0x406C00;

bool IsLArray(const VariableDefinition& d);
bool IsFArray(const VariableDefinition& d);

// Per-line grammar state of the token check.
struct GrammarState {
  enum Phase { kStart, kOperand, kAfterOperand };
  Phase phase = kStart;
  std::uint32_t statement = 0;
  bool comparison = false;
  int paren = 0;    // negative while open
  int bracket = 0;  // negative while open
  int ftoi = 0;
  int itof = 0;
  bool integer = false;
  bool floating = false;
  bool condition = false;
  std::uint32_t previous = 0;
  bool has_previous = false;
};

// Routine addresses the generated code calls.
struct RoutineTable {
  std::array<std::uint32_t, kLinkListWords> entry{};
  std::uint32_t divide_pushed = 0;
  std::uint32_t divide_popped = 0;
  std::uint32_t modulo_pushed = 0;
  std::uint32_t modulo_popped = 0;
};

struct PlccCompilation {
  explicit PlccCompilation(const PlccTarget& t);

  PlccTarget target;
  bool spran = false;
  bool extended_firmware = false;
  bool servo_firmware = false;
  int variable_limit = 0;
  bool servo_section = false;
  bool varplcc_section = false;
  bool asm_output = false;
  bool optimize = true;
  int overlay_first = 8192;
  int overlay_last = 8191;
  bool register_relative = false;
  RoutineTable routines;

  std::vector<VariableDefinition> l_table;
  std::vector<VariableDefinition> f_table;
  std::vector<std::uint8_t> pool;
  std::size_t pool_fill = 0;

  GrammarState grammar;

  bool InOverlay(int n) const { return n >= overlay_first && n <= overlay_last; }
  // Inside a VARPLCC section divide and modulo go to the section's own
  // routines.
  void UseVarPlccRoutines();
};

}  // namespace zimo::corvan::plcc
