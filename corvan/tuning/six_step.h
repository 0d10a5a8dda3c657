// The six-step tests over a given card (motor and card checks included):
// the voltage and current tests record the commutation word after each of
// their eight or seven steps, the UVW test the Hall state.
#pragma once

#include <cstdint>

#include "tuning/motor_tests.h"

namespace zimo::corvan::tuning {

int DownloadVoltageSixStepTestProgram(const TuningCard& card, int motor, float duty, int varlo,
                                      int compact);
int DownloadCurrentSixStepTestProgram(const TuningCard& card, int motor, float duty, int varlo,
                                      int compact);
int DownloadUVWSixStepTestProgram(const TuningCard& card, int motor, float duty);
// `steps`: 6 values; `out`: 7.
int ReadResultsFromSixStepTest(const TuningCard& card, std::int32_t* steps, int skip);
int ReadResultsFromUVWSixStepTest(const TuningCard& card, std::int32_t* out);

}  // namespace zimo::corvan::tuning
