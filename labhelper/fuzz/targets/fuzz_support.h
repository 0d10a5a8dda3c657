// Shared pieces of the lab helper's fuzz targets: a quiet message service and
// a scratch file for inputs that must come from a file. Each target also gives
// the replay driver its generator (fuzz_replay.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fuzz_replay.h"

namespace labhelper_fuzz {

// Installs a recorder for message boxes once per process.
void QuietBoxes();
// Writes the input to this process's scratch file and returns its path.
const std::string& WriteScratch(const std::uint8_t* data, std::size_t size);
// Makes a folder of this process's own the current folder, once.
void EnterScratchFolder();

}  // namespace labhelper_fuzz
