// The control characters of the card's text protocol, as the library sends
// and reads them: a reply ends with ACK (or BEL and an error text), a line
// with CR (LF before it on some links), an unsolicited message starts with
// STX; the Ctrl characters are the card's one-character commands and
// answers (Ctrl-X clears the card's output, Ctrl-N asks for its line sum).
#pragma once

namespace zimo::corvan {

inline constexpr char kStx = 0x02;
inline constexpr char kCtrlD = 0x04;
inline constexpr char kAck = 0x06;
inline constexpr char kBel = 0x07;
inline constexpr char kLf = 0x0A;
inline constexpr char kCr = 0x0D;
inline constexpr char kCtrlN = 0x0E;
inline constexpr char kCtrlO = 0x0F;
inline constexpr char kCtrlR = 0x12;
inline constexpr char kCtrlT = 0x14;
inline constexpr char kCtrlX = 0x18;
inline constexpr char kCtrlZ = 0x1A;

}  // namespace zimo::corvan
