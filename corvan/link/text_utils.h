// In-place clean-ups for card replies and registry texts.
//
// "Control" means bytes 1-31 and DEL; "white space" is the blank plus tab,
// LF, VT, FF and CR. Bytes from 128 up are ordinary characters here, so the
// process locale cannot change what gets trimmed.
#pragma once

#include <cstddef>

namespace zimo::corvan {

bool IsControlChar(char c);
bool IsWhiteSpaceChar(char c);

// Deletes control characters from `text` in place; returns `text` (null
// stays null).
char* StripControlChars(char* text);

// Deletes control and white-space characters from `text` in place; returns
// `text` (null stays null).
char* StripWhiteSpace(char* text);

// Copies at most `capacity` - 1 characters of the zero-terminated `text` into
// `out` and terminates it; returns the characters copied. Nothing is written
// when `capacity` is 0; a null text copies as an empty one.
std::size_t CopyTerminated(char* out, std::size_t capacity, const char* text);

}  // namespace zimo::corvan
