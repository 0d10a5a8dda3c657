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

// The channel in the shape the dispatcher calls (buffers of max + 1).
AsciiChannel& BusChannel();

}  // namespace zimo::corvan
