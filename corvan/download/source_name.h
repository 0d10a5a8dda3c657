// Source file names that program files carry in their comments: a comment
// whose text starts with a letter (or a path's '/' or '.') names the file
// the following lines came from, so that errors can be reported against it.
#pragma once

#include <cstddef>

namespace zimo::corvan {

// The longest name kept, terminator included.
inline constexpr std::size_t kSourceNameSize = 260;

// Looks for the first ';' in `line` that is not inside double quotes. If
// the next character is a letter, '/' or '.', copies from there to the end
// of the line, minus CR/LF, into `name` (truncated to size - 1, always
// NUL-terminated) and returns true. Otherwise `name` is untouched: false.
bool CommentSourceName(const char* line, char* name, std::size_t size);

// The line number a program line carries: the decimal number right after
// its first ';', 0 when there is none.
unsigned long CommentLineNumber(const char* line);

}  // namespace zimo::corvan
