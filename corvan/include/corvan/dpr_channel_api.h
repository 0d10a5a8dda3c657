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

#include <cstdint>

extern "C" {

// The lock of the device's host copies of DPR data ("DPRMutexZimo%d"):
// waits without limit; 0 when taken, 0x80 when its previous owner ended
// holding it; nothing happens (0) when the device has no lock here.
std::uint32_t LockZimoDPR(std::uint32_t device);
// Nonzero when a hold was released.
std::int32_t ReleaseZimoDPR(std::uint32_t device);

// Tests whether DPR is usable for the device from this process and keeps
// the answer as the process's DPR-available flag: ISA and PCI cards ask the
// driver; USB and Ethernet cards are asked by memory commands (an older
// card's pattern test leaves the card word it borrows as it found it).
std::int32_t ZimoDPRAvailable(std::uint32_t device);
// Switches the card's mailbox on (1) or off (0) and publishes the state to
// every process: 1 when DPR is available, else 0 (and the mailbox is off).
std::int32_t ZimoDPRComm(std::uint32_t device, std::int32_t on);

// Reads away waiting output, then flushes the mailbox: nonzero when the
// flush request went through.
std::int32_t ZimoDPRFlush(std::uint32_t device);

// Sends one command line: the characters the driver took (0 for a line of
// more than 159 characters, which the mailbox does not carry), -3 when the
// request failed or the line is longer than 255 characters or null, 0 when
// the device is not open here.
std::int32_t ZimoDPRSendLineA(std::uint32_t device, const char* text);
std::int32_t ZimoDPRSendLineW(std::uint32_t device, const char16_t* text);
// Flush, then send the line; the send's result.
std::int32_t ZimoDPRSendCommandA(std::uint32_t device, const char* text);
std::int32_t ZimoDPRSendCommandW(std::uint32_t device, const char16_t* text);

// One line: the status bits (0 a CR line, 0x80000000 the line that ended
// the response, 0xE0000000 a card error, 0xC0000000 no reply, 0x10000000 an
// unsolicited line, stored in the ring instead, 0xF0000000 a failed request
// or a line longer than max); the characters stored go to *count.
std::uint32_t ZimoDPRGetLineA(std::uint32_t device, char* buffer, std::uint32_t max,
                              std::uint32_t* count);
// *count = the 16-bit characters written, terminator included.
std::uint32_t ZimoDPRGetLineW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                              std::uint32_t* count);
// Lines back to back until one with the top status bit: its status bits;
// *count = the characters stored before it. A max of 0 reports failure.
std::uint32_t ZimoDPRGetBufferA(std::uint32_t device, char* buffer, std::uint32_t max,
                                std::uint32_t* count);
std::uint32_t ZimoDPRGetBufferW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                std::uint32_t* count);
// Flush, send, collect: status OR count (status 0 when the buffer filled
// first). After a time-out the card's communication settings are restored
// ("I3=2 I6=1 I63=1 I64=1", also put into the change ring) and the result
// is 0xC0000000 alone.
std::uint32_t ZimoDPRGetResponseA(std::uint32_t device, char* buffer, std::uint32_t max,
                                  const char* command);
std::uint32_t ZimoDPRGetResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                  const char16_t* command);
// A control character and its answer: status OR count; for 5 and 9 (no
// direct answer) the collected characters alone.
std::uint32_t ZimoDPRGetControlResponseA(std::uint32_t device, char* buffer, std::uint32_t max,
                                         char character);
// The same exchange into a 16-bit buffer; returns the count only.
std::uint32_t ZimoDPRGetControlResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                         char16_t character);

// Kept for callers of the family: does nothing.
void ZimoDPRStatus(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                   std::uint32_t e, std::uint32_t f, std::uint32_t g);

}  // extern "C"
