// The bus channel (the ZimoBUS family): the card's ASCII command language
// through its host port, for ISA, PCI and USB cards, by the driver's port
// I/O controls. The driver moves the characters; this channel turns lines
// into whole responses, hands unsolicited lines (STX) to the device's ring
// and restores the card's communication settings after a time-out. The
// command API uses it for bus devices whose ASCII channel is 0; these
// exports can also be called directly and take no lock themselves.
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

#include <cstdint>

extern "C" {

// Discards the card's pending output; nonzero when the driver call went
// through.
std::int32_t ZimoBUSFlush(std::uint32_t device);

// Sends one command line (the driver appends CR): the text length + 1.
std::uint32_t ZimoBUSSendLineA(std::uint32_t device, const char* text);
// 0 when the text cannot be converted.
std::uint32_t ZimoBUSSendLineW(std::uint32_t device, const char16_t* text);
// Flush, then send the line; the send's result.
std::uint32_t ZimoBUSSendCommandA(std::uint32_t device, const char* text);
std::uint32_t ZimoBUSSendCommandW(std::uint32_t device, const char16_t* text);

// One line: the status bits; the characters stored go to *count. A line
// that starts with STX goes, without the STX, to the unsolicited-message
// ring: status 0x10000000, count 0, the buffer emptied.
std::uint32_t ZimoBUSGetLineA(std::uint32_t device, char* buffer, std::int32_t size,
                              std::uint32_t* count);
// As A into 16-bit text; *count is the number of 16-bit characters written,
// terminator included.
std::uint32_t ZimoBUSGetLineW(std::uint32_t device, char16_t* buffer, std::int32_t size,
                              std::uint32_t* count);

// Lines back to back until the response ends (ACK, time-out, card error,
// failure or a line cut by the buffer): that line's status bits; *count =
// the characters stored before it. Unsolicited lines take no room.
std::uint32_t ZimoBUSGetBufferA(std::uint32_t device, char* buffer, std::int32_t size,
                                std::uint32_t* count);
std::uint32_t ZimoBUSGetBufferW(std::uint32_t device, char16_t* buffer, std::int32_t size,
                                std::uint32_t* count);

// Flush, send the command, collect the whole response: the status of the
// line that ended it (0 when the buffer filled first) OR the characters
// stored. The line that ends the response (ACK, card error) is copied
// behind the counted text but not counted. After a time-out the card's
// communication settings are restored ("I3=2 I6=1 I63=1I64=1", also put
// into the change ring) and the result is 0xC0000000 without a count. A
// size below 1 sends the command and reads nothing (result 0).
std::uint32_t ZimoBUSGetResponseA(std::uint32_t device, char* buffer, std::int32_t size,
                                  const char* command);
std::uint32_t ZimoBUSGetResponseW(std::uint32_t device, char16_t* buffer, std::int32_t size,
                                  const char16_t* command);

// Sends a control character and reads its answer. Characters the card
// answers at once come back with status 0 and their count; for those
// without a direct answer (5, 9) the following lines are collected as
// ZimoBUSGetBufferA does and their status is returned with the count.
std::uint32_t ZimoBUSGetControlResponseA(std::uint32_t device, char* buffer, std::int32_t size,
                                         char character);
std::uint32_t ZimoBUSGetControlResponseW(std::uint32_t device, char16_t* buffer, std::int32_t size,
                                         char16_t character);

// Card port registers 0 to 16 of bus devices whose ASCII channel is 0 or 1.
// Outp: the driver's transfer count, 0 when refused or failed. Inp: the
// byte read, 255 when refused or failed.
std::int32_t Outp(std::uint32_t device, std::uint32_t offset, std::uint8_t value);
std::uint8_t Inp(std::uint32_t device, std::uint32_t offset);

}  // extern "C"
