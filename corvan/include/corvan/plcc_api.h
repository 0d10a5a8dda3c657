/* Corvan32's PLC compiler: compiles the compiled-PLC blocks of a card
 * program file for the card of a device into a file of card commands. */
#ifndef CORVAN_PLCC_API_H_
#define CORVAN_PLCC_API_H_

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Compiles `input` into `output` for `device` (0 to 8), whose shared record
 * gives the card. Returns 0 on success, 41 when the output cannot be
 * written, 42 when the input cannot be read, else the compiler's error
 * number (33 to 50); -1 when the device has no shared record. `words`
 * receives the card words written, or on failure the source line of the
 * error (0 when the failure has no line). */
int32_t ZimoPlccCompilerA(uint32_t device, uint32_t* words, const char* input, const char* output);
/* The same with 16-bit paths; -1 when a path has no 8-bit form. */
int32_t ZimoPlccCompilerW(uint32_t device, uint32_t* words, const char16_t* input,
                          const char16_t* output);

#ifdef __cplusplus
}
#endif

#endif /* CORVAN_PLCC_API_H_ */
