#include "cardsim/lexer.h"

#include <charconv>

namespace zimo::cardsim {

Scanner::Scanner(std::string_view line) : text_(line) {
  for (char& c : text_) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

void Scanner::SkipBlanks() {
  spaced_ = false;
  while (pos_ < text_.size() && IsBlank(text_[pos_])) {
    ++pos_;
    spaced_ = true;
  }
}

bool Scanner::AtEnd() {
  SkipBlanks();
  return pos_ >= text_.size();
}

char Scanner::Peek() {
  SkipBlanks();
  return pos_ < text_.size() ? text_[pos_] : '\0';
}

char Scanner::PeekRaw(size_t ahead) const {
  size_t at = pos_ + ahead;
  return at < text_.size() ? text_[at] : '\0';
}

char Scanner::Take() {
  SkipBlanks();
  return pos_ < text_.size() ? text_[pos_++] : '\0';
}

bool Scanner::Accept(char c) {
  if (Peek() != c || c == '\0') return false;
  ++pos_;
  return true;
}

bool Scanner::AcceptWord(std::string_view word) {
  size_t start = pos_;
  bool spaced_first = false;
  for (size_t i = 0; i < word.size(); ++i) {
    SkipBlanks();
    if (i == 0) spaced_first = spaced_;
    if (pos_ >= text_.size() || text_[pos_] != word[i]) {
      pos_ = start;
      spaced_ = spaced_first;
      return false;
    }
    ++pos_;
  }
  spaced_ = spaced_first;
  return true;
}

std::optional<uint64_t> Scanner::Unsigned() {
  SkipBlanks();
  size_t start = pos_;
  uint64_t value = 0;
  if (pos_ < text_.size() && text_[pos_] == '$') {
    ++pos_;
    size_t digits = 0;
    while (pos_ < text_.size() && IsHexDigit(text_[pos_])) {
      char c = text_[pos_++];
      if (++digits > 16) {  // more than 64 bits: not a number the card takes
        pos_ = start;
        return std::nullopt;
      }
      value = value * 16 + static_cast<uint64_t>(IsDigit(c) ? c - '0' : c - 'A' + 10);
    }
    if (digits == 0) {
      pos_ = start;
      return std::nullopt;
    }
    return value;
  }
  size_t digits = 0;
  while (pos_ < text_.size() && IsDigit(text_[pos_])) {
    if (++digits > 18) {
      pos_ = start;
      return std::nullopt;
    }
    value = value * 10 + static_cast<uint64_t>(text_[pos_++] - '0');
  }
  if (digits == 0) return std::nullopt;
  return value;
}

std::optional<double> Scanner::Number() {
  SkipBlanks();
  if (pos_ < text_.size() && text_[pos_] == '$') {
    auto v = Unsigned();
    if (!v) return std::nullopt;
    return static_cast<double>(*v);
  }
  size_t start = pos_;
  size_t digits = 0;
  while (pos_ < text_.size() && IsDigit(text_[pos_])) {
    ++pos_;
    ++digits;
  }
  // A point starts a fraction, but ".." is a range and belongs to the caller.
  if (pos_ < text_.size() && text_[pos_] == '.' && PeekRaw(1) != '.') {
    ++pos_;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) {
      ++pos_;
      ++digits;
    }
  }
  if (digits == 0) {
    pos_ = start;
    return std::nullopt;
  }
  double value = 0;
  std::from_chars(text_.data() + start, text_.data() + pos_, value);
  return value;
}

std::optional<double> Scanner::SignedNumber() {
  size_t start = pos_;
  double sign = 1;
  if (Accept('-')) {
    sign = -1;
  } else {
    Accept('+');
  }
  auto v = Number();
  if (!v) {
    pos_ = start;
    return std::nullopt;
  }
  return sign * *v;
}

}  // namespace zimo::cardsim
