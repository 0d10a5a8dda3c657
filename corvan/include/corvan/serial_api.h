// Exports of the serial transport (ZimoSER...): text commands to a card
// through an RS-232 port; used by devices registered with Location 2.
// One open port is shared by every process that uses the device: the first
// opens it, the others take a copy of its handle.
//
// Results follow the CommStatusWord of command_api.h. Readers take a buffer
// of max + 1 characters: at most max characters are stored and the text is
// always terminated. Every operation but the two getters holds the device's
// command lock for its whole run. Failures leave a code in the device's
// serial last error (ZimoGetError): 1011 port closed, 1008 time-out, 81 a
// character failed to go out, 82 ACK came before any CR-terminated line, 28
// line buffer full or command over 298 characters; otherwise the number the
// card sent after BEL, or the OS error of a failed write.
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

uint32_t ZimoSERGetBaudrate(uint32_t device);
uint32_t ZimoSERGetPort(uint32_t device);

// Characters written (0 or 1).
uint32_t ZimoSERSendCharA(uint32_t device, char character);
uint32_t ZimoSERSendCharW(uint32_t device, char16_t character);
// Returns how many characters went out, CR included; 0 on a short write;
// 0xF0000000 on a port line error or an over-long text.
uint32_t ZimoSERSendLineA(uint32_t device, const char* text);
uint32_t ZimoSERSendLineW(uint32_t device, const char16_t* text);

// 1 if input is queued and the port shows no line error.
uint32_t ZimoSERReadReady(uint32_t device);
// When characters wait: purges the port, sends Ctrl-X and drains the card's
// output up to its echoed Ctrl-X.
void ZimoSERFlush(uint32_t device);
// Sends the line and drops its response.
void ZimoSERSendCommandA(uint32_t device, const char* text);
void ZimoSERSendCommandW(uint32_t device, const char16_t* text);

// One line: the status bits; the characters stored go to *count.
uint32_t ZimoSERGetLineA(uint32_t device, char* buffer, uint32_t max, uint32_t* count);
// As A; *count is the number of 16-bit characters written with the
// terminator.
uint32_t ZimoSERGetLineW(uint32_t device, char16_t* buffer, uint32_t max, uint32_t* count);
// Reads lines (kept with their CRs, concatenated) until the reply ends or
// a time-out, card error or failure stops it. Returns the status bits of the
// last line read; *count gets the number of characters stored.
uint32_t ZimoSERGetBufferA(uint32_t device, char* buffer, uint32_t max, uint32_t* count);
uint32_t ZimoSERGetBufferW(uint32_t device, char16_t* buffer, uint32_t max, uint32_t* count);
// Flush, send the command, collect the response: status bits OR characters
// stored. After a time-out the card's serial protocol settings are restored
// ("I3=2 I6=1", also recorded in the change ring) and the error is 1008.
uint32_t ZimoSERGetResponseA(uint32_t device, char* buffer, uint32_t max, const char* command);
// Characters stored, without status bits; 0 after a time-out.
uint32_t ZimoSERGetResponseW(uint32_t device, char16_t* buffer, uint32_t max,
                             const char16_t* command);
// Sends the control character as a one-character line and collects its
// answer (unsolicited lines included): status bits OR characters stored.
uint32_t ZimoSERGetControlResponseA(uint32_t device, char* buffer, uint32_t max, char character);
// Status bits only.
uint32_t ZimoSERGetControlResponseW(uint32_t device, char16_t* buffer, uint32_t max,
                                    char16_t character);

#ifdef __cplusplus
}  // extern "C"
#endif
