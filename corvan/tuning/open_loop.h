// The open-loop tests: timed output pulses on one motor in open loop while
// the card gathers, for the client to collect and evaluate afterwards.
#pragma once

#include <cstdint>

#include "tuning/motor_tests.h"

namespace zimo::corvan::tuning {

// The three pulse patterns.
enum class OpenLoopKind {
  kAlternating,      // +P1022, rest, -P1022, rest
  kPositive,         // +P1022, then 0, repeated at once
  kFirstGeneration,  // alternating, fixed gather addresses, no feedback entry
};

struct OpenLoopRequest {
  int motor;
  int magnitude;  // percent
  int time;       // pulse (and rest) length, milliseconds
  int repetitions;
  int gather_currents;
  int varlo;  // not used by the first-generation test
};

// Downloads and starts a test; 1 when started, 0 when refused (a motor
// outside 1 to 8, the newer card generation, an unreadable feedback table)
// or when the card stopped answering.
int DownloadOpenLoopTest(const TuningCard& card, OpenLoopKind kind, const OpenLoopRequest& request);

// The pulse amplitude of In69 and the magnitude: In69 x magnitude / 100,
// truncated toward zero and held to the 16-bit range.
std::int32_t OpenLoopAmplitude(std::int32_t in69, int magnitude);

// Forgets what a cut-off download left to put back (a fresh process).
void ResetOpenLoopTests();

}  // namespace zimo::corvan::tuning
