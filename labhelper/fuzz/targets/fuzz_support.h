// Shared pieces of the fuzz targets: a quiet message service, a scratch file
// for inputs that must come from a file, and the generator each target gives
// the replay driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace labhelper_fuzz {

// Installs a recorder for message boxes once per process.
void QuietBoxes();
// Writes the input to this process's scratch file and returns its path.
const std::string& WriteScratch(const std::uint8_t* data, std::size_t size);
// Generated inputs for the replay driver (each target defines its own).
std::vector<std::uint8_t> Generate(std::mt19937& random);
extern const int kGeneratedInputs;

}  // namespace labhelper_fuzz
