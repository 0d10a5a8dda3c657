// Fuzz target: the settings-file loader over a file of any bytes. A load
// never fails: every text field ends up at most 79 characters long, the
// counts per unit come from the (absent) card as 1, the apparatus code is
// never read back, and the captions name the file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_replay.h"
#include "labprog/configuration_file.h"
#include "labprog/experiment_configuration.h"
#include "platform/message.h"
#include "recording_fakes.h"

namespace zimo::testing {

const int kFuzzGeneratedInputs = 1000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static const char* const kPieces[] = {
      "[General]",
      "[User Trajectory]",
      "[MagLev]",
      "[Step Trajectory]",
      "[PID Discrete",
      "Ts=",
      "StepReps=",
      "Filename=",
      "UserUnits=",
      "GatherPeriod=",
      "Apparatus=",
      "WhatToGather=",
      "SensorMode=",
      "Feedback Channel=",
      "S7=",
      "&H",
      "&O",
      "1E400",
      "99999",
      "-32769",
      "2.5",
      "3.5",
      "abc",
      " ",
      "\t",
      "\r\n",
      "\n",
      "=",
      "\"",
      "'",
      ";",
      "1D-3",
      ".5",
      "-",
      "00000000000000000000000000000000000000000000000000000000000000000000"};
  std::vector<std::uint8_t> bytes;
  const size_t pieces = random() % 80;
  for (size_t i = 0; i < pieces; ++i) {
    if (random() % 8 == 0) {
      bytes.push_back(static_cast<std::uint8_t>(random()));
      continue;
    }
    const std::string piece = kPieces[random() % (sizeof kPieces / sizeof *kPieces)];
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  }
  return bytes;
}

}  // namespace zimo::testing

namespace {

// A home and a scratch file of this process's own.
const std::string& Scratch() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string base =
        std::string(tmp != nullptr ? tmp : "/tmp") + "/labprog_fuzz_" + std::to_string(getpid());
    std::filesystem::create_directories(base);
    ::setenv("ZIMO_HOME", base.c_str(), 1);
    static zimo::platform::MessageRecorder boxes;
    zimo::platform::SetMessageService(&boxes);
    return base + "/input.cfg";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zimo::labprog;
  const std::string& path = Scratch();
  std::remove(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  testing::RecordingCommandPath link;
  testing::RecordingShellWindows windows;
  LabProgram program(link, windows);
  SetDefaultConfiguration(program);
  program.Config.ApparatusCode = 6;
  LoadConfiguration(program, path);

  const ExperimentConfiguration& c = program.Config;
  for (const std::string* text :
       {&c.Filename, &c.UserUnits, &c.UserTrajectoryFilename, &c.UserTrajectory2Filename,
        &c.USRAlgorithmFilename, &c.Disturbance.UserFilename}) {
    if (text->size() > 79) std::abort();
  }
  if (c.UnitsScaleFactor != 1.0f || c.ApparatusCode != 6) std::abort();
  if (windows.frame_captions.size() != 1 ||
      windows.frame_captions[0].find(path) == std::string::npos) {
    std::abort();
  }
  if (!link.sent.empty()) std::abort();  // offline: nothing reaches a card
  return 0;
}
