// The library's numbered texts: card errors, transport and compiler errors,
// converter errors, dialog prompts, diagnosis and NC texts. Error codes all
// over the library are these numbers, so a code is turned into words by
// looking its number up here.
//
// Loads behave as they always have: each result goes into the next of three
// 256-byte buffers used in turn (valid until three more loads), and a text
// beginning with "!" is continued by the following number's text. The
// buffers belong to the calling thread, so two threads loading texts at once
// never overwrite each other's results, and a continued chain that would not
// fit is cut at 255 characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zimo::corvan {

// One text of the table.
struct NumberedText {
  std::uint32_t number;
  const char* text;
};

// A table of numbered texts. The built-in one is BuiltInTexts(); a language
// module can supply another.
class TextSource {
 public:
  virtual ~TextSource() = default;
  // The text of `number`, or null when the table has none.
  virtual const char* Find(std::uint32_t number) const = 0;
};

// The texts compiled into the library (US English), sorted by number.
std::span<const NumberedText> BuiltInTextTable();
const TextSource& BuiltInTexts();

// The built-in text of `number` as stored, or null for a number the table
// does not hold. The pointer stays valid for the life of the process.
const char* LibraryText(std::uint32_t number);

inline constexpr std::size_t kLoadedTextSize = 256;  // a result holds 255 characters
inline constexpr int kLoadedTextBuffers = 3;

// Loads the text of `number` from `source` into the calling thread's next
// rotating buffer and returns that buffer: empty for a missing number,
// followed by the next numbers' texts while a loaded text starts with "!".
char* LoadTextInto(const TextSource& source, std::uint32_t number);

// The same from the built-in table.
char* LoadLibraryString(std::uint32_t number);

}  // namespace zimo::corvan
