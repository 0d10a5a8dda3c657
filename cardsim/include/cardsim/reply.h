// What the card answers to one command line or one control character,
// before any transport frames it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace zimo::cardsim {

// Card error numbers (the "nnn" of BEL "ERRnnn").
namespace card_error {
inline constexpr int kBadCommand = 3;        // data error or unrecognised command
inline constexpr int kCommunication = 4;     // a line overran the card's input buffer
inline constexpr int kNoBufferOpen = 5;      // needs an open buffer
inline constexpr int kBufferFull = 6;        // no room in the buffer
inline constexpr int kBufferInUse = 7;       // another buffer is open
inline constexpr int kRunning = 1;           // not allowed while a program runs
inline constexpr int kNoRingNode = 8;        // no station at that ring node
inline constexpr int kStructure = 9;         // a program's blocks do not match
inline constexpr int kOpenLoop = 12;         // a motor of the coordinate system is open loop
inline constexpr int kNotActivated = 13;     // a motor of the coordinate system is not activated
inline constexpr int kNoMotors = 14;         // no motor in the coordinate system
inline constexpr int kNoProgram = 15;        // no valid program buffer pointed to
inline constexpr int kBadStructureRun = 16;  // running a program whose blocks do not match
}  // namespace card_error

struct Reply {
  std::vector<std::string> lines;      // response lines, without terminators
  int error = 0;                       // card error number (ERRnnn), 0 = none
  bool ack = true;                     // the card ends the response with ACK
  bool silent = false;                 // nothing at all comes back (muted or not addressed)
  bool flushed = false;                // CTRL-X: the card echoes CTRL-X (mailbox status 24)
  bool control = false;                // the answer to a control character (I63 decides its ACK)
  std::chrono::microseconds delay{0};  // scripted: hold the reply back this long
};

}  // namespace zimo::cardsim
