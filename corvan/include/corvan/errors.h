// Corvan32's exported text functions: the library's numbered texts (error
// codes are text numbers) and two in-place clean-ups of card replies.
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The text of `number` from the library's own table; `module` is not used
// (kept for callers that pass their resource module). The result lives in one
// of the calling thread's three rotating 256-byte buffers and stays valid
// until that thread has loaded three further texts. A number without text
// gives an empty text; a text starting with "!" continues with the next
// number's text, cut at 255 characters.
char* szLoadStringA(void* module, uint32_t number);

// Removes every control character (1 to 31 and 127) in place; returns the
// text (null for null).
char* szStripControlCharA(char* text);

// Removes every control and white-space character in place; returns the
// text (null for null).
char* szStripWhiteSpaceA(char* text);

#ifdef __cplusplus
}  // extern "C"
#endif
