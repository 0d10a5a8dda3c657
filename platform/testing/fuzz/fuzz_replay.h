// What a fuzz target gives the replay driver (fuzz_replay_main.cc), which
// stands in for libFuzzer where the compiler has none: the target's entry
// point, and a generator of inputs shaped like the ones the target parses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace zimo::testing {

// One generated input; the driver seeds the engine once, so a failure repeats.
std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random);
// How many generated inputs the driver runs after the named files.
extern const int kFuzzGeneratedInputs;

}  // namespace zimo::testing
