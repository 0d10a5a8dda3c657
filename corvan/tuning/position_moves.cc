// Position-loop tests: a position step run by PLC 31 and a parabolic move
// run by motion program 999, for one motor or a gantry pair, each gathering
// the first motor's response; and the gantry parabolic program written
// alone. The card sets P996 to 123 when a profile is over.
#include <cstdio>
#include <cstring>

#include "corvan/command_api.h"
#include "corvan/gather_api.h"
#include "corvan/tuning_api.h"
#include "link/library_app.h"
#include "link/variables.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {
namespace {

bool ValidMotor(int motor) { return motor >= 1 && motor <= 8; }

// Commanded-position register of a motor: the older map steps 60 words a
// motor from 40, the newer generation 128 from 136.
unsigned OlderPositionAddress(int motor) { return 40u + 60u * static_cast<unsigned>(motor - 1); }
unsigned NewerPositionAddress(int motor) { return 136u + 128u * static_cast<unsigned>(motor - 1); }
// The motor status word (Y) whose bit 2 the moves define as M1014/M1015.
unsigned OlderMotorWord(int motor) { return 2068u + 192u * static_cast<unsigned>(motor - 1); }
unsigned NewerMotorWord(int motor) { return 192u + 128u * static_cast<unsigned>(motor - 1); }

bool Newer(const TuningCard& card) { return card.card_type >= 4; }

// I10 as the card gives it; 0 when it answers with an error or no number.
std::int32_t ReadServoTime(ProgramWriter& w) {
  if (!w.Line("I10")) return 0;
  if ((w.status() & kStatusMask) == kStatusCardError) return 0;
  const char* text = w.reply();
  if (const char* named = std::strchr(text, '=')) text = named + 1;
  return VariableTextToLong(text);
}

// What every move does first: stop gathering, drop the old buffer, set the
// gather period for the step time and gather the first motor.
void StartMove(TuningCard& card, ProgramWriter& w, int motor, int milliseconds, bool parabolic) {
  if (parabolic) {
    w.Line("ENDG I48=0");
  } else {
    w.Line("ENDG");
  }
  w.Line("ENDG I48=0");
  w.Line("DELETE GATHER");
  w.Line("DELETE TRACE");
  const std::int32_t i10 = ReadServoTime(w);
  w.Line("I19=%ld", static_cast<long>(StepGatherPeriod(i10, milliseconds)));
  if (w.ok()) QuickGatherMotor(card, motor);
}

}  // namespace

std::int32_t StepGatherPeriod(std::int32_t i10, int milliseconds) {
  // Servo cycles a millisecond (a whole number) times twice the step time,
  // over 400. A card that gives no servo time gets the shortest period
  // rather than a division by zero.
  const std::int64_t per_ms = i10 > 0 ? 8388608 / i10 : 0;
  std::int64_t period = per_ms * (2 * static_cast<std::int64_t>(milliseconds)) / 400;
  if (period < 1) period = 1;
  if (period > 2147483647) period = 2147483647;
  return static_cast<std::int32_t>(period);
}

