// Current-loop step tests: a step of one motor's current command, run by
// PLC 31 on the card while the card gathers the response, for a brushless
// motor (direct current, In77) or a brush motor (the output word in open
// loop). The test saves the I-variables it changes; RestoreModifiedIvars
// writes them back once the client has collected the gathered data.
//
// Every line goes through one exchange. Once an exchange times out or
// fails, nothing more is sent and the test returns 0; what it changed up to
// there stays restorable. Reads that get no number are not saved, so the
// restore never writes a value it did not read.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "corvan/command_api.h"
#include "corvan/gather_api.h"
#include "corvan/internal/shared_table.h"
#include "corvan/tuning_api.h"
#include "link/library_app.h"
#include "link/variables.h"
#include "platform/clock.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {
namespace {

constexpr int kMotors = 8;
constexpr int kGatherSources = 24;
// Completion poll: reads of one answer to "P1019", and the bound beyond the
// dwell (the program's first wait is 1 s, then 5 s of grace).
constexpr int kPollReads = 1000;
constexpr std::int64_t kPollBoundMs = 1000 + 5000;

bool ValidMotor(int motor) { return motor >= 1 && motor <= kMotors; }

// Address texts of the brush test's gather sources, by mask bit: the
// output word, the actual position and the quadrature current of motors 1
// to 8.
const char* const kBrushSources[kGatherSources] = {
    "X:$49", "X:$85", "X:$c1", "X:$fd", "X:$139", "X:$175", "X:$1B1", "X:$1ED",
    "D:$2B", "D:$67", "D:$A3", "D:$DF", "D:$11B", "D:$157", "D:$193", "D:$1CF",
    "X:$44", "X:$80", "X:$bc", "X:$f8", "X:$134", "X:$170", "X:$1ac", "X:$1e8",
};

struct SavedLong {
  bool read = false;
  std::int32_t value = 0;
};
struct SavedDouble {
  bool read = false;
  double value = 0;
};

// What the last test of the process changed (one test at a time).
struct SavedState {
  bool valid = false;
  int device = -1;
  int motor = 0;
  SavedDouble gains[3];        // In61, In62, In76
  SavedLong commutation_size;  // In71
  SavedLong direct_current;    // In77
  SavedLong i8;
  SavedLong i10;
  bool compact = false;
  SavedLong clock_divider;               // I901 (I997 on the compact card)
  SavedLong phase_divider;               // I902 (I998)
  SavedLong activation[kMotors + 1][2];  // Im00, Im01 of the other motors
};

constexpr int kGainNumbers[3] = {61, 62, 76};

SavedState& Saved() {
  static SavedState state;
  return state;
}

// The number a variable reply holds: the text after '=' when the card
// names the variable, else the whole reply. False when it holds none.
const char* ValueText(const char* reply) {
  const char* named = std::strchr(reply, '=');
  const char* text = named != nullptr ? named + 1 : reply;
  const char c = text[0];
  const bool number = (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == '$';
  return number ? text : nullptr;
}

// Asks for I-variable `number` in one exchange. False once the card is lost;
// with the card still answering, `out` is marked read only when a number
// came.
bool ReadLong(ProgramWriter& w, int number, SavedLong* out) {
  *out = SavedLong{};
  if (!w.Line("I%d", number)) return false;
  if ((w.status() & kStatusMask) != kStatusAck) return true;
  if (const char* text = ValueText(w.reply())) *out = {true, VariableTextToLong(text)};
  return true;
}

bool ReadDouble(ProgramWriter& w, int number, SavedDouble* out) {
  *out = SavedDouble{};
  if (!w.Line("I%d", number)) return false;
  if ((w.status() & kStatusMask) != kStatusAck) return true;
  if (const char* text = ValueText(w.reply())) *out = {true, VariableTextToDouble(text)};
  return true;
}

// A line the card answers without ACK (the test has set I3=0): its exchange
// ends by time-out, which is expected here; a failing transport is not.
bool Unacknowledged(TuningCard& card, const char* line) {
  char reply[kReplyMax + 1] = {};
  const std::uint32_t status = card.path.GetResponseEx(card.device, reply, kReplyMax, line);
  return (status & kStatusMask) != kStatusFailure;
}

enum class PollResult { kDone, kTimedOut, kLost };

// Asks "P1019" until the card answers 1, within 1 s + dwell + 5 s.
PollResult PollCompletion(TuningCard& card, int dwell_ms) {
  platform::Clock& clock = platform::CurrentClock();
  const auto deadline =
      clock.Now() + std::chrono::milliseconds(kPollBoundMs + std::max(dwell_ms, 0));
  bool answered = false;
  char reply[kReplyMax + 1];
  while (clock.Now() < deadline) {
    if (!card.send_line("P1019")) return PollResult::kLost;
    std::uint32_t count = 0;
    for (int i = 0; i < kPollReads && count == 0 && clock.Now() < deadline; ++i) {
      count = card.path.GetLine(card.device, reply, kReplyMax);
    }
    if (count == 0) continue;
    answered = true;
    reply[std::min<std::uint32_t>(count, kReplyMax)] = '\0';
    const char* named = std::strchr(reply, '=');
    if (std::atoi(named != nullptr ? named + 1 : reply) == 1) return PollResult::kDone;
  }
  return answered ? PollResult::kTimedOut : PollResult::kLost;
}

// The brush test's own gather set-up: clears the 24 sources, then gives
// each set mask bit the next source, under the command lock.
void BrushGather(TuningCard& card, std::uint32_t mask) {
  CommandPathLock lock(card.path, card.device);
  for (int s = 0; s < kGatherSources; ++s) card.set_gather(static_cast<std::uint32_t>(s), "", 0);
  std::uint32_t next = 0;
  for (int bit = 0; bit < 32 && next < kGatherSources; ++bit) {
    if ((mask >> bit & 1u) == 0 || bit >= kGatherSources) continue;
    card.set_gather(next++, kBrushSources[bit], 1);
  }
}

// The step program PLC 31 (with the position-limit watchdog PLC 30, and for
// a brush motor PLC 29, which holds the motor's second output at 0).
bool DownloadStepProgram(TuningCard& card, ProgramWriter& w, const CurrentLoopStep& s, bool brush) {
  const int n = s.motor;
  const unsigned base = 60u * static_cast<unsigned>(n - 1);
  w.Line("M0->x:0,24");
  w.Line("M90->Y:$700,0,24,S");
  w.Line("M%d71->X:$%x,0,24,S", n, 64 + base);
  if (brush) w.Line("M%d82->Y:$%x,0,24,S", n, 70 + base);
  w.Line("M1023->x:$07F0,24");
  w.Line("M1022->x:$07F1,24");
  w.Line("M1020->X:$0003,18");
  w.Line("M1019->X:$0003,19");
  if (brush) w.Line("M%d19->X:$%x,4,20", n, 58 + base);
  w.Line("P1022=%d", s.dwell_ms);
  w.Line("ENDG I48=0");
  w.Line("ENDG I48=0");
  w.Line("DEL GAT");
  w.Line("DELETE TRACE");
  if (!w.ok() || DownloadPosLimitPLC(card.path, card.device, n) != 1) return false;

  w.Line("OPEN PLC 31 CLEAR");
  if (!brush) {
    w.Line("P%d79=I%d79", n, n);
    w.Line("I%d79=%f", n, static_cast<double>(s.duty_percent) * 327.67);
  }
  w.Line("M90=%d*8388608/I10", 1000);
  w.Line("WHILE (M90>0 and P996=-1)");
  w.Line("ENDWHILE");
  if (brush) {
    w.Line("I%d79=0 I%d29=0", n, n);
  } else {
    w.Line("M%d71=0", n);
    w.Line("I%d79=P%d79", n, n);
  }
  w.Line("P1021=P1022*8388608/I10");
  w.Line("M1020=1");
  w.Line("M1019=1");
  if (brush) {
    w.Line("M%d19=P1018", n);
  } else {
    w.Line("I%d77=P1018", n);
  }
  w.Line("M1023=M0");
  w.Line("M1022=M0-M1023");
  w.Line("WHILE(M1022<P1021)");
  w.Line("M1022=M0-M1023");
  w.Line("ENDWHILE");
  w.Line("M1019=0");
  if (brush) {
    w.Line("M1020=0");
    w.Line("P1019=1");
    w.Line("M%d19=0", n);
    w.Line("M%d14=0", n);
  } else {
    w.Line("P1019=1");
    w.Line("I%d77=0", n);
  }
  w.Line("DIS PLC 31");
  w.Line("CLS");
  if (brush) {
    w.Line("OPEN PLC 29 CLEAR");
    w.Line("M%d82=0", n);
    w.Line("CLS");
  }
  return w.ok();
}

// Shortens the servo clock for the step: reads the clock dividers and I10,
// sets the new phase divider and I10, and writes the sample time. False when
// the card is lost or a value cannot be read or used (then no clock is
// changed).
bool SetStepClock(ProgramWriter& w, SavedState& saved, bool compact, char* sample_time) {
  const int clock_number = compact ? 992 : 900;
  const int divider_number = compact ? 997 : 901;
  const int phase_number = compact ? 998 : 902;
  SavedLong clock;
  if (!ReadLong(w, divider_number, &saved.clock_divider) ||
      !ReadLong(w, phase_number, &saved.phase_divider) || !ReadLong(w, clock_number, &clock)) {
    return false;
  }
  if (!saved.clock_divider.read || !saved.phase_divider.read || !clock.read) return false;
  const double cycles = 2.0 * clock.value + 3.0;
  const double dividers = static_cast<double>(saved.clock_divider.value) + 1.0;
  const std::int64_t old_phase = static_cast<std::int64_t>(saved.phase_divider.value) + 1;
  if (cycles <= 0 || dividers <= 0 || old_phase <= 0) return false;
  const double rate = 117964.8 / cycles / dividers;
  const auto phase = static_cast<std::int32_t>(rate / 9.1);
  if (!w.Line("I%d=%ld", phase_number, static_cast<long>(phase))) return false;

  if (!ReadLong(w, 10, &saved.i10)) return false;
  if (!saved.i10.read) return false;
  // The product can pass 32 bits.
  const std::int64_t i10 = static_cast<std::int64_t>(saved.i10.value) * (phase + 1) / old_phase;
  if (i10 < 0 || i10 > std::numeric_limits<std::int32_t>::max()) return false;
  if (!w.Line("I10=%ld", static_cast<long>(i10))) return false;

  if (sample_time != nullptr) {
    std::snprintf(sample_time, ZIMO_SAMPLE_TIME_TEXT_SIZE, "%lf", cycles * dividers / 1.179648e8);
  }
  return true;
}

int RunStep(TuningCard& card, const CurrentLoopStep& s, char* sample_time, bool brush) {
  // The step programs and gather addresses are the older card map's; the
  // newer generation (by its flag or a type code of 5 and above) is refused.
  if (card.spran || card.card_type >= 5 || !ValidMotor(s.motor)) return 0;
  if (s.autotune && s.divisor < 1) return 0;
  const int n = s.motor;
  // The brushless test keeps other processes off the card for its whole run.
  std::optional<CommandPathLock> lock;
  if (!brush) lock.emplace(card.path, card.device);

  SavedState& saved = Saved();
  saved = SavedState{};
  saved.valid = true;
  saved.device = card.device;
  saved.motor = n;
  saved.compact = s.compact;

  ProgramWriter w(card.path, card.device);
  w.Line("ENDG I48=0");
  w.Line("ENDG I48=0");
  w.Line("DELETE GATHER");
  w.Line("DELETE TRACE");
  if (!w.ok()) return 0;

  const unsigned bit = static_cast<unsigned>(n - 1);
  // The mask is the process's last quick-gather mask, as the position moves
  // and the autotuning downloads keep it.
  std::uint32_t& mask = LastQuickGatherMask();
  if (brush) {
    mask = MotorGatherMask(n);
    BrushGather(card, mask);
  } else {
    mask = 1u << bit | 1u << (bit + 8) | 1u << (bit + 24);
    card.direct_current_gather(mask, 1);
  }
  if (!DownloadStepProgram(card, w, s, brush)) return 0;

  // The other seven motors, from the next one round: killed and
  // deactivated.
  for (int k = 1; k < kMotors; ++k) {
    const int m = (n - 1 + k) % kMotors + 1;
    if (!ReadLong(w, m * 100, &saved.activation[m][0]) ||
        !ReadLong(w, m * 100 + 1, &saved.activation[m][1])) {
      return 0;
    }
    w.Line("#%dK I%d00=0 I%d01=0", m, m, m);
  }
  w.Line("#%dK", n);
  w.Line("I%d00=1 I%d01=1", n, n);
  for (int g = 0; g < 3; ++g) {
    if (!ReadDouble(w, n * 100 + kGainNumbers[g], &saved.gains[g])) return 0;
  }
  if (!ReadLong(w, n * 100 + 71, &saved.commutation_size) ||
      !ReadLong(w, n * 100 + 77, &saved.direct_current) || !ReadLong(w, 8, &saved.i8)) {
    return 0;
  }
  w.Line("#%dO0 I8=15", n);
  w.Line(brush ? "I%d77=0 I%d71=4" : "I%d77=0 I%d71=1", n, n);
  if (!w.ok() || !SetStepClock(w, saved, s.compact, sample_time)) return 0;

  if (s.autotune) {
    w.Line("I%d61=0", n);
    w.Line("I%d76=0", n);
    w.Line("I%d62=0.25/%d", n, s.divisor);
  }
  w.Line("P1018=%ld", static_cast<long>(s.magnitude));
  w.Line("P1019=0");
  w.Line("ENDG I48=0");
  w.Line("ENDG I48=0");
  w.Line("DEF GAT");
  w.Line("GAT");
  w.Line("ENDG I48=0");
  if (brush) w.Line("DEL GAT");
  w.Line("DEF GAT");
  w.Line("DISABLE PLC 0..31");
  w.Line("I3=0 I5=2 I6=1 I19=1 I63=1I64=1");
  if (!w.ok()) return 0;

  // From here the card answers without ACK until I3 is 2 again.
  char line[kCommandSize];
  if (brush) {
    std::snprintf(line, sizeof line, "#%dO0ENA PLC 31 ENA PLC29", n);
    if (!Unacknowledged(card, line)) return 0;
  } else {
    std::snprintf(line, sizeof line, "#%dO0", n);
    if (!Unacknowledged(card, line) || !card.send_line("ENA PLC 31")) return 0;
    char reply[kReplyMax + 1];
    card.path.GetLine(card.device, reply, kReplyMax);
  }
  const PollResult poll = PollCompletion(card, s.dwell_ms);
  if (poll == PollResult::kLost) return 0;
  // Back to ACK-ended responses; sent in the form the card answers it (none).
  if (!card.send_line("I3=2")) return 0;
  if (brush) {
    w.Line("M1019=0");
    w.Line("M1020=0");
    w.Line("ENDGAT");
  }
  return poll == PollResult::kDone && w.ok() ? 1 : 0;
}

}  // namespace

int DoACurrentLoopStep(TuningCard& card, const CurrentLoopStep& step, char* sample_time) {
  return RunStep(card, step, sample_time, false);
}

int DoACurrentLoopStepBrush(TuningCard& card, const CurrentLoopStep& step, char* sample_time) {
  return RunStep(card, step, sample_time, true);
}

int RestoreModifiedIvars(TuningCard& card, int motor) {
  const SavedState& saved = Saved();
  if (!saved.valid || saved.device != card.device || saved.motor != motor) return 0;
  const int n = motor;
  ProgramWriter w(card.path, card.device);
  for (int g = 0; g < 3; ++g) {
    if (saved.gains[g].read) w.Line("I%d=%lf", n * 100 + kGainNumbers[g], saved.gains[g].value);
  }
  auto put = [&w](int number, const SavedLong& value) {
    if (value.read) w.Line("I%d=%ld", number, static_cast<long>(value.value));
  };
  put(n * 100 + 71, saved.commutation_size);
  put(n * 100 + 77, saved.direct_current);
  put(10, saved.i10);
  put(saved.compact ? 997 : 901, saved.clock_divider);
  put(saved.compact ? 998 : 902, saved.phase_divider);
  for (int m = 1; m <= kMotors; ++m) {
    if (m == n) continue;
    put(m * 100, saved.activation[m][0]);
    put(m * 100 + 1, saved.activation[m][1]);
  }
  put(8, saved.i8);
  return w.ok() ? 1 : 0;
}

void ForgetCurrentLoopTest() { Saved() = SavedState{}; }

}  // namespace zimo::corvan::tuning

