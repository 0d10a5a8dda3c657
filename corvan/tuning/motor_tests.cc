// The conventions of the motor set-up tests: the process's test record and
// what is pending, the test program's reads and control characters, the
// feedback-table search, the node test, the compensated duty and the start
// sequence.
#include "tuning/motor_tests.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "corvan/command_api.h"
#include "link/library_app.h"

namespace zimo::corvan::tuning {
namespace {

struct Pending {
  bool pending = false;
  bool complete = false;
  int device = -1;
};

MotorTestSavedState saved_state;
std::array<Pending, 3> pending_tests;

Pending& PendingOf(MotorTestKind kind) { return pending_tests[static_cast<std::size_t>(kind)]; }

bool IsErrorReply(std::uint32_t status) { return (status & kStatusMask) == kStatusCardError; }

}  // namespace

MotorTestSavedState& SavedMotorTest() { return saved_state; }

void MarkMotorTestPending(MotorTestKind kind, int device, bool complete) {
  Pending& p = PendingOf(kind);
  p.pending = true;
  p.complete = complete;
  p.device = device;
}

bool MotorTestPending(MotorTestKind kind, int device) {
  const Pending& p = PendingOf(kind);
  return p.pending && p.device == device;
}

bool MotorTestComplete(MotorTestKind kind, int device) {
  return MotorTestPending(kind, device) && PendingOf(kind).complete;
}

void ClearMotorTest(MotorTestKind kind) { PendingOf(kind) = Pending{}; }

void ResetMotorTests() {
  saved_state = MotorTestSavedState{};
  pending_tests = {};
}

bool TestProgram::ReadI(std::uint32_t number, std::int32_t* value) {
  *value = 0;
  if (!Line("I%u", number)) return false;
  if (IsErrorReply(status())) return true;
  // A card that names the variable answers "I10=3713707".
  const char* text = std::strchr(reply(), '=');
  text = text != nullptr ? text + 1 : reply();
  *value = VariableTextToLong(text);
  return true;
}

bool TestProgram::Char(char character) {
  if (!ok()) return false;
  card_.send_char(character);
  return true;
}

bool TestProgram::Flush() {
  if (!ok()) return false;
  card_.flush();
  return true;
}

TestProgram::Search TestProgram::SearchFeedbackTable(std::uint32_t* position, bool* at_end,
                                                     const std::int32_t* match) {
  for (std::uint32_t address = kFeedbackTableStart; address <= kFeedbackTableLast; ++address) {
    if (!Line("RY:$%x", address)) return Search::kFailed;
    // An empty or error reply is no word: taking it for the end would put
    // entries over the first ones of the table.
    if (IsErrorReply(status()) || reply()[0] == '\0') return Search::kUnreadable;
    bool stop = false;
    bool end = false;
    if (match == nullptr) {
      end = stop = std::atof(reply()) == 0.0;
    } else {
      const long word = std::atol(reply());
      end = word == 0;
      stop = end || word == *match;
    }
    if (stop) {
      *position = address;
      if (at_end != nullptr) *at_end = end;
      return Search::kFound;
    }
  }
  return Search::kUnreadable;
}

bool TestProgram::StartSequence(const char* start_line) {
  Char(11);  // control-K: kill all motors
  for (int m = 1; m <= 8; ++m) {
    Line("I%d00=0", m);
    Line("I%d01=0", m);
  }
  Char(4);  // control-D: disable all PLCs
  Line("%s", start_line);
  return ok();
}

std::int32_t NodeExponentOffset(std::int32_t in25) { return in25 - 0x160000 - 0xF70; }

std::int32_t NodeExponentMasked(std::int32_t in25) { return (in25 & 0xF7F) - 0xF70; }

std::int32_t NodeValue(std::int32_t exponent, std::int32_t i1002) {
  if (exponent < 0 || exponent > 31) return 0;
  return static_cast<std::int32_t>((std::uint32_t{1} << exponent) &
                                   static_cast<std::uint32_t>(i1002));
}

float CompensatedDuty(float duty, std::int32_t dead, std::int32_t pwm) {
  // An unset PWM variable would make the duty infinite on every drive line.
  if (pwm == 0) return duty;
  return static_cast<float>(static_cast<double>(duty) + static_cast<double>(dead) * 250.0 / pwm);
}

bool ReadCompensatedDuty(TestProgram& program, bool varlo, int motor, float duty, float* out) {
  std::uint32_t dead_var = 908, pwm_var = 905;
  if (varlo) {
    dead_var = 994;
    pwm_var = 992;
  } else if (motor <= 4) {
    dead_var = 904;
    pwm_var = 900;
  }
  std::int32_t dead = 0, pwm = 0;
  if (!program.ReadI(dead_var, &dead) || !program.ReadI(pwm_var, &pwm)) return false;
  *out = CompensatedDuty(duty, dead, pwm);
  return true;
}

std::uint32_t OutputScaleVariable(bool compact_or_node, int motor) {
  if (compact_or_node) return 992;
  return motor <= 4 ? 900 : 906;
}

}  // namespace zimo::corvan::tuning
