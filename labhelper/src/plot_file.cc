// Binary plot files. We write format 4.0 and 4.1 and accept 3.0, 4.0 and
// 4.1 on input. Readers parse the whole file into locals first and copy into
// the caller's record and arrays only after it all checks out, so a
// rejected file leaves the caller's data untouched.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "files.h"
#include "labhelper/qeldll32.h"
#include "platform/debug.h"
#include "platform/message.h"
#include "plot_channels.h"

namespace zimo::labhelper {
namespace {

constexpr char kVersion30[] = "QEL Labrunner 3.0";
constexpr char kVersion40[] = "QEL Labrunner 4.0";
constexpr char kVersion41[] = "QEL Labrunner 4.1";
constexpr size_t kVersionLength = 17;
constexpr int kMaxCount = 32767;
// The lab's servo period, which version 3.0 files do not carry.
constexpr int32_t kLabServoTime = 7427414;
constexpr double kSamplesPerSecond30 = 1131.2217194570135;  // 1 / 0.000884 s
constexpr double kPositionScale30 = 0.03125;
constexpr double kDacToVolts30 = 0.0003051850947599719;  // 10 / 32767

// Version 3.0 header: only these fields are read.
#pragma pack(push, 1)
struct PlotFile30Header {
  char version[17];
  char unused1[45];
  char title[80];
  double sample_period;
  double samples_per_period;
  int32_t channel_mask;
  int32_t left_signals;
  int32_t right_signals;
  int16_t values_per_row;
  char unused2[22];
  int32_t sample_count;
  char unused3[16];
};
#pragma pack(pop)
static_assert(offsetof(PlotFile30Header, title) == 62);
static_assert(offsetof(PlotFile30Header, sample_period) == 142);
static_assert(offsetof(PlotFile30Header, samples_per_period) == 150);
static_assert(offsetof(PlotFile30Header, channel_mask) == 158);
static_assert(offsetof(PlotFile30Header, left_signals) == 162);
static_assert(offsetof(PlotFile30Header, right_signals) == 166);
static_assert(offsetof(PlotFile30Header, values_per_row) == 170);
static_assert(offsetof(PlotFile30Header, sample_count) == 194);
static_assert(sizeof(PlotFile30Header) == 214);

int16_t Fail(const char* text) {
  platform::ShowMessageBox(text, kErrorTitle, platform::kMbOk | platform::kMbIconExclamation);
  return 0;
}

// Copies at most 127 characters of a title field that may lack a terminator,
// zero-filling the rest of the 128-byte destination.
void CopyTitle(char* destination, const char* source, size_t source_size) {
  const size_t length = strnlen(source, std::min<size_t>(source_size, 127));
  std::memset(destination, 0, 128);
  std::memcpy(destination, source, length);
}

int16_t SavePlotFile(const char* file_name, const PlotRecord* record,
                     const ChannelSet<const double>& channels, int blocks, const char* version,
                     int16_t mode) {
  if (record == nullptr) return 0;
  std::FILE* file = OpenForWriting(file_name);
  if (file == nullptr) return Fail(kUnableToOpen);

  PlotFileHeader header;
  std::memset(&header, 0, sizeof header);
  std::memcpy(header.version, version, kVersionLength);
  header.mode = mode;
  CopyTitle(header.title, record->title, sizeof record->title);
  header.sample_period = record->sample_period;
  header.gather_period = record->gather_period;
  header.channel_mask = record->channel_mask;
  header.left_signals = record->left_signals;
  header.right_signals = record->right_signals;
  header.sample_count = record->sample_count;
  if (mode == 2) {
    header.sweep_mode = record->sweep_mode;
    header.sweep_start_frequency = record->sweep_start_frequency;
    header.sweep_end_frequency = record->sweep_end_frequency;
    header.sweep_time = record->sweep_time;
  } else {
    header.sweep_mode = -1;
    header.sweep_start_frequency = -1.0f;
    header.sweep_end_frequency = -1.0f;
    header.sweep_time = -1.0f;
  }

  bool written = std::fwrite(&header, sizeof header, 1, file) == 1;
  const int32_t count = std::max(record->sample_count, 0);
  std::vector<double> zeros;
  for (int b = 0; b < blocks && written; ++b) {
    if ((record->channel_mask & kBlockBits[b]) == 0 || count == 0) continue;
    const double* values = channels.by_block[b];
    if (values == nullptr) {
      zeros.assign(count, 0.0);
      values = zeros.data();
    }
    written = std::fwrite(values, sizeof(double), count, file) == static_cast<size_t>(count);
  }
  if (std::fclose(file) != 0) written = false;
  if (!written) {
    platform::DebugPrintf("qeldll32: writing plot file %s failed\n", file_name);
    return 0;
  }
  return 1;
}

bool ReadAt(std::FILE* file, long offset, void* buffer, size_t size) {
  return std::fseek(file, offset, SEEK_SET) == 0 && std::fread(buffer, 1, size, file) == size;
}

// The gather period of a 3.0 file: samples per period times the lab's servo
// rate, truncated to 16 bits. A product a hair below a whole number counts
// as that number (0.000884 s x 1131.22 x 10 falls just short of 10).
int32_t GatherPeriod30(double sample_period, double samples_per_period) {
  double product = sample_period * kSamplesPerSecond30 * samples_per_period;
  if (!std::isfinite(product)) return 0;
  const double nearest = std::round(product);
  if (std::fabs(product - nearest) <= 1e-9) product = nearest;
  const double whole = std::fmod(std::trunc(product), 65536.0);
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(whole) & 0xFFFF));
}

