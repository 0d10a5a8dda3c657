// Reading one command line: the card's language needs no separators between
// commands ("I3=2I6=1", "CLOSEI3=2"), lets blanks appear between the parts of
// a command ("LIST   LINK", "I5 = 3") and is not case sensitive. The
// scanner hands out the pieces; blanks are skipped before each one, and
// whether any were skipped is remembered (a blank ends an expression before
// "&", which then starts a new command).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zimo::cardsim {

class Scanner {
 public:
  // The line without its CR; letters are upper-cased.
  explicit Scanner(std::string_view line);

  // Skips blanks; true when nothing but blanks is left.
  bool AtEnd();
  // The next character after blanks ('\0' at the end), without taking it.
  char Peek();
  // The character `ahead` places after the next one, blanks included.
  char PeekRaw(size_t ahead) const;
  char Take();
  // Takes `c` (after blanks) when it comes next.
  bool Accept(char c);
  // Takes the characters of `text` when they come next; blanks may stand
  // between them ("LISTLINK" matches "LIST   LINK").
  bool AcceptWord(std::string_view text);
  // True when blanks were skipped before the piece last peeked or taken.
  bool spaced() const { return spaced_; }

  // A whole number: decimal digits, or "$" and hexadecimal digits.
  std::optional<uint64_t> Unsigned();
  // A number: decimal with an optional fraction, or "$" and hex digits.
  std::optional<double> Number();
  // An optionally signed number ("-5", "+2.5", "$10").
  std::optional<double> SignedNumber();

  size_t pos() const { return pos_; }
  void Reset(size_t pos) { pos_ = pos; }
  std::string_view Rest() const { return std::string_view(text_).substr(pos_); }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F'); }
  static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

 private:
  void SkipBlanks();

  std::string text_;
  size_t pos_ = 0;
  bool spaced_ = false;
};

}  // namespace zimo::cardsim
