#include "nc/translator/subprogram_path.h"

#include <cmath>

#include "nc/translator/program_text.h"
#include "platform/win_path.h"

namespace zimo::nc {

namespace {

std::string ProgramName(double value) {
  char name[400];
  std::snprintf(name, sizeof name, "O%.0f", value);
  return name;
}

}  // namespace

bool BuildSubprogramPath(const NcProgramBuffer* current, const NcBlockRecord& block,
                         std::string* path, std::string_view extension) {
  path->clear();
  if (current == nullptr) return false;
  const platform::WinPathParts& here = current->parts;
  if (block.addr_count[kSlotP] != 0) {
    *path = platform::MakeWinPath(here.drive, here.dir, ProgramName(block.addr_value[kSlotP]),
                                  extension);
    return true;
  }
  if (block.comment[0] != '\0') {
    platform::WinPathParts parts = platform::SplitWinPath(block.comment);
    if (parts.drive.empty()) parts.drive = here.drive;
    if (parts.dir.empty()) parts.dir = here.dir;
    *path = platform::MakeWinPath(parts.drive, parts.dir, parts.name, parts.ext);
    return true;
  }
  if (block.addr_count[kSlotO] != 0) {
    *path = platform::MakeWinPath(here.drive, here.dir, ProgramName(block.addr_value[kSlotO]),
                                  extension);
    return true;
  }
  return false;
}

bool NcFillModeState::SetBufferModeFromBlock(const NcBlockRecord& block) {
  int m = 4;
  if (block.addr_count[kSlotL] != 0) {
    const double l = std::trunc(block.addr_value[kSlotL]);
    m = (l >= 0.0 && l <= 2.0) ? static_cast<int>(l) : 4;
  }
  if (m < 0 || m > 2) return false;
  SetBufferMode(m);
  return true;
}

NcCycleFiles::~NcCycleFiles() {
  CloseCycleOutputFile();
  CloseSpareFile();
}

void NcCycleFiles::SetCycleOutputFile(std::FILE* file, std::string name) {
  CloseCycleOutputFile();
  cycle_ = file;
  cycle_name_ = std::move(name);
}

void NcCycleFiles::CloseCycleOutputFile() {
  if (cycle_ != nullptr) std::fclose(cycle_);
  cycle_ = nullptr;
  cycle_name_.clear();
}

void NcCycleFiles::CloseSpareFile() {
  if (spare_ != nullptr) std::fclose(spare_);
  spare_ = nullptr;
  spare_name_.clear();
}

}  // namespace zimo::nc