int16_t LoadVersion4(std::FILE* file, off_t file_size, PlotRecord* record,
                     const ChannelSet<double>& channels, int blocks, int16_t* mode) {
  PlotFileHeader header;
  if (file_size < static_cast<off_t>(sizeof header) || !ReadAt(file, 0, &header, sizeof header)) {
    return Fail(kBadPlotFile);
  }
  const int32_t count = header.sample_count;
  if (count < 0 || count > kMaxCount) return Fail(kBadPlotFile);
  int present = 0;
  for (int b = 0; b < blocks; ++b) {
    if (header.channel_mask & kBlockBits[b]) ++present;
  }
  const off_t needed = static_cast<off_t>(sizeof header) + static_cast<off_t>(present) * count * 8;
  if (file_size < needed) return Fail(kBadPlotFile);
  std::vector<double> data;
  try {
    data.resize(static_cast<size_t>(present) * count);
  } catch (const std::bad_alloc&) {
    return Fail(kNoMemory);
  }
  if (!data.empty() && std::fread(data.data(), sizeof(double), data.size(), file) != data.size()) {
    return Fail(kBadPlotFile);
  }

  CopyTitle(record->title, header.title, sizeof header.title);
  record->sample_period = header.sample_period;
  record->gather_period = header.gather_period;
  record->channel_mask = header.channel_mask;
  record->left_signals = header.left_signals;
  record->right_signals = header.right_signals;
  record->sample_count = count;
  record->servo_time = kLabServoTime;
  if (mode != nullptr) *mode = header.mode;
  if (header.mode == 2) {
    record->sweep_mode = header.sweep_mode;
    record->sweep_start_frequency = header.sweep_start_frequency;
    record->sweep_end_frequency = header.sweep_end_frequency;
    record->sweep_time = header.sweep_time;
  }
  const double* block = data.data();
  for (int b = 0; b < blocks; ++b) {
    if ((header.channel_mask & kBlockBits[b]) == 0) continue;
    if (channels.by_block[b] != nullptr && count > 0) {
      std::memcpy(channels.by_block[b], block, sizeof(double) * count);
    }
    block += count;
  }
  return 1;
}

int16_t LoadVersion30(std::FILE* file, off_t file_size, PlotRecord* record,
                      const ChannelSet<double>& channels, int16_t* mode) {
  PlotFile30Header header;
  if (file_size < static_cast<off_t>(sizeof header) || !ReadAt(file, 0, &header, sizeof header)) {
    return Fail(kBadPlotFile);
  }
  const int32_t count = header.sample_count;
  const int32_t per_row = header.values_per_row;
  if (count < 0 || count > kMaxCount || per_row < 1) return Fail(kBadPlotFile);
  const off_t values = static_cast<off_t>(count) * per_row;
  if (file_size < static_cast<off_t>(sizeof header) + values * 8) return Fail(kBadPlotFile);
  std::vector<double> rows;
  try {
    rows.resize(static_cast<size_t>(values));
  } catch (const std::bad_alloc&) {
    return Fail(kNoMemory);
  }
  if (!rows.empty() && std::fread(rows.data(), sizeof(double), rows.size(), file) != rows.size()) {
    return Fail(kBadPlotFile);
  }

  CopyTitle(record->title, header.title, sizeof header.title);
  record->sample_period = header.sample_period;
  record->gather_period = GatherPeriod30(header.sample_period, header.samples_per_period);
  record->servo_time = kLabServoTime;
  record->left_signals = header.left_signals;
  record->right_signals = header.right_signals;
  record->channel_mask = header.channel_mask;
  record->sample_count = count;
  if (mode != nullptr) *mode = 1;

  auto take = [&](int block, int column, double scale) {
    double* out = channels.by_block[block];
    if (out == nullptr) return;
    for (int32_t i = 0; i < count; ++i)
      out[i] = rows[static_cast<size_t>(i) * per_row + column] * scale;
  };
  // Column 0 belongs to the commanded position; the other channels take the
  // following columns in order, starting at column 2 when the commanded
  // position was read and at column 1 otherwise.
  const int32_t mask = header.channel_mask;
  int column = 0;
  if (mask & 0x01) {
    take(0, 0, kPositionScale30);
    column = 1;
  }
  ++column;
  for (int b = 1; b < kVersion40Blocks; ++b) {
    if ((mask & kBlockBits[b]) == 0 || column >= per_row) continue;
    const double scale = b < 4 ? kPositionScale30 : b < 8 ? 1.0 : kDacToVolts30;
    take(b, column, scale);
    ++column;
  }
  return 1;
}

