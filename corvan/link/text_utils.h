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

// Removes every control character from the zero-terminated text in place and
// returns the text; a null text gives null.
char* StripControlChars(char* text);

// Removes every control character and every white-space character in place
// and returns the text; a null text gives null.
char* StripWhiteSpace(char* text);

// Copies at most `capacity` - 1 characters of the zero-terminated `text` into
// `out` and terminates it; returns the characters copied. Nothing is written
// when `capacity` is 0; a null text copies as an empty one.
std::size_t CopyTerminated(char* out, std::size_t capacity, const char* text);

}  // namespace zimo::corvan
