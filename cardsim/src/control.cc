// The control characters the card answers on its own, without a CR: a table
// of what each one does and whether a line comes back.
#include <algorithm>
#include <cmath>
#include <string>

#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {
// Motors and coordinate systems the one-line reports cover.
constexpr int kReported = 8;

enum class Answer { kLine, kAckOnly, kNothing, kFlush };

struct ControlEntry {
  char c;
  Answer answer;
};

// Characters not listed answer with ACK alone.
constexpr ControlEntry kControlTable[] = {
    {0x02, Answer::kLine},     // ^B: status words of the motors
    {0x03, Answer::kLine},     // ^C: status words of the coordinate systems
    {0x06, Answer::kLine},     // ^F: following errors of the motors
    {0x07, Answer::kLine},     // ^G: global status words
    {0x10, Answer::kLine},     // ^P: positions of the motors
    {0x11, Answer::kNothing},  // XON
    {0x13, Answer::kNothing},  // XOFF
    {0x16, Answer::kLine},     // ^V: velocities of the motors
    {0x18, Answer::kFlush},    // ^X: flush, echoed
    {0x19, Answer::kLine},     // ^Y: the last command line again
    {0x1A, Answer::kNothing},  // ^Z: serial wake-up
};

Answer AnswerOf(char c) {
  for (const ControlEntry& e : kControlTable) {
    if (e.c == c) return e.answer;
  }
  return Answer::kAckOnly;
}
}  // namespace

Reply Interpreter::Control(char c) {
  Reply reply;
  reply.control = true;
  int reported = std::min(kReported, motors_.count());
  std::string line;
  auto add = [&line](const std::string& item) {
    if (!line.empty()) line += ' ';
    line += item;
  };
  switch (c) {
    case 0x01:  // ^A: stop all motion
      motors_.StopAll();
      break;
    case 0x02:
      for (int m = 1; m <= reported; ++m) add(MotorStatusText(m));
      break;
    case 0x03:
      for (int cs = 1; cs <= kReported; ++cs) add(CoordStatusText(cs));
      break;
    case 0x04:  // ^D: disable all PLC programs
      SetPlcEnabled(0);
      break;
    case 0x06:
      for (int m = 1; m <= reported; ++m) {
        add(Variables::Format(std::round(motors_.FollowingError(m) * 10) / 10));
      }
      break;
    case 0x07:
      add(GlobalStatusText());
      break;
    case 0x0B:  // ^K: kill all motors, which ends every motion program
      for (auto& [coord, state] : cs_) {
        if (state.running) StopProgram(coord);
      }
      motors_.KillAll();
      break;
    case 0x10:
      for (int m = 1; m <= reported; ++m) {
        add(Variables::Format(std::round(motors_.Position(m) * 10) / 10));
      }
      break;
    case 0x16:
      for (int m = 1; m <= reported; ++m) {
        add(Variables::Format(std::round(motors_.Velocity(m) * 1000) / 1000));
      }
      break;
    case 0x18:  // ^X: the current line and pending output are dropped
      break;
    case 0x19:
      line = last_line_;
      break;
    default:
      break;
  }
  switch (AnswerOf(c)) {
    case Answer::kLine:
      reply.lines.push_back(line);
      break;
    case Answer::kAckOnly:
      break;
    case Answer::kNothing:
      reply.ack = false;
      break;
    case Answer::kFlush:
      reply.ack = false;
      reply.flushed = true;
      break;
  }
  return reply;
}

}  // namespace zimo::cardsim
