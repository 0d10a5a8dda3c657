// The current-feedback test: ten one-second passes with the motor's outputs
// at zero and driven, recording its two current readings, from which the
// read-results call judges the polarity of the current feedback; and the
// pointing of a feedback I-variable at a feedback-table entry.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "corvan/tuning_api.h"
#include "tuning/motor_tests.h"

namespace zimo::corvan::tuning {
namespace {

constexpr char kQuote = '"';
// The current readings of channel c are at X:$710+c and Y:$710+c.
constexpr int kChannels = 16;
// Readings at or below this size say the feedback did not respond.
constexpr double kThreshold = 8.0;

// Lines 7 and 8 of the program per pass: drive, wait a second, and in
// passes 5 to 9 keep the difference to the zero reading of pass k - 5.
void WritePass(TestProgram& p, int n, std::uint32_t scale, float duty) {
  p.Line("  M%d02=0M%d04=0M%d07=0", n, n, n);
  p.Line("  M90=%d*8388608/I10", 1000);
  p.Line("  WHILE (M90>0 and P996=-1)");
  p.Line("  ENDWHILE");
  p.Line("  M92=100+P999");
  p.Line("  M91=M%d05", n);
  p.Line("  M92=200+P999");
  p.Line("  M91=M%d06", n);
  p.Line("M%d02=I%u*0.01*%f", n, scale, static_cast<double>(duty));
  p.Line("M%d04=-I%u*0.01*%f", n, scale, static_cast<double>(duty));
  p.Line("M%d07=0", n);
  p.Line("  P998=P998+.5");
  p.Line("  M90=%d*8388608/I10", 1000);
  p.Line("  WHILE (M90>0 and P996=-1)");
  p.Line("  ENDWHILE");
  p.Line("  IF (P999 > 4)");
  p.Line("    M92=100+P999-5");
  p.Line("    M91=M%d05-M91", n);
  p.Line("    M92=200+P999-5");
  p.Line("    M91=M%d06-M91", n);
  p.Line("  ENDIF");
  p.Line("  P999=P999+1");
  p.Line("  P998=P998+.5");
}

int Judge(std::int32_t a, std::int32_t b) {
  const bool small_a = std::abs(static_cast<double>(a)) < kThreshold;
  const bool small_b = std::abs(static_cast<double>(b)) < kThreshold;
  if (small_a && !small_b) return -2;
  if (!small_a && small_b) return -3;
  if (small_a && small_b) return -4;
  if (a < 0 && b > 0) return 1;
  if (a > 0 && b < 0) return 2;
  return -1;
}

}  // namespace

int DownloadCurrentFeedbackTestProgram(const TuningCard& card, int motor, float duty, int frequency,
                                       std::int32_t varlo, int compact) {
  if (card.spran || !ValidTestMotor(motor)) return 0;
  const int n = motor;
  MotorTestSavedState& s = SavedMotorTest();
  TestProgram p(card);

  std::uint32_t end = 0;
  if (p.SearchFeedbackTable(&end) != TestProgram::Search::kFound) return 0;
  if (!p.Flush()) return 0;

  std::int32_t in82 = 0, in02 = 0, in25 = 0, i1002 = 0;
  if (!p.ReadI(Var(n, 82), &in82) || !p.ReadI(Var(n, 2), &in02) || !p.ReadI(Var(n, 25), &in25) ||
      !p.ReadI(1002, &i1002)) {
    return 0;
  }
  const std::int32_t channel = (in82 - 49150) / 8 - 1;
  const std::int32_t node = NodeValue(NodeExponentOffset(in25), i1002);
  if (in02 == 0) return 0;
  // The readings of another channel would be words outside the current
  // registers ("$71" and the channel's digits).
  if (varlo == 0 && (channel < 0 || channel >= kChannels)) return 0;

  // From here on the card changes; the read-results call puts it back.
  s.tableEndWord = end;
  s.nodeBit = node;
  s.clockSaved = false;
  MarkMotorTestPending(MotorTestKind::kCurrentFeedback, card.device, false);
  const auto out = static_cast<std::uint32_t>(in02);

  p.Line("M%d02->Y:$%x,8,16,S", n, out);
  p.Line("M%d04->Y:$%x,8,16,S", n, out + 1);
  p.Line("M%d07->Y:$%x,8,16,S", n, out + 2);
  float compensated = duty;
  if (varlo != 0) {
    s.varloFlag = 1;
    if (!ReadCompensatedDuty(p, true, n, duty, &compensated)) return 0;
    p.Line("M%d14->Y:$%x,14", n, static_cast<std::uint32_t>(in25 - 0x160000));
    const std::uint32_t first = node != 0 ? out + 1 : out;
    p.Line("M%d05->Y:$%x,8,16,S", n, first);
    p.Line("M%d06->Y:$%x,8,16,S", n, first + 1);
  } else {
    s.varloFlag = 0;
    if (!ReadCompensatedDuty(p, false, n, duty, &compensated)) return 0;
    p.Line("M%d14->X:$%x,14", n, out + 3);
    p.Line("WY:$%x,$10%x,$10%x,0", end, out + 3, out + 4);
    p.Line("M%d05->X:$71%x,8,16,S", n, static_cast<std::uint32_t>(channel));
    p.Line("M%d06->Y:$71%x,8,16,S", n, static_cast<std::uint32_t>(channel));
  }

  p.Line("M90->Y:$700,0,24,S");
  p.Line("M91->L:$1000");
  p.Line("M92->Y:$BC5B,0,12");
  p.Line("P100..104=0");
  p.Line("P200..204=0");
  for (int i = 0; i < 2; ++i) {
    p.Line("M%d14=1", n);
    p.Line("M%d14=0", n);
  }

  const bool pair = compact == 1 || node == 1;
  const std::uint32_t clock_a = pair ? 997 : 901;
  const std::uint32_t clock_b = pair ? 998 : 902;
  std::int32_t a = 0, b = 0, i10 = 0;
  if (!p.ReadI(clock_a, &a) || !p.ReadI(clock_b, &b) || !p.ReadI(10, &i10)) return 0;
  s.clockPairFlag = pair ? 1 : 0;
  s.savedClockA = a;
  s.savedClockB = b;
  s.savedI10 = i10;
  s.clockSaved = true;
  p.Line("I%u=2 I%u=0", clock_a, clock_b);

  p.Line("ENDG I48=0");
  p.Line("ENDG I48=0");
  p.Line("DEL GAT");
  p.Line("DELETE TRACE");

  const std::uint32_t scale = OutputScaleVariable(pair, n);
  p.Line("OPEN PLC 31 CLEAR");
  p.Line("I10=8388608/(2*%f)*3", frequency / 1000.0);
  p.Line("P999=0");
  p.Line("P998=0");
  p.Line("M%d14=1", n);
  p.Line("M%d02=0M%d04=0M%d07=0", n, n, n);
  p.Line("WHILE (P999 < 10 AND P996=-1)");
  WritePass(p, n, scale, compensated);
  p.Line("ENDWHILE");
  p.Line("M%d02=0M%d04=0M%d07=0", n, n, n);
  p.Line("DISABLE PLC 31");
  p.Line("I10=%ld", static_cast<long>(s.savedI10));
  p.Line("cmd%cWY:$%x,0%c", kQuote, end, kQuote);
  p.Line("CLOSE");
  if (!p.StartSequence("P996=-1 I5=2 ENA PLC 31")) return 0;
  MarkMotorTestPending(MotorTestKind::kCurrentFeedback, card.device, true);
  return 1;
}

int ReadResultsFromCurrentFeedbackTest(const TuningCard& card) {
  constexpr int kNotCompleted = -5;
  if (card.spran || !MotorTestPending(MotorTestKind::kCurrentFeedback, card.device)) {
    return kNotCompleted;
  }
  const MotorTestSavedState& s = SavedMotorTest();
  TestProgram p(card);
  if (s.clockSaved) {
    if (s.clockPairFlag == 1) {
      p.Line("I997=%ldI998=%ld", static_cast<long>(s.savedClockA),
             static_cast<long>(s.savedClockB));
    } else {
      p.Line("I901=%ldI902=%ld", static_cast<long>(s.savedClockA),
             static_cast<long>(s.savedClockB));
    }
  }
  if (!MotorTestComplete(MotorTestKind::kCurrentFeedback, card.device)) {
    // The download was cut off: the program never ran to remove its
    // feedback entries, and the card holds no results of this test.
    p.Line("WY:$%x,0", s.tableEndWord);
    if (!p.ok()) return kNotCompleted;
    ClearMotorTest(MotorTestKind::kCurrentFeedback);
    return kNotCompleted;
  }
  if (!p.Line("P996")) return kNotCompleted;
  if (std::atoi(p.reply()) != -1) {
    ClearMotorTest(MotorTestKind::kCurrentFeedback);
    return kNotCompleted;
  }
  std::int64_t sum_a = 0, sum_b = 0;
  for (int k = 0; k < 5; ++k) {
    if (!p.Line("P10%d", k)) return kNotCompleted;
    sum_a += std::atol(p.reply());
    if (!p.Line("P20%d", k)) return kNotCompleted;
    sum_b += std::atol(p.reply());
  }
  if (!p.Line("WY:$%x,0", s.tableEndWord)) return kNotCompleted;
  ClearMotorTest(MotorTestKind::kCurrentFeedback);
  return Judge(static_cast<std::int32_t>(sum_a / 5), static_cast<std::int32_t>(sum_b / 5));
}

int SetIvarForFeedback(const TuningCard& card, int ivar, std::int32_t address, int type) {
  if (card.spran) return 0;
  MotorTestSavedState& s = SavedMotorTest();
  const bool varlo = s.varloFlag == 1;
  if (type != 1 && type != 3) return 1;
  if (type == 1 && !varlo) return 1;

  TestProgram p(card);
  const int motor = ivar / 100;
  std::int32_t in25 = 0, i1002 = 0;
  if (!p.ReadI(static_cast<std::uint32_t>(motor * 100 + 25), &in25) || !p.ReadI(1002, &i1002)) {
    return 0;
  }
  const std::int32_t node = ReducedNode(NodeValue(NodeExponentMasked(in25), i1002));
  s.nodeBit = node;

  std::uint32_t position = 0;
  bool at_end = false;
  // The search position is this call's own: the saved end word belongs to
  // a pending test's entry, which its read-results call takes away.
  if (p.SearchFeedbackTable(&position, &at_end, &address) != TestProgram::Search::kFound) return 0;
  const long source = address;

  // The entry the I-variable points at: one word holding the source, or
  // two (the source and its mask) whose second the I-variable addresses.
  std::uint32_t entry = position;
  if (type == 1) {
    if (at_end) {
      p.Line(node != 0 ? "WY:$%x,%ld,$FFFFFF,0" : "WY:$%x,%ld,$1FFE0,0", position, source);
    }
    entry = position + 1;
  } else if (!varlo) {
    if (at_end) {
      p.Line("WY:$%x,%ld", position, source);
      p.Line("WY:$%x,0", position + 1);
    }
  } else if (node == 1) {
    if (at_end) p.Line("WY:$%x,%ld,$FFFFFF,0", position, source);
    entry = position + 1;
  }
  p.Line("I%d=$%x", ivar, entry);
  return p.ok() ? 1 : 0;
}

}  // namespace zimo::corvan::tuning

using zimo::corvan::tuning::LibraryTuningCard;

extern "C" {

std::int32_t DownloadCurrentFeedbackTestProgram(std::uint32_t device, std::int16_t motor,
                                                float duty, std::int16_t frequency,
                                                std::int32_t varlo, std::int16_t compact) {
  return zimo::corvan::tuning::DownloadCurrentFeedbackTestProgram(LibraryTuningCard(device), motor,
                                                                  duty, frequency, varlo, compact);
}

std::int32_t ReadResultsFromCurrentFeedbackTest(std::uint32_t device, std::int16_t) {
  return zimo::corvan::tuning::ReadResultsFromCurrentFeedbackTest(LibraryTuningCard(device));
}

std::int32_t SetIvarForFeedback(std::uint32_t device, std::int16_t ivar, std::int32_t address,
                                std::int16_t type) {
  return zimo::corvan::tuning::SetIvarForFeedback(LibraryTuningCard(device), ivar, address, type);
}

}  // extern "C"
