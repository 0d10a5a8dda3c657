// First pass of the motion-text converter: one upper-cased line of the
// card's motion language becomes a list of rotary tokens, each checked
// against the syntax as it is made. The encoder (rotary_encoder.h) turns the
// list into the card's binary commands.
#pragma once

#include <cstdint>

namespace zimo::corvan {

// One token of a converted line (32 bytes, as the token list has always
// been laid out).
struct RotaryToken {
  std::int32_t code = 0;      // token code; odd = the even form followed by a minus
  std::uint32_t unused0 = 0;  //
  double value = 0;           // number of a word or constant; a variable's number as read
  std::int32_t word = 0;      // block-start flag 32 plus the word code, or the comparison
  std::int32_t sub = 0;       // command kind, variable type, time code or operator
  std::int32_t count = 0;     // variable number, PLC, motor or axis mask, or a count
  std::uint32_t unused1 = 0;  //
};
static_assert(sizeof(RotaryToken) == 32);

// A line holds at most this many tokens, its closing token 0 included.
inline constexpr int kRotaryTokenLimit = 125;
inline constexpr int kRotaryBlockStart = 32;

// What the converter needs to know of the card: the generation (field
// widths and limits) and the number ranges of motors and variables.
struct RotaryDialect {
  bool spran = false;
  std::uint32_t motor_count = 8;        // 8 older, 32 SPRAN
  std::uint32_t variable_count = 1024;  // 1024 older, 8192 SPRAN
};

inline constexpr RotaryDialect kRotaryOlder{false, 8, 1024};
inline constexpr RotaryDialect kRotarySpran{true, 32, 8192};

// The dialect of device `device` from the shared table (older defaults when
// the device has no record).
RotaryDialect RotaryDialectOf(int device);

// Converter errors (returned negated).
inline constexpr int kRotaryUnmatchedParen = -37;
inline constexpr int kRotaryCannotPack = -60;
inline constexpr int kRotaryBadNumber = -61;
inline constexpr int kRotaryIllegal = -62;
inline constexpr int kRotaryOutOfRange = -63;
inline constexpr int kRotaryOutputFile = -64;
inline constexpr int kRotaryInputFile = -65;
inline constexpr int kRotaryTooLong = -66;
inline constexpr int kRotaryBadMotors = -67;
inline constexpr int kRotaryBadPlcs = -68;
inline constexpr int kRotaryBadAxes = -69;
inline constexpr int kRotaryBufferSize = -70;

// Parses the upper-cased `text` into `tokens` (room for kRotaryTokenLimit):
// 0 with a list ending in token 0, or a negative error (the list is then
// incomplete). The text is not changed.
int RotaryParseLine(const RotaryDialect& dialect, const char* text, RotaryToken* tokens);
int RotaryParseLine(int device, const char* text, RotaryToken* tokens);

// Matches `pattern` at the start of `text`: pattern letters with bit 7 set
// are optional, each on its own, and those present keep their order. 0 and
// *end past the match, or 1. No delimiter is required after the match.
int RotaryMatchKeyword(const char* text, const unsigned char* pattern, const char** end);

// The syntax checker on its own: feed token codes in order, starting with
// Reset(); 0 or the error the token causes.
class RotarySyntax {
 public:
  void Reset();
  int Check(int code);

  // What the lexer asks.
  bool ExpectsStatement() const { return expect_ == Expect::kStatement; }
  bool ExpectsOperand() const { return expect_ == Expect::kOperand; }
  bool AfterOperand() const { return expect_ == Expect::kOperator; }
  bool InCondition() const { return condition_; }
  int Level() const { return level_; }

 private:
  enum class Expect { kStatement, kOperand, kOperator, kAssignEquals };
  int Complete() const;

  Expect expect_ = Expect::kStatement;
  int level_ = 0;
  int statement_ = 0;  // code of the open statement, 0 when none
  bool condition_ = false;
  bool comparison_ = false;     // the current clause holds its comparison
  bool target_closed_ = false;  // an indirect assignment's target is complete
};

}  // namespace zimo::corvan
