// Gather files: one device's gather settings (sources 0-23 and the first
// enable mask) and this process's uploaded samples, little-endian.
//
//   0     u32  header size, 1720
//   8     f64  sample time (ms)
//   16    u32  period          20 u32 enable mask (sources 0-23)
//   28    u32  source count    32 u32 sample count    36 u32 words per sample
//   40    48 x u32 enabled values (0-23 used)
//   232   48 x 15 bytes names (0-23 used: 14 characters, NUL-padded)
//   952   48 x u32 word sizes (0-23 used)
//   1720  per source 0-23 with an enabled value not 0: sample count doubles
//
// The reader takes only a whole file: anything else is refused before the
// device's settings are touched.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/gather_api.h"
#include "dpr/command_lock.h"
#include "dpr/gather.h"
#include "link/library_app.h"
#include "platform/codepage.h"
#include "platform/message.h"
#include "platform/win_path.h"

namespace zimo::corvan {
namespace {

constexpr std::size_t kSizeAt = 0, kSampleTimeAt = 8, kPeriodAt = 16, kMaskAt = 20,
                      kSourceCountAt = 28, kSampleCountAt = 32, kWordsPerSampleAt = 36,
                      kEnabledAt = 40, kNamesAt = 232, kWordsAt = 952;

static_assert(kNamesAt == kEnabledAt + 4 * kGatherSources);
static_assert(kWordsAt == kNamesAt + kGatherSourceNameSize * kGatherSources);
static_assert(kWordsAt + 4 * kGatherSources <= kGatherFileHeaderSize);

void Put32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const std::uint8_t* at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(at[i]) << (8 * i);
  return v;
}
void PutDouble(std::uint8_t* at, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, 8);
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}
double GetDouble(const std::uint8_t* at) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(at[i]) << (8 * i);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

void ShowOpenError(const char* path) {
  std::string text = "Unable to open gather file ";
  text += path != nullptr ? path : "";
  text += ".";
  platform::ShowMessageBox(text, "File Error", platform::kMbIconError);
}

std::FILE* OpenFile(const char* path, const char* mode) {
  if (path == nullptr || *path == '\0') return nullptr;
  return std::fopen(platform::ToHostPath(platform::Cp1252ToUtf8(path)).c_str(), mode);
}

bool WriteDoubles(std::FILE* f, const std::vector<double>& data, std::uint32_t count) {
  // Samples this process holds, then zeros for the rest, so that a reader
  // stays in step with every source the header lists.
  std::uint8_t chunk[8 * 512];
  std::uint32_t done = 0;
  while (done < count) {
    const std::uint32_t n = std::min<std::uint32_t>(count - done, 512);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t at = std::size_t{done} + i;
      PutDouble(chunk + 8 * i, at < data.size() ? data[at] : 0.0);
    }
    if (std::fwrite(chunk, 8, n, f) != n) return false;
    done += n;
  }
  return true;
}

}  // namespace

std::array<std::uint8_t, kGatherFileHeaderSize> GatherFileHeader(const SharedDeviceBlock& s) {
  std::array<std::uint8_t, kGatherFileHeaderSize> h{};
  Put32(&h[kSizeAt], kGatherFileHeaderSize);
  PutDouble(&h[kSampleTimeAt], s.GatherSampleTime);
  Put32(&h[kPeriodAt], s.GatherPeriod);
  Put32(&h[kMaskAt], s.GatherEnableMask[0]);
  Put32(&h[kSourceCountAt], s.GatherSourceCount);
  Put32(&h[kSampleCountAt], s.GatherSampleCount);
  Put32(&h[kWordsPerSampleAt], s.GatherWordsPerSample);
  for (int n = 0; n < kGatherFileSources; ++n) {
    Put32(&h[kEnabledAt + 4 * n], s.GatherSourceEnabled[n]);
    const char* name = s.GatherSourceName[n];
    std::memcpy(&h[kNamesAt + kGatherSourceNameSize * n], name,
                strnlen(name, kGatherFileNameChars));
    Put32(&h[kWordsAt + 4 * n], s.GatherSourceWords[n]);
  }
  return h;
}

