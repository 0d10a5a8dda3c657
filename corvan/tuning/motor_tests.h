// What the motor set-up tests share (current feedback, six-step, open
// loop): the record a download leaves for its read-results call, the road
// to the card (program lines, I-variable reads, control characters), the
// feedback-table search, the node test, the compensated duty, the output
// scale variable and the start sequence.
//
// A test's download composes its card program on the host and sends it one
// line an exchange. Once an exchange times out or fails nothing more is
// sent and the download gives up; a card error reply does not stop it.
#pragma once

#include <cstdint>

#include "link/variables.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {

// The record of the last set-up test, one for the whole process (one test
// of the family at a time per process).
struct MotorTestSavedState {
  std::uint32_t tableEndWord = 0;  // feedback-table word of the pending test's own entry
  std::int32_t nodeBit = 0;        // node value of the last test that computed one
  std::int32_t varloFlag = 0;      // VARLO flag of the last current-feedback test
  std::int32_t clockPairFlag = 0;  // 1: I997/I998 changed; 0: I901/I902
  std::int32_t savedClockA = 0;    // I901 (or I997) before the current-feedback test
  std::int32_t savedClockB = 0;    // I902 (or I998)
  std::int32_t savedI10 = 0;
  std::uint32_t gatherMask = 0;  // of the last open-loop test
  // Whether savedClockA/B hold values read from the card (so the restore
  // never writes back what could not be read).
  bool clockSaved = false;
};

MotorTestSavedState& SavedMotorTest();

// The tests whose results a read-results call reads back.
enum class MotorTestKind { kCurrentFeedback, kSixStep, kUvwSixStep };

// A test of `kind` is pending on `device` from the moment its download
// first changes the card until its read-results call has read (or the test
// turned out stopped). `complete` tells whether the download reached its
// start line: a test cut off before never ran, so there are no results.
void MarkMotorTestPending(MotorTestKind kind, int device, bool complete);
bool MotorTestPending(MotorTestKind kind, int device);
bool MotorTestComplete(MotorTestKind kind, int device);
void ClearMotorTest(MotorTestKind kind);
// Forgets every pending test and zeroes the record (a fresh process).
void ResetMotorTests();

// The motors the tests address: 1 to 8.
inline bool ValidTestMotor(int motor) { return motor >= 1 && motor <= 8; }
// The number of motor n's I-variable k (In<k>).
inline std::uint32_t Var(int n, int k) { return static_cast<std::uint32_t>(n * 100 + k); }

// First word of the feedback table and the last one a search may look at.
inline constexpr std::uint32_t kFeedbackTableStart = 0x720;
inline constexpr std::uint32_t kFeedbackTableLast = 0x73F;

// A program writer with what the tests add: I-variable reads, control
// characters, the feedback-table search and the start sequence. Every
// step does nothing and returns false once an exchange has failed.
class TestProgram : public ProgramWriter {
 public:
  explicit TestProgram(const TuningCard& card)
      : ProgramWriter(card.path, card.device), card_(card) {}

  // Reads I-variable `number` in one exchange. A card error or an empty
  // answer reads as 0; false only when the exchange failed.
  bool ReadI(std::uint32_t number, std::int32_t* value);
  // A control character, sent only while every exchange so far succeeded.
  bool Char(char character);
  bool Flush();

  enum class Search { kFound, kFailed, kUnreadable };
  // Walks the feedback table from $720 ("RY:$%x") to the first word that
  // reads 0 (or, with `match`, that reads *match), leaving the word's
  // address in *position and whether it is the end word in *at_end. An
  // empty or error reply, or a table that has no end by $73F, gives
  // kUnreadable: the table is not to be touched then.
  Search SearchFeedbackTable(std::uint32_t* position, bool* at_end = nullptr,
                             const std::int32_t* match = nullptr);

  // Kills all motors (control-K), deactivates motors 1 to 8 ("I%d00=0",
  // "I%d01=0"), disables the PLCs (control-D) and sends `start_line`.
  bool StartSequence(const char* start_line);

 private:
  TuningCard card_;
};

// Node test of motor n from In25 and I1002: bit e of I1002 in place, 0 for
// e outside 0 to 31. Two forms of the exponent are in use.
std::int32_t NodeExponentOffset(std::int32_t in25);  // In25 - $160000 - $F70
std::int32_t NodeExponentMasked(std::int32_t in25);  // (In25 AND $F7F) - $F70
std::int32_t NodeValue(std::int32_t exponent, std::int32_t i1002);
// The reduced form most tests keep: a positive value becomes 1.
inline std::int32_t ReducedNode(std::int32_t node) { return node > 0 ? 1 : node; }

// The caller's duty (percent) with the dead-time compensation
// d + dead x 250 / pwm, in double and rounded to single precision. A PWM
// variable of 0 adds nothing.
float CompensatedDuty(float duty, std::int32_t dead, std::int32_t pwm);
// Reads the two I-variables of the compensation (VARLO I994/I992; motors
// 1 to 4 I904/I900; 5 to 8 I908/I905) and computes the duty.
bool ReadCompensatedDuty(TestProgram& program, bool varlo, int motor, float duty, float* out);

// The I-variable the drive lines multiply: I992 for a compact card or a
// node value of 1, else I900 (motors 1 to 4) or I906 (5 to 8).
std::uint32_t OutputScaleVariable(bool compact_or_node, int motor);

// The current-feedback test over a given card (motor checks included).
int DownloadCurrentFeedbackTestProgram(const TuningCard& card, int motor, float duty, int frequency,
                                       std::int32_t varlo, int compact);
int ReadResultsFromCurrentFeedbackTest(const TuningCard& card);
int SetIvarForFeedback(const TuningCard& card, int ivar, std::int32_t address, int type);

}  // namespace zimo::corvan::tuning
