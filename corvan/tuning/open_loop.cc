// The open-loop tests: a PLC 31 that drives the motor's open-loop output
// with timed pulses (alternating or positive only) while the card gathers,
// a temporary feedback-table entry that the motor's In03 points at during
// the test, and the program's own closing lines that put both back.
#include "tuning/open_loop.h"

#include <algorithm>
#include <cstdint>

#include "corvan/command_api.h"
#include "corvan/gather_api.h"
#include "corvan/tuning_api.h"
#include "link/library_app.h"

namespace zimo::corvan::tuning {
namespace {

constexpr char kQuote = '"';

// The first-generation card's commanded position (D), actual position and
// output words (X) of motors 1 to 8, gathered as sources 0 to 2.
constexpr const char* kFirstGenerationSources[8][3] = {
    {"D:$2B", "X:$33", "X:$45"},    {"D:$67", "X:$6F", "X:$81"},    {"D:$A3", "X:$AB", "X:$BD"},
    {"D:$DF", "X:$E7", "X:$F9"},    {"D:$11B", "X:$123", "X:$135"}, {"D:$157", "X:$15f", "X:$171"},
    {"D:$193", "X:$19B", "X:$1AD"}, {"D:$1CF", "X:$1D7", "X:$1E9"},
};

// What a download that was cut off left changed on the card, for the next
// open-loop download on the device to put back before it starts: the PLC
// buffer left open, the temporary feedback entry and the motor's In03.
struct LeftBehind {
  bool pending = false;
  int device = -1;
  bool buffer_open = false;
  bool entry = false;
  std::uint32_t end_word = 0;
  int motor = 0;
  std::uint32_t in03 = 0;
};
LeftBehind left_behind;

// Puts back what a cut-off download left; false when the card still does
// not answer (it stays to be put back).
bool PutBack(TestProgram& p, int device) {
  LeftBehind& l = left_behind;
  if (!l.pending || l.device != device) return true;
  if (l.buffer_open) p.Line("CLS");
  if (l.entry) {
    p.Line("WY:$%x,0", l.end_word);
    p.Line("I%d03=$%x", l.motor, l.in03);
  }
  if (!p.ok()) return false;
  l = LeftBehind{};
  return true;
}

// The output of the motor's open loop: 20 bits from bit 4 of X:$3A, $3C
// words a motor.
std::uint32_t OutputWord(int motor) { return 0x3A + 0x3C * static_cast<std::uint32_t>(motor - 1); }

void DefineWords(TestProgram& p, int n) {
  p.Line("M0->X:0,24");
  p.Line("M1023->X:$07F0,24");
  p.Line("M1022->X:$07F1,24");
  p.Line("M1021->X:$0003,18");
  p.Line("M1020->X:$0003,19");
  p.Line("M1019->X:$%x,4,20", OutputWord(n));
}

// One timed interval: the output line, then a wait of `length` servo
// cycles counted on the card's cycle counter.
void Interval(TestProgram& p, const char* output, const char* length) {
  p.Line("%s", output);
  p.Line("M1023=M0");
  p.Line("M1022=M0-M1023");
  p.Line("WHILE (M1022<%s)", length);
  p.Line("M1022=M0-M1023");
  p.Line("ENDWHILE");
}

// The pulse program as PLC 31, up to its closing lines (which differ by
// test).
void WritePulses(TestProgram& p, OpenLoopKind kind, const OpenLoopRequest& r) {
  p.Line("OPEN PLC 31 CLEAR");
  p.Line("ENABLE PLC 30");
  p.Line("M1020=1");
  p.Line("M1019=1");
  p.Line("M1021=1");
  p.Line("M1020=1");
  p.Line("P1020=%d*8388608/I10", r.time);
  const bool rests = kind == OpenLoopKind::kPositive || r.gather_currents != 0;
  p.Line("P1019=%d*8388608/I10", rests ? r.time : 0);
  p.Line("P1021=0");
  if (r.repetitions >= 1) {
    p.Line("WHILE (P1021<%d)", r.repetitions);
  } else {
    p.Line("WHILE (P1021=0)");
  }
  if (kind == OpenLoopKind::kPositive) {
    Interval(p, "M1019=P1022", "P1020");
    p.Line("M1019=0");
  } else {
    Interval(p, "M1019=P1022", "P1020");
    Interval(p, "M1019=0", "P1019");
    Interval(p, "M1019=-P1022", "P1020");
    Interval(p, "M1019=0", "P1019");
  }
  if (r.repetitions > 0) p.Line("P1021=P1021+1");
  p.Line("ENDWHILE");
  p.Line("M1019=0");
  p.Line("M1020=0");
  p.Line("P1018=0");
  p.Line("P996=123");
  p.Line("DIS PLC 31");
  p.Line("DIS PLC 30");
}

}  // namespace

void ResetOpenLoopTests() { left_behind = LeftBehind{}; }

std::int32_t OpenLoopAmplitude(std::int32_t in69, int magnitude) {
  // Wrapping 150 % of 32000 to 16 bits would give -17536 and drive the
  // motor the wrong way: the amplitude is held to the 16-bit range.
  const std::int64_t amplitude = static_cast<std::int64_t>(in69) * magnitude / 100;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(amplitude, -32768, 32767));
}

