// The control characters of the card's text exchange as the drivers meet
// them: what ends a command line, what ends a response, what opens an error
// reply or an unsolicited line, and the control-character commands.
#pragma once

namespace zimo::drivers::ctrl {
inline constexpr char kStx = 0x02;  // opens an unsolicited line
inline constexpr char kAck = 0x06;  // ends a response
inline constexpr char kBel = 0x07;  // opens an error reply
inline constexpr char kLf = 0x0A;
inline constexpr char kCr = 0x0D;     // ends a command line and a reply line
inline constexpr char kCtrlX = 0x18;  // flushes the card's queues

// The control-character commands the drivers treat apart.
inline constexpr char kCtrlB = 0x02, kCtrlC = 0x03, kCtrlE = 0x05, kCtrlF = 0x06;
inline constexpr char kCtrlG = 0x07, kCtrlI = 0x09, kCtrlP = 0x10, kCtrlT = 0x14;
inline constexpr char kCtrlV = 0x16, kCtrlY = 0x19;
}  // namespace zimo::drivers::ctrl