namespace {

// The motors a move drives: one (second 0) or a gantry pair.
struct Motors {
  int first;
  int second;
  bool gantry() const { return second != 0; }
};

// "#aJ/" or "#aJ/#bJ/": the jog commands that close the motors' loops, in
// the order given.
struct JogText {
  char text[32];
};
JogText Jog(int a, int b) {
  JogText j{};
  if (b == 0) {
    std::snprintf(j.text, sizeof j.text, "#%dJ/", a);
  } else {
    std::snprintf(j.text, sizeof j.text, "#%dJ/#%dJ/", a, b);
  }
  return j;
}

// The position step's definitions. The single-motor and the gantry forms
// name the older map's scratch words in opposite orders, and the single
// form pads the older position address and adds the status bit M1014.
void StepDefinitions(ProgramWriter& w, bool newer, const Motors& m) {
  w.Line("M1023->*");
  w.Line("M0->X:0,24");
  if (newer) {
    // The newer map: its control bit, position registers and scratch words.
    w.Line("M1019->X:$0006,19");
    w.Line("M1018->D:$%x", NewerPositionAddress(m.first));
    if (m.gantry()) w.Line("M1008->D:$%x", NewerPositionAddress(m.second));
    w.Line("M1021->X:$10F1,24");
    w.Line("M1022->X:$10F0,24");
  } else if (m.gantry()) {
    w.Line("M1021->X:$07F1,24");
    w.Line("M1022->X:$07F0,24");
    w.Line("M1020->X:$0003,18");
    w.Line("M1019->X:$0003,19");
    w.Line("M1018->D:$%x", OlderPositionAddress(m.first));
    w.Line("M1008->D:$%x", OlderPositionAddress(m.second));
  } else {
    w.Line("M1022->X:$07F0,24");
    w.Line("M1021->X:$07F1,24");
    w.Line("M1020->X:$0003,18");
    w.Line("M1019->X:$0003,19");
    w.Line("M1018->D:$00%x", OlderPositionAddress(m.first));
    w.Line("M1014->Y:$%x,2,1", OlderMotorWord(m.first));
  }
}

// Position step: PLC 31 moves the commanded position by P1023 (and back
// when bidirectional), holding each for P1022 servo cycles, then reports
// the end in P996; the motors are jogged into closed loop, the gather
// started and the PLC enabled.
int PositionStep(TuningCard& card, const Motors& m, std::int32_t step, int milliseconds,
                 int bidirectional) {
  const bool newer = Newer(card);
  ProgramWriter w(card.path, card.device);
  StartMove(card, w, m.first, milliseconds, false);
  StepDefinitions(w, newer, m);
  w.Line("OPEN PLC 31");
  w.Line("CLEAR");
  if (!newer) w.Line("M1020=1");
  w.Line("M1019=1");
  w.Line(m.gantry() ? " M1018=M1018+P1023 M1008=M1008+p1023" : "M1018=M1018+P1023");
  w.Line("M1021=M0");
  w.Line("WHILE(M0-M1021<P1022)");
  w.Line("ENDW");
  if (bidirectional != 0) {
    w.Line(m.gantry() ? "M1018=M1018-P1023 M1008=M1008-p1023" : "M1018=M1018-P1023");
    w.Line("M1022=M0");
    w.Line("WHILE(M0-M1022<P1022)");
    w.Line("ENDW");
  }
  if (m.gantry() && !newer) w.Line("M1020=0");
  w.Line("M1019=0");
  w.Line("P996=123");
  w.Line("DIS PLC 31");
  w.Line("CLS");
  w.Line("M1023=12345");
  const JogText jog = Jog(m.first, m.second);
  w.Line("%sDEFGAT", jog.text);
  w.Line("GAT");
  w.Line("ENDG I48=0");
  w.Line("DEFGAT");
  w.Line("I5=I5|2");
  w.Line("P1023=%ld*I%d08*32", static_cast<long>(step), m.first);
  w.Line("P1022=%d*8388608/I10", milliseconds);
  w.Line("P996=-1");
  w.Line("I3=2 %s", jog.text);
  w.Line("ENA PLC 31");
  return w.ok() ? 1 : 0;
}

// The end of a parabolic move's program and its start: the program's
// end mark and close, the marker, the jogs into closed loop with the
// gather defined and started (the gantry move drops the gather buffer
// once more), the profile's size and time, and program 999 run.
void RunParabolic(ProgramWriter& w, const JogText& jog, std::int32_t step, int milliseconds,
                  bool drop_buffer) {
  w.Line("P996=123");
  w.Line("CLS");
  w.Line("M1017=12345");
  w.Line("%sDEFGAT", jog.text);
  w.Line("GAT");
  w.Line("ENDG I48=0");
  if (drop_buffer) {
    w.Line("DELETE GATHER");
    w.Line("DELETE TRACE");
  }
  w.Line("DEFGAT");
  w.Line("P1023=%ld", static_cast<long>(step));
  w.Line("P1022=%d", milliseconds);
  w.Line("PMATCH");
  w.Line("P996=-1");
  w.Line("%s", jog.text);
  w.Line("P1021=1 &1B999R");
}

}  // namespace

