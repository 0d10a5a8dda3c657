// DPR mailbox channel: text commands exchanged through a mailbox in the
// card's dual-ported RAM rather than its bus port. Serves ISA and PCI cards,
// and USB cards, whose driver supplies the mailbox for them. The command API
// selects it for bus devices with ASCII channel 1. Also here: the DPR-usable
// check, the card-side mailbox on/off switch, and each device's lock guarding
// the host copies of DPR data.
//
// Readers take a buffer of max + 1 characters: at most max characters are
// stored and the text is always terminated. Lines come back with their CR
// (the mailbox carries lines without it) when it fits. None of these
// functions takes the command lock: the command API holds it around them.
//
// W forms convert their text through the ANSI code page and call the A
// form, so both take the same path.
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

// The lock of the device's host copies of DPR data ("DPRMutexZimo%d"):
// waits without limit; 0 when taken, 0x80 when its previous owner ended
// holding it; nothing happens (0) when the device has no lock here.
uint32_t LockZimoDPR(uint32_t device);
// Nonzero when a hold was released.
int32_t ReleaseZimoDPR(uint32_t device);

// Tests whether DPR is usable for the device from this process and keeps
// the answer as the process's DPR-available flag: ISA and PCI cards ask the
// driver; USB and Ethernet cards are asked by memory commands (an older
// card's pattern test leaves the card word it borrows as it found it).
int32_t ZimoDPRAvailable(uint32_t device);
// Switches the card's mailbox on (1) or off (0) and publishes the state to
// every process: 1 when DPR is available, else 0 (and the mailbox is off).
int32_t ZimoDPRComm(uint32_t device, int32_t on);

// Reads away waiting output, then flushes the mailbox: nonzero when the
// flush request went through.
int32_t ZimoDPRFlush(uint32_t device);

// Sends one command line: the characters the driver took (0 for a line of
// more than 159 characters, which the mailbox does not carry), -3 when the
// request failed or the line is longer than 255 characters or null, 0 when
// the device is not open here.
int32_t ZimoDPRSendLineA(uint32_t device, const char* text);
int32_t ZimoDPRSendLineW(uint32_t device, const char16_t* text);
// Flush, then send the line; the send's result.
int32_t ZimoDPRSendCommandA(uint32_t device, const char* text);
int32_t ZimoDPRSendCommandW(uint32_t device, const char16_t* text);

// One line: the status bits (0 a CR line, 0x80000000 the line that ended
// the response, 0xE0000000 a card error, 0xC0000000 no reply, 0x10000000 an
// unsolicited line, stored in the ring instead, 0xF0000000 a failed request
// or a line longer than max); the characters stored go to *count.
uint32_t ZimoDPRGetLineA(uint32_t device, char* buffer, uint32_t max, uint32_t* count);
// *count = the 16-bit characters written, terminator included.
uint32_t ZimoDPRGetLineW(uint32_t device, char16_t* buffer, uint32_t max, uint32_t* count);
// Lines back to back until one with the top status bit: its status bits;
// *count = the characters stored before it. A max of 0 reports failure.
uint32_t ZimoDPRGetBufferA(uint32_t device, char* buffer, uint32_t max, uint32_t* count);
uint32_t ZimoDPRGetBufferW(uint32_t device, char16_t* buffer, uint32_t max, uint32_t* count);
// Flush, send, collect: status OR count (status 0 when the buffer filled
// first). After a time-out the card's communication settings are restored
// ("I3=2 I6=1 I63=1 I64=1", also put into the change ring) and the result
// is 0xC0000000 alone.
uint32_t ZimoDPRGetResponseA(uint32_t device, char* buffer, uint32_t max, const char* command);
uint32_t ZimoDPRGetResponseW(uint32_t device, char16_t* buffer, uint32_t max,
                             const char16_t* command);
// A control character and its answer: status OR count; for 5 and 9 (no
// direct answer) the collected characters alone.
uint32_t ZimoDPRGetControlResponseA(uint32_t device, char* buffer, uint32_t max, char character);
// The same exchange into a 16-bit buffer; returns the count only.
uint32_t ZimoDPRGetControlResponseW(uint32_t device, char16_t* buffer, uint32_t max,
                                    char16_t character);

// Kept for callers of the family: does nothing.
void ZimoDPRStatus(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f,
                   uint32_t g);

#ifdef __cplusplus
}  // extern "C"
#endif