int16_t LoadPlotFile(const char* file_name, PlotRecord* record, const ChannelSet<double>& channels,
                     const char* own_version, int blocks, int16_t* mode) {
  if (record == nullptr) return 0;
  std::FILE* file = OpenForReading(file_name);
  if (file == nullptr) return Fail(kUnableToOpen);
  struct stat info;
  char version[kVersionLength] = {};
  int16_t result;
  if (fstat(fileno(file), &info) != 0 ||
      !ReadAt(file, 0, version, std::min<off_t>(info.st_size, kVersionLength))) {
    result = Fail(kBadPlotFile);
  } else if (std::memcmp(version, kVersion30, kVersionLength) == 0) {
    result = LoadVersion30(file, info.st_size, record, channels, mode);
  } else if (std::memcmp(version, own_version, kVersionLength) == 0) {
    result = LoadVersion4(file, info.st_size, record, channels, blocks, mode);
  } else {
    result = Fail(kBadPlotFile);
  }
  std::fclose(file);
  return result;
}

}  // namespace
}  // namespace zimo::labhelper

using zimo::labhelper::ChannelsFromArguments;
using zimo::labhelper::kPlotChannels;
using zimo::labhelper::kVersion40Blocks;

extern "C" {

int16_t save_plot_file(const char* file_name, const PlotRecord* record, const double* cmd,
                       const double* enc1, const double* enc2, const double* enc3,
                       const double* effort, const double* disturbance, const double* q10,
                       const double* q11, const double* q12, const double* q13, int16_t mode) {
  const auto channels = ChannelsFromArguments<const double>(
      cmd, enc1, enc2, enc3, effort, disturbance, q10, q11, q12, q13, nullptr, nullptr);
  return zimo::labhelper::SavePlotFile(file_name, record, channels, kVersion40Blocks,
                                       zimo::labhelper::kVersion40, mode);
}

int16_t save_plot_file2(const char* file_name, const PlotRecord* record, const double* cmd,
                        const double* enc1, const double* enc2, const double* enc3,
                        const double* effort, const double* disturbance, const double* q10,
                        const double* q11, const double* q12, const double* q13, const double* cmd2,
                        const double* /*extra*/, const double* enc4, int16_t mode) {
  const auto channels = ChannelsFromArguments<const double>(
      cmd, enc1, enc2, enc3, effort, disturbance, q10, q11, q12, q13, cmd2, enc4);
  return zimo::labhelper::SavePlotFile(file_name, record, channels, kPlotChannels,
                                       zimo::labhelper::kVersion41, mode);
}

int16_t load_plot_file(const char* file_name, PlotRecord* record, double* cmd, double* enc1,
                       double* enc2, double* enc3, double* effort, double* disturbance, double* q10,
                       double* q11, double* q12, double* q13, int16_t* mode) {
  const auto channels = ChannelsFromArguments<double>(cmd, enc1, enc2, enc3, effort, disturbance,
                                                      q10, q11, q12, q13, nullptr, nullptr);
  return zimo::labhelper::LoadPlotFile(file_name, record, channels, zimo::labhelper::kVersion40,
                                       kVersion40Blocks, mode);
}

int16_t load_plot_file2(const char* file_name, PlotRecord* record, double* cmd, double* enc1,
                        double* enc2, double* enc3, double* effort, double* disturbance,
                        double* q10, double* q11, double* q12, double* q13, double* cmd2,
                        double* /*extra*/, double* enc4, int16_t* mode) {
  const auto channels = ChannelsFromArguments<double>(cmd, enc1, enc2, enc3, effort, disturbance,
                                                      q10, q11, q12, q13, cmd2, enc4);
  return zimo::labhelper::LoadPlotFile(file_name, record, channels, zimo::labhelper::kVersion41,
                                       kPlotChannels, mode);
}

void get_min_max_val(const double* values, int16_t count, double* minimum, double* maximum) {
  double low = 2147483647.0;
  double high = -2147483647.0;
  for (int i = 0; values != nullptr && i < count; ++i) {
    if (values[i] > high) high = values[i];
    if (values[i] < low) low = values[i];
  }
  if (!(high > low)) high = low + 1.0;
  if (minimum != nullptr) *minimum = low;
  if (maximum != nullptr) *maximum = high;
}

}  // extern "C"