int DoAPositionLoopStep(TuningCard& card, int motor, std::int32_t step, int milliseconds,
                        int bidirectional) {
  if (!ValidMotor(motor)) return 0;
  return PositionStep(card, Motors{motor, 0}, step, milliseconds, bidirectional);
}

int DoAGantryPositionLoopStep(TuningCard& card, int first, int second, std::int32_t step,
                              int milliseconds, int bidirectional) {
  if (!ValidMotor(first) || !ValidMotor(second)) return 0;
  return PositionStep(card, Motors{first, second}, step, milliseconds, bidirectional);
}

int DoAParabolicMove(TuningCard& card, int motor, std::int32_t step, int milliseconds,
                     int bidirectional) {
  if (!ValidMotor(motor)) return 0;
  const bool newer = Newer(card);
  ProgramWriter w(card.path, card.device);
  StartMove(card, w, motor, milliseconds, true);
  w.Line("UNDEF ALL &1 A");
  w.Line("#%d->X", motor);
  w.Line("%%100");
  w.Line("M1017->*");
  w.Line("M0->X:0,24");
  if (newer) {
    w.Line("M1018->D:$%x", NewerPositionAddress(motor));
    w.Line("M1019->X:$0006,19");
    w.Line("M1021->X:$10F1,24");
    w.Line("M1022->X:$10F0,24");
    w.Line("M1016->L:$081F");
    w.Line("M1014->Y:$%x,2,1", NewerMotorWord(motor));
  } else {
    w.Line("M1022->X:$07F0,24");
    w.Line("M1021->X:$07F1,24");
    w.Line("M1020->X:$0003,18");
    w.Line("M1019->X:$0003,19");
    w.Line("M1018->D:$00%x", OlderPositionAddress(motor));
    w.Line("M1016->L:$081F");
    w.Line("M1014->Y:$%x,2,1", OlderMotorWord(motor));
  }
  w.Line("OPEN PROG 999 CLR");
  // The newer map has one control bit; its segment time goes in by TM.
  w.Line(newer ? "TM(P1022)" : "M1020=1");
  w.Line("M1019=1");
  w.Line("PVT(P1022)");
  w.Line("INC");
  w.Line("X(P1023):0");
  if (bidirectional != 0) w.Line("X(-P1023):0");
  w.Line("DWE2");
  w.Line("DWE2");
  w.Line("M1019=0");
  w.Line("P1021=0");
  w.Line("LINEAR");
  w.Line("ABS");
  RunParabolic(w, Jog(motor, 0), step, milliseconds, false);
  return w.ok() ? 1 : 0;
}

namespace {

// The gantry parabolic programs' definitions: both motors on X of
// coordinate system 1 and the words the program uses, by card map.
void GantryDefinitions(ProgramWriter& w, bool newer, int first, int second) {
  w.Line("UNDEF ALL A &1");
  w.Line("#%d->X", first);
  w.Line("#%d->X", second);
  w.Line("M1017->*");
  w.Line("M0->X:0,24");
  if (newer) {
    w.Line("M1018->D:$%x", NewerPositionAddress(first));
    w.Line("M1008->D:$%x", NewerPositionAddress(second));
    w.Line("M1019->X:$0006,19");
    w.Line("M1021->X:$10F1,24");
    w.Line("M1022->X:$10F0,24");
  } else {
    w.Line("M1019->X:$0003,19");
    w.Line("M1020->X:$0003,18");
    w.Line("M1018->D:$00%x", OlderPositionAddress(first));
    w.Line("M1008->D:$00%x", OlderPositionAddress(second));
    w.Line("M1021->X:$07F1,24");
    w.Line("M1022->X:$07F0,24");
  }
  w.Line("M1016->L:$081F");
}

// The gantry parabolic programs' moves: out by P1023 and back, with the
// control bits set while they run.
void GantryOutAndBack(ProgramWriter& w, bool newer) {
  w.Line("PVT(P1022)");
  w.Line("M1019=1");
  w.Line(newer ? "TM(P1022)" : "M1020=1");
  w.Line("INC");
  w.Line("X(P1023):0");
  w.Line("X(-P1023):0");
  w.Line("DWE2");
  w.Line("DWE2");
  w.Line("M1019=0");
  w.Line("P1021=0");
  w.Line("LINEAR");
  w.Line("ABS");
}

}  // namespace

