// The six-step tests: the motor's drive is stepped through the six
// directions of a three-phase drive (and repeats) and a card word is
// recorded after each step, from which the client sees how the motor, its
// amplifier and its commutation feedback are wired. The voltage test drives
// the three output registers itself and records the commutation word; the
// current test drives the motor's two phase offsets and records the same
// word; the UVW test drives the offsets for two seconds a step and records
// the Hall sensors' state.
#include "tuning/six_step.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "corvan/tuning_api.h"

namespace zimo::corvan::tuning {
namespace {

constexpr int kNotCompleted = -5;

// Whether the last voltage or current download may have written its
// feedback entries (the read-results call then clears the end word even
// when the download was cut off).
bool table_changed = false;

// The wait, the record, and (but after the last step) the guard and the
// progress line of step `step` (1-based) of `steps`.
void StepTail(TestProgram& p, int step, int steps, const char* wait, const char* record) {
  p.Line("%s", wait);
  p.Line("WHILE (M90>0 and P996=-1)");
  p.Line("ENDWHILE");
  p.Line("%s", record);
  if (step < steps) {
    p.Line("IF (P996 = -1)");
    p.Line("P998=%d*10/8", step);
  } else {
    for (int i = 1; i < steps; ++i) p.Line("ENDIF");
    p.Line("P998=8*10/8");
  }
}

// One output line of the voltage test: sign +1, -1 or 0.
void Output(TestProgram& p, int n, int reg, int sign, std::uint32_t scale, float duty) {
  if (sign > 0) {
    p.Line("M%d%02d=I%u*0.01*%f", n, reg, scale, static_cast<double>(duty));
  } else if (sign < 0) {
    p.Line("M%d%02d=-I%u*0.01*%f", n, reg, scale, static_cast<double>(duty));
  } else {
    p.Line("M%d%02d=0", n, reg);
  }
}

// One phase offset line: "I%d79=%f" with factor x unit, or "I%d79=0" for
// a factor of 0.
void Offset(TestProgram& p, int n, int var, double factor, double unit) {
  if (factor == 0) {
    p.Line("I%d%02d=0", n, var);
  } else {
    p.Line("I%d%02d=%f", n, var, factor * unit);
  }
}

// The seven steps of the current and UVW tests: In79 and In29 in units of
// `unit`, each step waiting as `wait` says and recording the word that
// `record` ("P10%d=..." with the step's index and the motor) names.
void OffsetSteps(TestProgram& p, int n, const double (&steps)[7][2], double unit, const char* wait,
                 const char* record) {
  char line[32];
  for (int k = 0; k < 7; ++k) {
    Offset(p, n, 79, steps[k][0], unit);
    Offset(p, n, 29, steps[k][1], unit);
    std::snprintf(line, sizeof line, record, k, n);
    StepTail(p, k + 1, 7, wait, line);
  }
}

// What every test sends before its program: the countdown timer word, the
// records cleared, and gathering stopped with its buffer dropped.
void ClearRecordsAndGathering(TestProgram& p) {
  p.Line("M90->Y:$700,0,24,S");
  p.Line("P100..105=0");
  p.Line("ENDG I48=0");
  p.Line("ENDG I48=0");
  p.Line("DEL GAT");
  p.Line("DELETE TRACE");
}

// The program's opening (the current and UVW tests run the limit
// watchdog PLC 30 beside it): the run flag and the progress start.
void OpenProgram(TestProgram& p, bool limit_watchdog) {
  p.Line("OPEN PLC 31 CLEAR");
  if (limit_watchdog) p.Line("ENABLE PLC 30");
  p.Line("P996=-1");
  p.Line("P998=0");
}

// The program's end: it stops the watchdog and itself.
void CloseProgram(TestProgram& p) {
  p.Line("DIS PLC 30");
  p.Line("DISABLE PLC 31");
  p.Line("CLOSE");
}

// The end of the current and UVW tests: offsets back to 0 and the program
// closed; then the motor activated in open loop at 0, the PLCs disabled
// and the program started (no kill of the motors).
void EndOffsetTest(TestProgram& p, int n) {
  p.Line("I%d79=0 I%d29=0", n, n);
  CloseProgram(p);
  p.Line("I%d00=1", n);
  p.Line("I%d01=1", n);
  p.Char(4);
  p.Line("I5=2 #%do0 ENA PLC 31", n);
}

// The voltage steps: outputs Mn02, Mn04, Mn07.
constexpr int kVoltageSteps[8][3] = {{1, 0, -1}, {1, -1, 0}, {0, -1, 1}, {-1, 0, 1},
                                     {-1, 1, 0}, {0, 1, -1}, {1, 0, -1}, {1, -1, 0}};
// The current steps: In79, In29 in units of g.
constexpr double kCurrentSteps[7][2] = {{1, 0}, {1, -1}, {0, -1}, {-1, 0}, {-1, 1}, {0, 1}, {1, 0}};
// The UVW steps: In79, In29 in units of u.
constexpr double kUvwSteps[7][2] = {{1, -0.5}, {0.5, -1},  {-0.5, -0.5}, {-1, 0.5},
                                    {-0.5, 1}, {0.5, 0.5}, {1, -0.5}};

enum class Records { kRead, kStopped, kLost };
// The run flag and, when it still reads -1 (the program was not stopped),
// the seven records from P10<first> on.
Records ReadRecords(TestProgram& p, int first, std::int32_t (&v)[7]) {
  if (!p.Line("P996")) return Records::kLost;
  if (std::atoi(p.reply()) != -1) return Records::kStopped;
  for (int i = 0; i < 7; ++i) {
    if (!p.Line("P10%d", first + i)) return Records::kLost;
    v[i] = static_cast<std::int32_t>(std::atol(p.reply()));
  }
  return Records::kRead;
}

// Starts a pending test of `kind` once the download is about to change the
// card (the read-results call then knows there is something to put back).
void Begin(MotorTestKind kind, const TuningCard& card) {
  MarkMotorTestPending(kind, card.device, false);
}

// Marks the test complete when the download went through.
int Finish(MotorTestKind kind, const TuningCard& card, TestProgram& p) {
  if (!p.ok()) return 0;
  MarkMotorTestPending(kind, card.device, true);
  return 1;
}

}  // namespace

int DownloadVoltageSixStepTestProgram(const TuningCard& card, int motor, float duty, int varlo,
                                      int compact) {
  if (card.spran || !ValidTestMotor(motor)) return 0;
  const int n = motor;
  MotorTestSavedState& s = SavedMotorTest();
  TestProgram p(card);

  std::uint32_t end = 0;
  if (p.SearchFeedbackTable(&end) != TestProgram::Search::kFound) return 0;
  std::int32_t in02 = 0, in83 = 0, in25 = 0, i1002 = 0;
  if (!p.ReadI(Var(n, 2), &in02) || !p.ReadI(Var(n, 83), &in83) || !p.ReadI(Var(n, 25), &in25) ||
      !p.ReadI(1002, &i1002)) {
    return 0;
  }
  const std::int32_t node = ReducedNode(NodeValue(NodeExponentOffset(in25), i1002));
  float compensated = duty;
  if (!ReadCompensatedDuty(p, varlo != 0, n, duty, &compensated)) return 0;

  // From here on the card changes.
  s.tableEndWord = end;
  s.nodeBit = node;
  table_changed = false;
  Begin(MotorTestKind::kSixStep, card);
  const auto out = static_cast<std::uint32_t>(in02);
  if (varlo != 0) {
    if (node != 0) {
      p.Line("M%d01->Y:$%x,0,24,S", n, out);
    } else {
      p.Line("M%d01->Y:$%x,8,16,S", n, static_cast<std::uint32_t>(in83));
    }
  } else {
    p.Line("M%d01->X:$%x,0,24,S", n, static_cast<std::uint32_t>(in83));
  }
  p.Line("M%d02->Y:$%x,8,16,S", n, out);
  p.Line("M%d04->Y:$%x,8,16,S", n, out + 1);
  p.Line("M%d07->Y:$%x,8,16,S", n, out + 2);
  if (varlo != 0) {
    p.Line("M%d14->Y:$%x,14", n, static_cast<std::uint32_t>(in25 - 0x160000));
  } else {
    p.Line("M%d14->X:$%x,14", n, out + 3);
    table_changed = p.ok();
    p.Line("WY:$%x,$10%x,$10%x,0", end, out + 3, out + 4);
  }
  ClearRecordsAndGathering(p);

  const std::uint32_t scale = OutputScaleVariable(compact == 1 || node == 1, n);
  OpenProgram(p, false);
  p.Line("M%d14=1", n);
  p.Line("M%d02=0M%d04=0M%d07=0", n, n, n);
  char record[32];
  for (int k = 0; k < 8; ++k) {
    Output(p, n, 2, kVoltageSteps[k][0], scale, compensated);
    Output(p, n, 4, kVoltageSteps[k][1], scale, compensated);
    Output(p, n, 7, kVoltageSteps[k][2], scale, compensated);
    std::snprintf(record, sizeof record, "P10%d=M%d01", k, n);
    StepTail(p, k + 1, 8, "M90=P999*8388608/I10", record);
  }
  p.Line("M%d02=0M%d04=0M%d07=0", n, n, n);
  CloseProgram(p);
  p.StartSequence("I5=2 ENA PLC 31");
  return Finish(MotorTestKind::kSixStep, card, p);
}

int DownloadCurrentSixStepTestProgram(const TuningCard& card, int motor, float duty, int varlo,
                                      int /*compact*/) {
  if (card.spran || !ValidTestMotor(motor)) return 0;
  const int n = motor;
  MotorTestSavedState& s = SavedMotorTest();
  TestProgram p(card);

  std::uint32_t end = 0;
  if (p.SearchFeedbackTable(&end) != TestProgram::Search::kFound) return 0;
  std::int32_t in83 = 0, in25 = 0, i1002 = 0, in69 = 0, in02 = 0;
  if (!p.ReadI(Var(n, 83), &in83) || !p.ReadI(Var(n, 25), &in25) || !p.ReadI(1002, &i1002) ||
      !p.ReadI(Var(n, 69), &in69)) {
    return 0;
  }
  const std::int32_t node = ReducedNode(NodeValue(NodeExponentMasked(in25), i1002));
  const float g = static_cast<float>(in69) * duty / 100.0f;
  auto word = static_cast<std::uint32_t>(in83);
  if (varlo != 0 && node != 0) {
    if (!p.ReadI(Var(n, 2), &in02)) return 0;
    word = static_cast<std::uint32_t>(in02);
  }

  s.tableEndWord = end;
  s.nodeBit = node;
  table_changed = false;
  Begin(MotorTestKind::kSixStep, card);
  if (varlo == 0) {
    p.Line("M%d01->X:$%x,0,24,S", n, word);
  } else if (node != 0) {
    p.Line("M%d01->Y:$%x,0,24,S", n, word);
  } else {
    p.Line("M%d01->Y:$%x,8,16,S", n, word);
  }
  table_changed = p.ok();
  p.Line("WY:$%x,$10%x,$10%x,0", end, word + 3, word + 4);
  p.Line("M%d71->X:$%x,0,24,S", n, 0x40u + 0x3Cu * static_cast<std::uint32_t>(n - 1));
  ClearRecordsAndGathering(p);
  if (!p.ok() || DownloadPosLimitPLC(card.path, card.device, n) != 1) return 0;

  OpenProgram(p, true);
  OffsetSteps(p, n, kCurrentSteps, static_cast<double>(g), "M90=P999*8388608/I10", "P10%d=M%d01");
  p.Line("M%d71=0", n);
  EndOffsetTest(p, n);
  return Finish(MotorTestKind::kSixStep, card, p);
}

int DownloadUVWSixStepTestProgram(const TuningCard& card, int motor, float duty) {
  if (card.spran || !ValidTestMotor(motor)) return 0;
  const int n = motor;
  TestProgram p(card);
  std::int32_t in02 = 0;
  if (!p.ReadI(Var(n, 2), &in02)) return 0;
  // The Hall word lies two below the outputs: a motor without outputs has
  // none.
  if (in02 < 2) return 0;

  Begin(MotorTestKind::kUvwSixStep, card);
  p.Line("M%d28->X:$%x,20,4", n, static_cast<std::uint32_t>(in02 - 2));
  ClearRecordsAndGathering(p);
  if (!p.ok() || DownloadPosLimitPLC(card.path, card.device, n) != 1) return 0;

  const double u = static_cast<double>(duty) * 327.67;
  OpenProgram(p, true);
  // Two seconds a step.
  char wait[32];
  std::snprintf(wait, sizeof wait, "M90=%d*8388608/I10", 2000);
  OffsetSteps(p, n, kUvwSteps, u, wait, "P10%d=M%d28&7");
  EndOffsetTest(p, n);
  return Finish(MotorTestKind::kUvwSixStep, card, p);
}

int ReadResultsFromSixStepTest(const TuningCard& card, std::int32_t* steps, int skip) {
  constexpr MotorTestKind kind = MotorTestKind::kSixStep;
  if (card.spran || steps == nullptr || !MotorTestPending(kind, card.device)) return kNotCompleted;
  const MotorTestSavedState& s = SavedMotorTest();
  TestProgram p(card);
  if (!MotorTestComplete(kind, card.device)) {
    // Cut off during the download: the program never ran and there are no
    // results, but its feedback entries may be on the card.
    if (table_changed && !p.Line("WY:$%x,0", s.tableEndWord)) return kNotCompleted;
    ClearMotorTest(kind);
    return kNotCompleted;
  }
  std::int32_t v[7] = {};
  const Records records = ReadRecords(p, skip != 0 ? 1 : 0, v);
  if (records == Records::kLost) return kNotCompleted;
  // A stopped test has no results; its feedback entries go all the same
  // (the program itself never removes them).
  if (!p.Line("WY:$%x,0", s.tableEndWord)) return kNotCompleted;
  if (records == Records::kStopped) {
    ClearMotorTest(kind);
    return kNotCompleted;
  }
  for (int i = 1; i < 7; ++i) steps[i - 1] = v[i] - v[i - 1];
  ClearMotorTest(kind);
  return 1;
}

int ReadResultsFromUVWSixStepTest(const TuningCard& card, std::int32_t* out) {
  constexpr MotorTestKind kind = MotorTestKind::kUvwSixStep;
  if (card.spran || out == nullptr || !MotorTestPending(kind, card.device)) return kNotCompleted;
  if (!MotorTestComplete(kind, card.device)) {
    // Cut off during the download: nothing ran, nothing to put back.
    ClearMotorTest(kind);
    return kNotCompleted;
  }
  TestProgram p(card);
  std::int32_t v[7] = {};
  const Records records = ReadRecords(p, 0, v);
  if (records == Records::kLost) return kNotCompleted;
  if (records == Records::kStopped) {
    ClearMotorTest(kind);
    return kNotCompleted;
  }
  for (int i = 0; i < 7; ++i) out[i] = v[i];
  ClearMotorTest(kind);
  return 1;
}

}  // namespace zimo::corvan::tuning

