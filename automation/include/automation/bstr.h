// The automation string: 16-bit text that may also be null. Null and empty
// are different values on the wire and in memory; methods that treat an
// empty text like a missing one test empty(), which is true for both.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zimo::automation {

class Bstr {
 public:
  Bstr() = default;  // null
  Bstr(std::u16string text) : text_(std::move(text)) {}        // NOLINT: implicit by design
  Bstr(std::u16string_view text) : text_(std::u16string(text)) {}  // NOLINT
  Bstr(const char16_t* text) {                                  // NOLINT: null stays null
    if (text != nullptr) text_ = std::u16string(text);
  }

  static Bstr FromUtf8(std::string_view text);
  // 8-bit text in the system code page (Windows-1252), as the libraries'
  // A functions take and give it.
  static Bstr FromAnsi(std::string_view text);

  bool is_null() const { return !text_.has_value(); }
  bool empty() const { return !text_ || text_->empty(); }
  size_t size() const { return text_ ? text_->size() : 0; }
  std::u16string_view view() const { return text_ ? std::u16string_view(*text_) : std::u16string_view(); }
  // Null when is_null(), like the pointer a caller would get.
  const char16_t* c_str() const { return text_ ? text_->c_str() : nullptr; }

  std::string ToUtf8() const;
  // Characters the code page cannot hold become '?'.
  std::string ToAnsi() const;

  friend bool operator==(const Bstr&, const Bstr&) = default;

 private:
  std::optional<std::u16string> text_;
};

}  // namespace zimo::automation