int DownloadOpenLoopTest(const TuningCard& card, OpenLoopKind kind, const OpenLoopRequest& r) {
  // The program and the gather addresses are those of the older card map:
  // on the newer generation they would write into unrelated memory. A motor
  // outside 1 to 8 would make "I%d00" a card-wide variable (I900 the PWM
  // frequency).
  if (card.spran || !ValidTestMotor(r.motor)) return 0;
  const int n = r.motor;
  MotorTestSavedState& s = SavedMotorTest();
  TestProgram p(card);
  if (!PutBack(p, card.device)) return 0;
  LeftBehind& l = left_behind;

  if (kind == OpenLoopKind::kFirstGeneration) {
    DefineWords(p, n);
    if (!p.ok()) return 0;
    for (std::uint32_t source = 0; source < 3; ++source) {
      card.set_gather(source, kFirstGenerationSources[n - 1][source], 1);
    }
  } else {
    std::uint32_t end = 0;
    if (p.SearchFeedbackTable(&end) != TestProgram::Search::kFound) return 0;
    std::int32_t in03 = 0, in83 = 0;
    if (!p.ReadI(Var(n, 3), &in03) || !p.ReadI(Var(n, 83), &in83)) {
      return 0;
    }

    // From here on the card changes until the program's closing lines run.
    l = LeftBehind{true, card.device, false, true, end, n, static_cast<std::uint32_t>(in03)};
    if (r.varlo == 0) {
      p.Line("WY:$%x,$00%x,0", end, static_cast<std::uint32_t>(in83 - 1));
      p.Line("I%d03=%d", n, static_cast<int>(end));
    } else {
      if (s.nodeBit != 0) {
        p.Line("WY:$%x,$%06lx,$FFFFFF,0", end, 4ul * static_cast<unsigned long>(n) + 0x28C09Cul);
      } else {
        p.Line("WY:$%x,$%06lx,$1FFE0,0", end,
               0x2C003Ful + 0x3Cul * static_cast<unsigned long>(n - 1));
      }
      p.Line("I%d03=%d", n, static_cast<int>(end + 1));
    }

    std::int32_t in69 = 0;
    if (!p.ReadI(Var(n, 69), &in69)) return 0;
    const std::int32_t amplitude = OpenLoopAmplitude(in69, r.magnitude);
    DefineWords(p, n);
    if (!p.ok()) return 0;

    s.gatherMask = MotorGatherMask(n);
    if (r.gather_currents != 0) {
      card.current_gather(s.gatherMask, 1);
    } else {
      card.quick_gather(s.gatherMask, 1);
    }

    p.Line("ENDG I48=0");
    p.Line("ENDG I48=0");
    p.Line("DEL GAT");
    p.Line("DELETE TRACE");
    p.Line("I19=5");
    if (!p.ok() || DownloadPosLimitPLC(card.path, card.device, n) != 1) return 0;

    l.buffer_open = true;
    WritePulses(p, kind, r);
    p.Line("cmd%cWY:$%x,0%c", kQuote, end, kQuote);
    p.Line("I%d03=$%x", n, static_cast<std::uint32_t>(in03));
    p.Line("CLS");
    if (!p.ok()) return 0;
    l.buffer_open = false;

    p.Line("I%d00=1", n);
    p.Line("I%d01=1", n);
    p.Line("P1022=%f", static_cast<double>(amplitude));
    p.Line("P996=-1");
    p.Line("#%dO0", n);
    p.Line("DEFGAT I5=2 ENA PLC 31");
    if (!p.ok()) return 0;
    // The program runs and puts the entry and In03 back itself.
    l = LeftBehind{};
    return 1;
  }

  p.Line("ENDG I48=0");
  p.Line("ENDG I48=0");
  p.Line("DEL GAT");
  p.Line("DELETE TRACE");
  p.Line("I19=5");
  if (!p.ok() || DownloadPosLimitPLC(card.path, card.device, n) != 1) return 0;
  l = LeftBehind{true, card.device, true, false, 0, n, 0};
  WritePulses(p, kind, r);
  p.Line("CLS");
  if (!p.ok()) return 0;
  l = LeftBehind{};
  p.Line("I%d00=1", n);
  p.Line("P1022=%f", r.magnitude * 327.67);
  p.Line("P996=-1");
  p.Line("#%dO0", n);
  p.Line("DEFGAT I5=2 ENA PLC 31");
  return p.ok() ? 1 : 0;
}

}  // namespace zimo::corvan::tuning

