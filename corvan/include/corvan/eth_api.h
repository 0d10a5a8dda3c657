// The Ethernet family: requests to a card of Location 3 over UDP or TCP on
// port 1025, and the readers of its text responses. The command API's
// dispatcher (command_api.h) calls them for Ethernet devices; the DPR
// services, rotary buffers, program and firmware download call the binary
// requests.
//
// Every function takes the device number (0 to 7) first and returns at once,
// without taking any lock, while the device has no usable socket in this
// process (not open, or torn down after a lost connection): the result is 0
// unless a function says otherwise. Otherwise each request runs under the
// device's Ethernet lock "ETHMutext%d", so its answer is never taken by
// another process or thread.
//
// Readers take a buffer of max + 1 characters: at most max characters are
// stored and the text is always terminated. Counts are the characters
// stored, never more.
//
// A forms take Windows-1252 text, W forms UTF-16 (char16_t).
#pragma once

#include <cstdint>

extern "C" {

// --- Requests --------------------------------------------------------------

// Sends a command line (without CR). The bytes sent (text length + 8) once
// the card's one-byte answer came; 0xF0000000 without a socket, without an
// answer, or for a text of more than 1492 characters (not sent).
std::uint32_t EthSendLine(std::uint32_t device, const char* text);
std::uint32_t EthSendLineW(std::uint32_t device, const char16_t* text);
// EthSendLine, then EthFlush.
void EthSendCommand(std::uint32_t device, const char* text);
void EthSendCommandW(std::uint32_t device, const char16_t* text);
// Drops the card's pending output and this process's unread response text.
// 1 (bytes received), or -1 when the card did not answer.
std::int32_t EthFlush(std::uint32_t device);
// Sends one character (Ctrl-X also drops unread response text). 1 once
// the card answered, else 0xF0000000. The W form sends the low byte.
std::uint32_t EthSendChar(std::uint32_t device, char character);
std::uint32_t EthSendCharW(std::uint32_t device, char16_t character);
// 1 straight away if response text is already buffered in this process (no
// request goes out). Otherwise asks the card and returns the first byte of
// its reply (1 means output is pending), or 0 if no reply arrived.
std::uint32_t EthReadReady(std::uint32_t device);
// Reads (write 0) or writes the card's IP address through the 4-byte
// buffer, which receives the card's answer. Bytes received (4) or -1.
std::int32_t EthIpAddress(std::uint32_t device, std::int32_t write, std::uint8_t* address);
// Writes a card port register. Bytes received (1) or -1.
std::int32_t EthOutp(std::uint32_t device, std::uint8_t offset, std::uint8_t value);
// A program download block of NUL-ended lines: the card's 4-byte status
// word (bit 31 set when a line failed). Without an answer or without a
// socket 0x80000000: nothing was taken.
std::uint32_t EthWriteBuffer(std::uint32_t device, const void* block, std::uint32_t length);
// A firmware block: the card's one-byte answer (1 taken); 0 without one.
std::uint32_t EthWriteFirmwareBlock(std::uint32_t device, std::uint16_t block_value,
                                    const void* data, std::uint32_t length);

// Raw DPR over the network: host byte offsets into the card's window. The
// block functions carry at most 1492 bytes (the DPR services keep to 1400).
// Results: bytes received, or -1.
std::int32_t EthDPRGetMem(std::uint32_t device, void* destination, std::uint32_t offset,
                          std::uint32_t count);
std::int32_t EthDPRSetMem(std::uint32_t device, const void* source, std::uint32_t offset,
                          std::uint32_t count);
// Bit 0..31 of the dword at `offset`; `set` non-zero sets it, 0 clears it.
std::int32_t EthDPRSetMemBit(std::uint32_t device, std::uint32_t offset, std::uint32_t bit,
                             std::int32_t set);
// Writes `count` bits from `first` (the card keeps the other bits).
std::int32_t EthDPRSetMemBits(std::uint32_t device, std::uint32_t offset, std::uint32_t first,
                              std::uint32_t count, std::uint32_t value);
// Read the dword at `offset` (the result is that read's) and store the bit
// or field in *value, only when all four bytes came.
std::int32_t EthDPRGetMemBit(std::uint32_t device, std::uint32_t offset, std::uint32_t bit,
                             std::uint32_t* value);
std::int32_t EthDPRGetMemBits(std::uint32_t device, std::uint32_t offset, std::uint32_t first,
                              std::uint32_t count, std::uint32_t* value);

// Binary rotary buffers. Bytes received or -1; the put splits the card's
// 4-byte answer into its two 16-bit words.
std::int32_t EthRotBufInit(std::uint32_t device, std::uint16_t buffer);
std::int32_t EthRotBufPut(std::uint32_t device, std::uint16_t buffer, const void* data,
                          std::uint32_t length, std::uint16_t* word1, std::uint16_t* word2);

// --- Text responses --------------------------------------------------------

// Sends the command and collects its whole response: status bits OR the
// characters stored. 0x80000000 when it ended with ACK (the ACK is not
// stored), 0xE0000000 for a card error (BEL "ERRnnn" stored, the number
// kept for EthGetLastError), 0 when it ended without ACK (the text is
// stored and the card's reply format is restored), 0xF0000000 when the card
// did not answer. 0 without a socket.
std::uint32_t EthGetResponse(std::uint32_t device, char* buffer, std::uint32_t max,
                             const char* command);
std::uint32_t EthGetResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                              const char16_t* command);
// One line of the response the card has ready, fetched once and handed out
// line by line: status 0 for a CR-ended line (CR stored), 0x80000000 for the
// end of the response, 0xE0000000 for a card error, 0x10000000 when an
// unsolicited line went to the device's ring instead (count 0), 0xF0000000
// when the card did not answer or the line does not fit (its rest comes with
// the next call). *count receives the characters stored. Without a socket:
// 0x80000000 with count 0.
std::uint32_t EthGetLine(std::uint32_t device, char* buffer, std::uint32_t max,
                         std::uint32_t* count);
// As EthGetLine; *count is the number of 16-bit characters written with the
// terminator.
std::uint32_t EthGetLineW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                          std::uint32_t* count);
// The card's pending output as it comes, at most max bytes: bytes received
// (also in *count), -1 on failure (10035 when that was the socket error).
std::int32_t EthGetBuffer(std::uint32_t device, char* buffer, std::uint32_t max,
                          std::uint32_t* count);
std::int32_t EthGetBufferW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                           std::uint32_t* count);
// Sends a control character and reads its answer. For Ctrl-B, C, F, G, P
// and V the characters stored (the card's closing ACK is not); for other
// characters 0 and an empty buffer (Ctrl-X flushes: EthFlush's result); -1
// on failure (10035 when that was the socket error).
std::int32_t EthGetControlResponse(std::uint32_t device, char* buffer, std::uint16_t max,
                                   char character);
std::int32_t EthGetControlResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                    char16_t character);
// The card's error number of the last BEL reply (0 for none).
std::uint32_t EthGetLastError(std::uint32_t device);

// Fetches the calling thread's last socket error and logs its text to the
// debug channel. If the link dropped (10053, 10054) or the card was
// confirmed unplugged (10060), also tears down this process's socket,
// showing messages/prompts captioned "ZIMO TCP/IP". Returns the error.
std::int32_t EthReportSocketError(std::uint32_t device);

}  // extern "C"
