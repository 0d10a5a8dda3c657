// The card's binary rotary commands as it reads them: 48-bit units (bits
// 48-63 of a stored unit are never looked at). A unit's low 12 bits are its
// header: bits 0-5 the exponent or command kind (the statement kind for
// expression units, bit 5 marking a statement's last unit), bits 6-10 the
// opcode (1-27 word, 28 time word, 30 command, 31 constant, 0 expression
// statement or frame) and bit 11 the block-start flag.
#pragma once

#include <cstdint>
#include <string>

namespace zimo::cardsim::rotary {

inline constexpr uint64_t kUnitMask = (uint64_t{1} << 48) - 1;

inline uint32_t Field(uint64_t unit, int first, int width) {
  return static_cast<uint32_t>((unit >> first) & ((uint64_t{1} << width) - 1));
}
inline int Opcode(uint64_t unit) { return static_cast<int>(Field(unit, 6, 5)); }
inline bool BlockStart(uint64_t unit) { return Field(unit, 11, 1) != 0; }

inline constexpr int kTimeWord = 28;
inline constexpr int kCommand = 30;
inline constexpr int kConstant = 31;
inline constexpr int kWordCall = 27;

// Values: |v| = m x 2^(e - 28) with the 36-bit mantissa in bits 12-47
// (ones' complement when negative); time words keep its top 24 bits in
// bits 24-47.
double FullValue(uint64_t unit);
double ShortValue(uint64_t unit);

// One unit outside an expression statement.
struct Item {
  enum class Kind {
    kWord,          // code = word code, value
    kTimeWord,      // code = time code, value
    kPlcList,       // code: bit 0 set disables, bit 1 set names compiled PLCs; mask
    kAxisMode,      // code = 0 ABS, 1 INC; mask = axis bits (R 0, A 1, B 3 ... Z 17)
    kFrax,          // mask = axis bits
    kHome,          // code = 3 HOME, 6 HOMEZ; mask = motor bits (motor n: bit n - 1)
    kCountCommand,  // code = kind, count
    kPlainCommand,  // code = kind
    kConstant,      // a constant unit with no statement before it
    kStatement,     // the first unit of an expression statement; code = statement kind
    kFrame,         // IF or WHILE frame: count = units to pass over after it; is_while
    kBackJump,      // a WHILE's jump back: jump = distance from the unit after it
    kEmpty,         // the zero unit that closes an IF's body
    kInvalid,       // why: what is wrong with it
  };
  Kind kind = Kind::kInvalid;
  bool block_start = false;
  int code = 0;
  double value = 0;
  uint32_t mask = 0;
  uint32_t count = 0;
  int32_t jump = 0;
  bool is_while = false;
  std::string why;
};

Item DecodeUnit(uint64_t unit, bool spran);

// The canonical text of an item that runs (README: motion log).
std::string ItemText(const Item& item);
// Numbers in the canonical texts: whole numbers as integers, others with
// ten significant digits.
std::string FormatValue(double v);
// Names of word codes ("X", "CALL") and time codes ("TA", "DWELL", ":");
// empty for codes that name nothing.
std::string WordName(int code);
std::string TimeName(int code);
// The axis letter of a word code ('X'), or 0 when the word is no axis.
char AxisLetter(int word_code);
// Axis bits of a list in the order the card names them: "R,A,B,...".
std::string AxisList(uint32_t mask);
// Numbers of the set bits (bit b is number b + offset), comma-separated.
std::string NumberList(uint32_t mask, int offset);
// 12 hex digits of a unit.
std::string UnitHex(uint64_t unit);

}  // namespace zimo::cardsim::rotary