int DoAGantryParabolicMove(TuningCard& card, int first, int second, std::int32_t step,
                           int milliseconds, int /*bidirectional: always out and back*/) {
  if (!ValidMotor(first) || !ValidMotor(second)) return 0;
  const bool newer = Newer(card);
  ProgramWriter w(card.path, card.device);
  StartMove(card, w, first, milliseconds, true);
  GantryDefinitions(w, newer, first, second);
  w.Line("M1014->Y:$%x,2,1", OlderMotorWord(first));
  w.Line("M1015->Y:$%x,2,1", OlderMotorWord(second));
  w.Line("OPEN PROG 999 CLR");
  GantryOutAndBack(w, newer);
  RunParabolic(w, Jog(second, first), step, milliseconds, true);
  return w.ok() ? 1 : 0;
}

int DoAGantryParabolic(CardCommandPath& path, int device, int card_type, int first, int second) {
  if (!ValidMotor(first) || !ValidMotor(second)) return 0;
  const bool newer = card_type >= 4;
  ProgramWriter w(path, device);
  GantryDefinitions(w, newer, first, second);
  w.Line("DELETE GATHER");
  w.Line("DELETE TRACE");
  w.Line("OPEN PROG 999 CLR");
  GantryOutAndBack(w, newer);
  w.Line("CLS");
  // The marker says the program on the card is whole.
  w.Line("M1017=12345");
  return w.ok() ? 1 : 0;
}

}  // namespace zimo::corvan::tuning

extern "C" {

std::int32_t DoAPositionLoopStep(std::uint32_t device, std::int16_t motor, std::int32_t step,
                                 std::int16_t milliseconds, std::int16_t bidirectional) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::DoAPositionLoopStep(card, motor, step, milliseconds, bidirectional);
}

std::int32_t DoAParabolicMove(std::uint32_t device, std::int16_t motor, std::int32_t step,
                              std::int16_t milliseconds, std::int16_t bidirectional) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::DoAParabolicMove(card, motor, step, milliseconds, bidirectional);
}

std::int32_t DoAGantryPositionLoopStep(std::uint32_t device, std::int16_t first,
                                       std::int16_t second, std::int32_t step,
                                       std::int16_t milliseconds, std::int16_t bidirectional) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::DoAGantryPositionLoopStep(card, first, second, step, milliseconds,
                                                         bidirectional);
}

std::int32_t DoAGantryParabolicMove(std::uint32_t device, std::int16_t first, std::int16_t second,
                                    std::int32_t step, std::int16_t milliseconds,
                                    std::int16_t bidirectional) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::DoAGantryParabolicMove(card, first, second, step, milliseconds,
                                                      bidirectional);
}

std::int32_t DoAGantryParabolic(std::uint32_t device, std::int16_t first, std::int16_t second) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  const SharedDeviceBlock* block = IsRealDevice(d) ? App().Block(d) : nullptr;
  return tuning::DoAGantryParabolic(LibraryCommandPath(), d, block != nullptr ? block->CardType : 0,
                                    first, second);
}

}  // extern "C"