bool ReadGatherFileContents(std::FILE* file, std::uint64_t file_size, GatherFileContents* out) {
  std::uint8_t h[kGatherFileHeaderSize];
  if (file_size < kGatherFileHeaderSize || std::fread(h, 1, sizeof h, file) != sizeof h ||
      Get32(&h[kSizeAt]) != kGatherFileHeaderSize) {
    return false;
  }
  GatherFileContents c;
  c.sample_time = GetDouble(&h[kSampleTimeAt]);
  c.period = Get32(&h[kPeriodAt]);
  c.enable_mask = Get32(&h[kMaskAt]);
  c.source_count = Get32(&h[kSourceCountAt]);
  c.sample_count = Get32(&h[kSampleCountAt]);
  c.words_per_sample = Get32(&h[kWordsPerSampleAt]);
  int arrays = 0;
  for (int n = 0; n < kGatherFileSources; ++n) {
    c.enabled[n] = Get32(&h[kEnabledAt + 4 * n]);
    std::memcpy(c.names[n].data(), &h[kNamesAt + kGatherSourceNameSize * n], kGatherFileNameChars);
    c.names[n][kGatherFileNameChars] = '\0';
    c.words[n] = Get32(&h[kWordsAt + 4 * n]);
    if (c.enabled[n] != 0) ++arrays;
  }
  // The samples the header promises must all be in the file.
  const std::uint64_t block =
      std::uint64_t{8} * c.sample_count * static_cast<std::uint64_t>(arrays);
  if (block > file_size - kGatherFileHeaderSize) return false;
  std::vector<std::uint8_t> raw;
  for (int n = 0; n < kGatherFileSources; ++n) {
    if (c.enabled[n] == 0) continue;
    try {
      raw.resize(std::size_t{8} * c.sample_count);
      c.samples[n].assign(std::size_t{c.sample_count} + 2, 0.0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (std::fread(raw.data(), 8, c.sample_count, file) != c.sample_count) return false;
    for (std::uint32_t i = 0; i < c.sample_count; ++i) c.samples[n][i] = GetDouble(&raw[8 * i]);
  }
  *out = std::move(c);
  return true;
}

}  // namespace zimo::corvan

extern "C" {

int32_t ZimoWriteGatherFile(uint32_t device, const char* path) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  SharedDeviceBlock* b = IsRealDevice(d) ? App().Block(d) : nullptr;
  if (b == nullptr) return 0;
  std::FILE* f = OpenFile(path, "wb");
  if (f == nullptr) {
    ShowOpenError(path);
    return 0;
  }
  CommandLock lock(device);
  const auto header = GatherFileHeader(*b);
  bool written = std::fwrite(header.data(), 1, header.size(), f) == header.size();
  const GatherState& g = App().User(d)->Gather;
  for (int n = 0; written && n < kGatherFileSources; ++n) {
    if (b->GatherSourceEnabled[n] == 0) continue;
    written = WriteDoubles(f, g.GatherData[n], b->GatherSampleCount);
  }
  // A full disk may only show when the last bytes leave the buffer.
  written = std::fflush(f) == 0 && written;
  written = std::fclose(f) == 0 && written;
  return written ? 1 : 0;
}

int32_t ZimoReadGatherFile(uint32_t device, const char* path) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  SharedDeviceBlock* b = IsRealDevice(d) ? App().Block(d) : nullptr;
  if (b == nullptr) return 0;
  std::FILE* f = OpenFile(path, "rb");
  if (f == nullptr) {
    ShowOpenError(path);
    return 0;
  }
  struct stat st {};
  GatherFileContents c;
  const bool whole = ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) &&
                     ReadGatherFileContents(f, static_cast<std::uint64_t>(st.st_size), &c);
  std::fclose(f);
  if (!whole) return 0;

  CommandLock lock(device);
  ZimoClearGather(device);
  b->GatherSampleTime = c.sample_time;
  b->GatherPeriod = c.period;
  b->GatherEnableMask[0] = c.enable_mask;
  b->GatherSourceCount = c.source_count;
  b->GatherSampleCount = c.sample_count;
  b->GatherWordsPerSample = c.words_per_sample;
  GatherState& g = App().User(d)->Gather;
  for (int n = 0; n < kGatherFileSources; ++n) {
    b->GatherSourceEnabled[n] = c.enabled[n];
    std::memcpy(b->GatherSourceName[n], c.names[n].data(), kGatherSourceNameSize);
    b->GatherSourceWords[n] = c.words[n];
    g.GatherData[n] = std::move(c.samples[n]);
  }
  return 1;
}

}  // extern "C"
