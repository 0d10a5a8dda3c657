// The bus channel behind the ZimoBUS exports (corvan/bus_api.h) and the
// command API's dispatch to it.
#pragma once

#include <cstdint>

#include "link/ascii_channel.h"

namespace zimo::corvan {

// What the channel sends after a response timed out.
inline constexpr char kBusRestoreLine[] = "I3=2 I6=1 I63=1I64=1";
// A command line holds at most this many characters.
inline constexpr std::uint32_t kBusMaxLine = 255;

// The driver's transfer count: nonzero when the card has a character
// waiting; 0 when not or when the call failed.
std::uint32_t BusReadReady(int device);
// One character: 1, 0xC0000000 when the card did not take it in time,
// 0xF0000000 when the call failed.
std::uint32_t BusSendChar(int device, char c);
// The driver's last port error, kept in the device's BusLastError and
// returned as that signed 16-bit field; 0 when the call failed.
std::int32_t BusLastError(int device);

// USB cards take a program as blocks of command lines, each ended by a NUL
// byte: the block is sent with one driver call and its outcome read with a
// second. A block holds at most this many bytes before its last line.
inline constexpr std::uint32_t kUsbBlockMax = 3840;
// The block status of a failed line: bit 31, its position (1 for the
// first line) in bits 0-15, the card's error number in bits 16-23 (0
// stands for 3).
inline constexpr std::uint32_t kUsbBlockFailed = 0x80000000;

// Sends `size` bytes of NUL-ended lines to a USB card. False, with nothing
// sent, when the device is not a USB device open here, when the block is
// empty, longer than kUsbBlockMax plus one line of kBusMaxLine characters
// and its NUL, or does not end with a NUL (the card would run a cut line);
// also when the call failed.
bool UsbWriteBlock(int device, const char* block, std::uint32_t size);
// The card's status word of the last block; false when the call failed or
// the device is not a USB device open here.
bool UsbReadBlockStatus(int device, std::uint32_t* status);

// The channel in the shape the dispatcher calls (buffers of max + 1).
AsciiChannel& BusChannel();

}  // namespace zimo::corvan
