// Bus channel (ZimoBUS...): text commands to ISA, PCI and USB cards via the
// host port, using the driver's port I/O controls. The driver only shifts
// bytes; this layer assembles complete replies, diverts STX-prefixed lines
// into the device's unsolicited ring and puts the card's link settings back
// once a time-out occurs. The command API routes bus devices with ASCII
// channel 0 here; the exports may also be used directly and do no locking.
//
// Results are CommStatusWords (corvan/command_api.h). A failed driver call,
// a device that is not open in this process, a null buffer or text, a
// buffer size below 1 and a command line of more than 255 characters give
// 0xF0000000 (ZimoBUSFlush: 0), and nothing is sent.
//
// Buffers: `size` is the caller's buffer size in characters (terminator
// included). At most size - 1 characters are stored (255 per line) and the
// text is always terminated. Lines keep their CRs; an ACK is never stored.
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#else
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Throws away whatever the card has queued; nonzero if the driver call
// succeeded.
int32_t ZimoBUSFlush(uint32_t device);

// Sends one command line (the driver appends CR): the text length + 1.
uint32_t ZimoBUSSendLineA(uint32_t device, const char* text);
// 0 when the text cannot be converted.
uint32_t ZimoBUSSendLineW(uint32_t device, const char16_t* text);
// Flush, then send the line; the send's result.
uint32_t ZimoBUSSendCommandA(uint32_t device, const char* text);
uint32_t ZimoBUSSendCommandW(uint32_t device, const char16_t* text);

// One line: the status bits; the characters stored go to *count. A line
// that starts with STX goes, without the STX, to the unsolicited-message
// ring: status 0x10000000, count 0, the buffer emptied.
uint32_t ZimoBUSGetLineA(uint32_t device, char* buffer, int32_t size, uint32_t* count);
// UTF-16 version; *count counts 16-bit units written, including the
// terminator.
uint32_t ZimoBUSGetLineW(uint32_t device, char16_t* buffer, int32_t size, uint32_t* count);

// Lines back to back until the response ends (ACK, time-out, card error,
// failure or a line cut by the buffer): that line's status bits; *count =
// the characters stored before it. Unsolicited lines take no room.
uint32_t ZimoBUSGetBufferA(uint32_t device, char* buffer, int32_t size, uint32_t* count);
uint32_t ZimoBUSGetBufferW(uint32_t device, char16_t* buffer, int32_t size, uint32_t* count);

// Flush, send the command, collect the whole response: the status of the
// line that ended it (0 when the buffer filled first) OR the characters
// stored. The line that ends the response (ACK, card error) is copied
// behind the counted text but not counted. After a time-out the card's
// communication settings are restored ("I3=2 I6=1 I63=1I64=1", also put
// into the change ring) and the result is 0xC0000000 without a count. A
// size below 1 sends the command and reads nothing (result 0).
uint32_t ZimoBUSGetResponseA(uint32_t device, char* buffer, int32_t size, const char* command);
uint32_t ZimoBUSGetResponseW(uint32_t device, char16_t* buffer, int32_t size,
                             const char16_t* command);

// Sends a control character and reads its answer. Characters the card
// answers at once come back with status 0 and their count; for those
// without a direct answer (5, 9) the following lines are collected as
// ZimoBUSGetBufferA does and their status is returned with the count.
uint32_t ZimoBUSGetControlResponseA(uint32_t device, char* buffer, int32_t size, char character);
uint32_t ZimoBUSGetControlResponseW(uint32_t device, char16_t* buffer, int32_t size,
                                    char16_t character);

// Card port registers 0 to 16 of bus devices whose ASCII channel is 0 or 1.
// Outp: the driver's transfer count, 0 when refused or failed. Inp: the
// byte read, 255 when refused or failed.
int32_t Outp(uint32_t device, uint32_t offset, uint8_t value);
uint8_t Inp(uint32_t device, uint32_t offset);

#ifdef __cplusplus
}  // extern "C"
#endif
