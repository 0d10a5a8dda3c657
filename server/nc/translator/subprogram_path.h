// Paths of called subprograms, the rotary fill mode of a coordinate system
// and its cycle output files.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>

#include "nc/language/block_record.h"

namespace zimo::nc {

struct NcProgramBuffer;

// The path of the program a calling block names: "O<P>" + extension beside
// the current program; else the comment as a path, its missing drive and
// directory taken from the current program; else "O<O>" + extension. False
// and an empty path without a current program or any of the three. Paths of
// any length are kept whole.
bool BuildSubprogramPath(const NcProgramBuffer* current, const NcBlockRecord& block,
                         std::string* path, std::string_view extension);

enum NcFillMode : int {
  kFillParsedToBinary = 0,  // the fill thread sends translated blocks
  kFillFileToBinary = 1,    // it streams a generated program file
  kFillResetBuffer = 2,     // it closes and resets the rotary buffer
};

// The fill mode of one coordinate system: written by the parser side, read
// whole by the fill thread.
class NcFillModeState {
 public:
  int mode() const { return mode_.load(std::memory_order_acquire); }
  // A mode outside 0..2 or equal to the current one changes nothing.
  void SetBufferMode(int mode) {
    if (mode < 0 || mode > 2 || mode == this->mode()) return;
    mode_.store(mode, std::memory_order_release);
  }
  // The block's L (truncated) when it has one; true when 0, 1 or 2 was taken.
  bool SetBufferModeFromBlock(const NcBlockRecord& block);

 private:
  std::atomic<int> mode_{kFillParsedToBinary};
};

// The cycle output file of a coordinate system and the spare slot.
class NcCycleFiles {
 public:
  NcCycleFiles() = default;
  ~NcCycleFiles();
  NcCycleFiles(const NcCycleFiles&) = delete;
  NcCycleFiles& operator=(const NcCycleFiles&) = delete;

  void SetCycleOutputFile(std::FILE* file, std::string name);
  std::FILE* cycle_file() const { return cycle_; }
  const std::string& cycle_name() const { return cycle_name_; }
  void CloseCycleOutputFile();
  void CloseSpareFile();

 private:
  std::FILE* cycle_ = nullptr;
  std::string cycle_name_;
  std::FILE* spare_ = nullptr;
  std::string spare_name_;
};

}  // namespace zimo::nc
