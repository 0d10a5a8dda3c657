// The lab program's one road to the card. Every exchange of the settings,
// the dialogs and the runs goes through a CommandPath; the shell puts the
// communication control behind it, tests put a recording fake there
// (labprog/testing/recording_command_path.h).
//
// One name per value: `ReplyText` is the shared reply variable (the other
// windows call it the controller reply) and `LastLinkStatus` the shared
// status word (also called the last reply status).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zimo::labprog {

class CommandPath {
 public:
  virtual ~CommandPath() = default;

  // -1 after the card answered the connection check, 0 in demonstration
  // mode. While it is 0 the link functions send nothing and leave every
  // reply variable as it was.
  int16_t OnlineFlag = 0;
  // The shared reply variable for callers without one of their own. Offline
  // it keeps whatever it last held: read a fresh variable where a stale
  // reply would be taken for an answer.
  std::string ReplyText;
  // The result of the last exchange; windows also park message-box answers
  // and helper-library results here.
  int16_t LastLinkStatus = 0;

  // Online: sends `command`, puts the card's whole reply (without its
  // trailing carriage return) into `reply` and the result into
  // LastLinkStatus. Offline: nothing.
  virtual void SendControllerCommand(std::string& reply, std::string_view command) = 0;
  // Online: one reply line (at most 255 characters) into `line`; -1 when a
  // non-empty line was read, 0 when none was waiting; also in
  // LastLinkStatus. Offline: 0 and `line` unchanged.
  virtual int16_t ReadControllerLine(std::string& line) = 0;
  // Online: sends a line without reading a reply (before a listing).
  virtual void SendControllerLine(std::string_view command) = 0;
  // Online: control-X, then the link's input is dropped.
  virtual void ClearControllerBuffer() = 0;
  // Looks for the card again as at start-up; true (and OnlineFlag -1) when
  // it answered.
  virtual bool ConnectController() = 0;
};

}  // namespace zimo::labprog
