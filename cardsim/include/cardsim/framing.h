// The control characters of the card's text exchange: what ends a command
// line, what the card sends at the end of a response, before an error or an
// unsolicited line, and the control-character commands, by name.
#pragma once

namespace zimo::cardsim::ctrl {
inline constexpr char kStx = 0x02, kAck = 0x06, kBel = 0x07, kLf = 0x0A, kCr = 0x0D;
inline constexpr char kCtrlA = 0x01, kCtrlB = 0x02, kCtrlC = 0x03, kCtrlD = 0x04;
inline constexpr char kCtrlE = 0x05, kCtrlF = 0x06, kCtrlG = 0x07, kCtrlI = 0x09;
inline constexpr char kCtrlK = 0x0B, kCtrlN = 0x0E, kCtrlO = 0x0F, kCtrlP = 0x10;
inline constexpr char kCtrlR = 0x12, kCtrlT = 0x14, kCtrlV = 0x16, kCtrlX = 0x18;
inline constexpr char kCtrlY = 0x19, kCtrlZ = 0x1A;
}  // namespace zimo::cardsim::ctrl
