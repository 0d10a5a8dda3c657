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

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#else
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// --- Requests --------------------------------------------------------------

// Sends a command line (without CR). The bytes sent (text length + 8) once
// the card's one-byte answer came; 0xF0000000 without a socket, without an
// answer, or for a text of more than 1492 characters (not sent).
uint32_t EthSendLine(uint32_t device, const char* text);
uint32_t EthSendLineW(uint32_t device, const char16_t* text);
// EthSendLine, then EthFlush.
void EthSendCommand(uint32_t device, const char* text);
void EthSendCommandW(uint32_t device, const char16_t* text);
// Drops the card's pending output and this process's unread response text.
// 1 (bytes received), or -1 when the card did not answer.
int32_t EthFlush(uint32_t device);
// Sends one character (Ctrl-X also drops unread response text). 1 once
// the card answered, else 0xF0000000. The W form sends the low byte.
uint32_t EthSendChar(uint32_t device, char character);
uint32_t EthSendCharW(uint32_t device, char16_t character);
// 1 straight away if response text is already buffered in this process (no
// request goes out). Otherwise asks the card and returns the first byte of
// its reply (1 means output is pending), or 0 if no reply arrived.
uint32_t EthReadReady(uint32_t device);
// Reads (write 0) or writes the card's IP address through the 4-byte
// buffer, which receives the card's answer. Bytes received (4) or -1.
int32_t EthIpAddress(uint32_t device, int32_t write, uint8_t* address);
// Writes a card port register. Bytes received (1) or -1.
int32_t EthOutp(uint32_t device, uint8_t offset, uint8_t value);
// A program download block of NUL-ended lines: the card's 4-byte status
// word (bit 31 set when a line failed). Without an answer or without a
// socket 0x80000000: nothing was taken.
uint32_t EthWriteBuffer(uint32_t device, const void* block, uint32_t length);
// A firmware block: the card's one-byte answer (1 taken); 0 without one.
uint32_t EthWriteFirmwareBlock(uint32_t device, uint16_t block_value, const void* data,
                               uint32_t length);

// Raw DPR over the network: host byte offsets into the card's window. The
// block functions carry at most 1492 bytes (the DPR services keep to 1400).
// Results: bytes received, or -1.
int32_t EthDPRGetMem(uint32_t device, void* destination, uint32_t offset, uint32_t count);
int32_t EthDPRSetMem(uint32_t device, const void* source, uint32_t offset, uint32_t count);
// Bit 0..31 of the dword at `offset`; `set` non-zero sets it, 0 clears it.
int32_t EthDPRSetMemBit(uint32_t device, uint32_t offset, uint32_t bit, int32_t set);
// Writes `count` bits from `first` (the card keeps the other bits).
int32_t EthDPRSetMemBits(uint32_t device, uint32_t offset, uint32_t first, uint32_t count,
                         uint32_t value);
// Read the dword at `offset` (the result is that read's) and store the bit
// or field in *value, only when all four bytes came.
int32_t EthDPRGetMemBit(uint32_t device, uint32_t offset, uint32_t bit, uint32_t* value);
int32_t EthDPRGetMemBits(uint32_t device, uint32_t offset, uint32_t first, uint32_t count,
                         uint32_t* value);

// Binary rotary buffers. Bytes received or -1; the put splits the card's
// 4-byte answer into its two 16-bit words.
int32_t EthRotBufInit(uint32_t device, uint16_t buffer);
int32_t EthRotBufPut(uint32_t device, uint16_t buffer, const void* data, uint32_t length,
                     uint16_t* word1, uint16_t* word2);

// --- Text responses --------------------------------------------------------

// Sends the command and collects its whole response: status bits OR the
// characters stored. 0x80000000 when it ended with ACK (the ACK is not
// stored), 0xE0000000 for a card error (BEL "ERRnnn" stored, the number
// kept for EthGetLastError), 0 when it ended without ACK (the text is
// stored and the card's reply format is restored), 0xF0000000 when the card
// did not answer. 0 without a socket.
uint32_t EthGetResponse(uint32_t device, char* buffer, uint32_t max, const char* command);
uint32_t EthGetResponseW(uint32_t device, char16_t* buffer, uint32_t max, const char16_t* command);
// One line of the response the card has ready, fetched once and handed out
// line by line: status 0 for a CR-ended line (CR stored), 0x80000000 for the
// end of the response, 0xE0000000 for a card error, 0x10000000 when an
// unsolicited line went to the device's ring instead (count 0), 0xF0000000
// when the card did not answer or the line does not fit (its rest comes with
// the next call). *count receives the characters stored. Without a socket:
// 0x80000000 with count 0.
uint32_t EthGetLine(uint32_t device, char* buffer, uint32_t max, uint32_t* count);
// As EthGetLine; *count is the number of 16-bit characters written with the
// terminator.
uint32_t EthGetLineW(uint32_t device, char16_t* buffer, uint32_t max, uint32_t* count);
// The card's pending output as it comes, at most max bytes: bytes received
// (also in *count), -1 on failure (10035 when that was the socket error).
int32_t EthGetBuffer(uint32_t device, char* buffer, uint32_t max, uint32_t* count);
int32_t EthGetBufferW(uint32_t device, char16_t* buffer, uint32_t max, uint32_t* count);
// Sends a control character and reads its answer. For Ctrl-B, C, F, G, P
// and V the characters stored (the card's closing ACK is not); for other
// characters 0 and an empty buffer (Ctrl-X flushes: EthFlush's result); -1
// on failure (10035 when that was the socket error).
int32_t EthGetControlResponse(uint32_t device, char* buffer, uint16_t max, char character);
int32_t EthGetControlResponseW(uint32_t device, char16_t* buffer, uint32_t max, char16_t character);
// The card's error number of the last BEL reply (0 for none).
uint32_t EthGetLastError(uint32_t device);

// Fetches the calling thread's last socket error and logs its text to the
// debug channel. If the link dropped (10053, 10054) or the card was
// confirmed unplugged (10060), also tears down this process's socket,
// showing messages/prompts captioned "ZIMO TCP/IP". Returns the error.
int32_t EthReportSocketError(uint32_t device);

#ifdef __cplusplus
}  // extern "C"
#endif