namespace {

int OpenLoop(std::uint32_t device, zimo::corvan::tuning::OpenLoopKind kind, std::int16_t motor,
             std::int16_t magnitude, std::int16_t time, std::int16_t repetitions,
             std::int16_t gather_currents, std::int16_t varlo) {
  using namespace zimo::corvan::tuning;
  return DownloadOpenLoopTest(
      LibraryTuningCard(device), kind,
      OpenLoopRequest{motor, magnitude, time, repetitions, gather_currents, varlo});
}

}  // namespace

extern "C" {

std::int32_t DownloadOpenLoopTestProgram(std::uint32_t device, std::int16_t motor,
                                         std::int16_t magnitude, std::int16_t time,
                                         std::int16_t repetitions, std::int16_t gather_currents,
                                         std::int16_t varlo) {
  return OpenLoop(device, zimo::corvan::tuning::OpenLoopKind::kAlternating, motor, magnitude, time,
                  repetitions, gather_currents, varlo);
}

std::int32_t DownloadOpenLoopTestProgram1(std::uint32_t device, std::int16_t motor,
                                          std::int16_t magnitude, std::int16_t time,
                                          std::int16_t repetitions, std::int16_t gather_currents,
                                          std::int16_t varlo) {
  return OpenLoop(device, zimo::corvan::tuning::OpenLoopKind::kPositive, motor, magnitude, time,
                  repetitions, gather_currents, varlo);
}

std::int32_t DownloadOpenLoopTestProgramForZimo1(std::uint32_t device, std::int16_t motor,
                                                 std::int16_t magnitude, std::int16_t time,
                                                 std::int16_t repetitions,
                                                 std::int16_t gather_currents, std::int16_t varlo) {
  return OpenLoop(device, zimo::corvan::tuning::OpenLoopKind::kFirstGeneration, motor, magnitude,
                  time, repetitions, gather_currents, varlo);
}

}  // extern "C"
