// Source file names that program files carry in their comments: a comment
// whose text starts with a letter (or a path's '/' or '.') names the file
// the following lines came from, so that errors can be reported against it.
#pragma once

#include <cstddef>

namespace zimo::corvan {

// The longest name kept, terminator included.
inline constexpr std::size_t kSourceNameSize = 260;

// When the first ';' of `line` outside double quotes is followed by a
// letter, '/' or '.', copies the text from that character to the end of the
// line (without its CR/LF, at most size - 1 characters, terminated) into
// `name` and returns true; otherwise leaves `name` alone and returns false.
bool CommentSourceName(const char* line, char* name, std::size_t size);

// The line number a program line carries: the decimal number right after
// its first ';', 0 when there is none.
unsigned long CommentLineNumber(const char* line);

}  // namespace zimo::corvan