namespace {

zimo::corvan::tuning::CurrentLoopStep StepArguments(std::int16_t motor, std::int16_t dwell,
                                                    std::int32_t magnitude, std::int16_t autotune,
                                                    float duty, std::int16_t divisor,
                                                    std::int16_t compact) {
  return {motor, dwell, magnitude, autotune != 0, duty, divisor, compact != 0};
}

}  // namespace

extern "C" {

std::int32_t DoACurrentLoopStep(std::uint32_t device, std::int16_t motor, std::int16_t dwell,
                                std::int32_t magnitude, std::int16_t autotune, char* sample_time,
                                float duty, std::int16_t divisor, std::int16_t compact) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::DoACurrentLoopStep(
      card, StepArguments(motor, dwell, magnitude, autotune, duty, divisor, compact), sample_time);
}

std::int32_t DoACurrentLoopStepBrush(std::uint32_t device, std::int16_t motor, std::int16_t dwell,
                                     std::int32_t magnitude, std::int16_t autotune,
                                     char* sample_time, float duty, std::int16_t divisor,
                                     std::int16_t compact) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::DoACurrentLoopStepBrush(
      card, StepArguments(motor, dwell, magnitude, autotune, duty, divisor, compact), sample_time);
}

std::int32_t RestoreModifiedIvars(std::uint32_t device, std::int16_t motor) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::RestoreModifiedIvars(card, motor);
}

}  // extern "C"
