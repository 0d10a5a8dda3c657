// Fuzz target: both plot-file readers on one file. Whatever the file holds,
// a reader may store only into the caller's 32767-element arrays, a refused
// file must leave the record as it was, and an accepted one must give a
// sample count the arrays can hold.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "labhelper/qeldll32.h"

namespace {

constexpr int kArrays = 13;
constexpr int kSize = 32767;
constexpr double kUntouched = -12345.5;

template <typename T>
void Put(std::vector<std::uint8_t>& bytes, size_t offset, T value) {
  if (bytes.size() < offset + sizeof value) bytes.resize(offset + sizeof value);
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

int32_t PickCount(std::mt19937& random) {
  static const int32_t kCounts[] = {-1, 0, 1, 2, 3, 7, 32767, 32768, 70000, -32768};
  return random() % 3 == 0 ? static_cast<int32_t>(random())
                           : kCounts[random() % (sizeof kCounts / sizeof kCounts[0])];
}

}  // namespace

namespace zimo::testing {

const int kFuzzGeneratedInputs = 3000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static const char* const kVersions[] = {"QEL Labrunner 3.0", "QEL Labrunner 4.0",
                                          "QEL Labrunner 4.1", "QEL Labrunner 4.2"};
  std::vector<std::uint8_t> bytes(random() % 2 ? 233 : 214);
  std::memcpy(bytes.data(), kVersions[random() % 4], 17);
  const int32_t count = PickCount(random);
  const int32_t mask = static_cast<int32_t>(random() & 0xFFF);
  int16_t per_row = 0;
  int blocks = 0;
  if (bytes[16] == '0' && bytes[15] == '3') {
    static const int16_t kPerRow[] = {-1, 0, 1, 2, 4, 5, 12, 32767};
    per_row = kPerRow[random() % 8];
    Put<int16_t>(bytes, 170, per_row);
    Put<int32_t>(bytes, 158, mask);
    Put<int32_t>(bytes, 194, count);
    Put<double>(bytes, 142, 0.000884);
    Put<double>(bytes, 150, static_cast<double>(random() % 40));
    blocks = per_row;
  } else {
    bytes.resize(233);
    Put<int16_t>(bytes, 60, static_cast<int16_t>(1 + random() % 2));
    Put<int32_t>(bytes, 203, mask);
    Put<int32_t>(bytes, 215, count);
    blocks = __builtin_popcount(mask);
  }
  // The data: the full amount for small counts, or a cut or random amount.
  size_t values = random() % 64;
  if (count > 0 && count <= 64 && blocks > 0 && blocks <= 12 && random() % 2) {
    values = static_cast<size_t>(count) * blocks - (random() % 3 == 0 ? 1 : 0);
  }
  for (size_t i = 0; i < values; ++i) {
    Put<double>(bytes, bytes.size(), static_cast<double>(static_cast<int32_t>(random())));
  }
  if (random() % 5 == 0) bytes.resize(random() % (bytes.size() + 1));
  return bytes;
}

}  // namespace zimo::testing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  labhelper_fuzz::QuietBoxes();
  static std::vector<std::vector<double>> arrays(kArrays, std::vector<double>(kSize, kUntouched));
  const std::string& path = labhelper_fuzz::WriteScratch(data, size);

  for (int reader = 0; reader < 2; ++reader) {
    PlotRecord record;
    std::memset(&record, 0x5A, sizeof record);
    PlotRecord before = record;
    int16_t mode = 77;
    auto a = [&](int i) { return arrays[i].data(); };
    const int16_t result =
        reader == 0 ? load_plot_file(path.c_str(), &record, a(0), a(1), a(2), a(3), a(4), a(5),
                                     a(6), a(7), a(8), a(9), &mode)
                    : load_plot_file2(path.c_str(), &record, a(0), a(1), a(2), a(3), a(4), a(5),
                                      a(6), a(7), a(8), a(9), a(10), a(11), a(12), &mode);
    if (result == 0) {
      if (std::memcmp(&record, &before, sizeof record) != 0 || mode != 77) std::abort();
      for (auto& array : arrays) {
        if (array[0] != kUntouched) std::abort();
      }
      continue;
    }
    if (result != 1 || record.sample_count < 0 || record.sample_count > kSize) std::abort();
    if (record.servo_time != 7427414) std::abort();
    // Elements past the count stay as they were; put the rest back.
    for (auto& array : arrays) {
      if (record.sample_count < kSize && array[record.sample_count] != kUntouched) {
        std::abort();
      }
      std::fill(array.begin(), array.begin() + record.sample_count, kUntouched);
    }
  }
  return 0;
}