using zimo::corvan::tuning::LibraryTuningCard;

extern "C" {

std::int32_t DownloadVoltageSixStepTestProgram(std::uint32_t device, std::int16_t motor, float duty,
                                               std::int16_t varlo, std::int16_t compact) {
  return zimo::corvan::tuning::DownloadVoltageSixStepTestProgram(LibraryTuningCard(device), motor,
                                                                 duty, varlo, compact);
}

std::int32_t ReadResultsFromSixStepTest(std::uint32_t device, std::int32_t* steps,
                                        std::int16_t skip) {
  return zimo::corvan::tuning::ReadResultsFromSixStepTest(LibraryTuningCard(device), steps, skip);
}

std::int32_t DownloadCurrentSixStepTestProgram(std::uint32_t device, std::int16_t motor, float duty,
                                               std::int16_t varlo, std::int16_t compact) {
  return zimo::corvan::tuning::DownloadCurrentSixStepTestProgram(LibraryTuningCard(device), motor,
                                                                 duty, varlo, compact);
}

std::int32_t DownloadUVWSixStepTestProgram(std::uint32_t device, std::int16_t motor, float duty) {
  return zimo::corvan::tuning::DownloadUVWSixStepTestProgram(LibraryTuningCard(device), motor,
                                                             duty);
}

std::int32_t ReadResultsFromUVWSixStepTest(std::uint32_t device, std::int32_t* out, std::int32_t,
                                           std::int32_t, std::int32_t, std::int32_t) {
  return zimo::corvan::tuning::ReadResultsFromUVWSixStepTest(LibraryTuningCard(device), out);
}

}  // extern "C"
