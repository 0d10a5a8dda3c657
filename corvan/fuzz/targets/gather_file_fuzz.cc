// Fuzz target: the gather file reader. The input is a file's bytes; the
// reader either refuses it or hands back contents that agree with the file:
// a header size of 1720, every array of an enabled source holding the
// header's sample count and two spare zeros, names terminated, and never
// more sample bytes than the file has.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "dpr/gather.h"
#include "fuzz_replay.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::uint32_t Get32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zimo::corvan;
  // fmemopen wants a writable buffer of at least one byte.
  std::vector<std::uint8_t> bytes(data, data + size);
  bytes.push_back(0);
  std::FILE* f = ::fmemopen(bytes.data(), size == 0 ? 1 : size, "rb");
  if (f == nullptr) return 0;
  GatherFileContents c;
  const bool read = ReadGatherFileContents(f, size, &c);
  std::fclose(f);
  if (!read) return 0;
  Check(size >= kGatherFileHeaderSize && Get32(data) == kGatherFileHeaderSize);
  Check(c.sample_count == Get32(data + 32));
  std::uint64_t arrays = 0;
  for (int n = 0; n < kGatherFileSources; ++n) {
    Check(c.names[n][kGatherFileNameChars] == '\0');
    if (c.enabled[n] == 0) {
      Check(c.samples[n].empty());
      continue;
    }
    ++arrays;
    Check(c.samples[n].size() == std::size_t{c.sample_count} + 2);
    Check(c.samples[n][c.sample_count] == 0.0 && c.samples[n][c.sample_count + 1] == 0.0);
  }
  Check(kGatherFileHeaderSize + 8 * arrays * c.sample_count <= size);
  return 0;
}

namespace zimo::testing {

const int kFuzzGeneratedInputs = 3000;

// A header made as a writer makes it, then bent: the size field, the
// enabled values, the sample count, and the file's length around the sample
// block.
std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  using namespace zimo::corvan;
  auto pick = [&random](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
  auto put32 = [](std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
  };
  std::vector<std::uint8_t> file(kGatherFileHeaderSize, 0);
  put32(file, 0, pick(8) == 0 ? pick(4000) : kGatherFileHeaderSize);
  const std::uint32_t count = pick(4) == 0 ? random() : pick(40);
  put32(file, 32, count);
  std::uint32_t enabled = 0;
  for (int n = 0; n < kGatherFileSources; ++n) {
    if (pick(3) == 0) {
      put32(file, 40 + 4 * n, pick(5) == 0 ? random() : 1);
      ++enabled;
    }
    for (std::size_t i = 0; i < 15; ++i)
      file[232 + 15 * n + i] = static_cast<std::uint8_t>(random());
  }
  std::size_t block = std::size_t{8} * enabled * (count < 40 ? count : 40);
  if (pick(3) == 0 && block > 0) block -= 1 + pick(static_cast<std::uint32_t>(block));
  for (std::size_t i = 0; i < block; ++i) file.push_back(static_cast<std::uint8_t>(random()));
  if (pick(6) == 0) file.resize(pick(kGatherFileHeaderSize + 64));
  return file;
}

}  // namespace zimo::testing
