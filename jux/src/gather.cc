// Gather helpers: the card's gather settings, where a source sits in a
// gathered row, copying one source out of the DPR gather buffer with its
// scaling, and differentiating samples. Cards are found by settings name
// among the active controls.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "internal.h"

using namespace jux;

namespace {

constexpr long kWindowWords = 16384 / 4;
constexpr long kTwoWords = 0x800000;  // an address word with this bit: a 48-bit source

// 24-bit words one source takes in a row.
long SourceSize(const long* ivars, int bit) { return (ivars[21 + bit] & kTwoWords) ? 2 : 1; }

}  // namespace

extern "C" {

long get_gather_Ivars(const char* name, long* ivars) {
  tagMCardInfo* r = nullptr;
  if (!FindCardByName(name, &r) || ivars == nullptr) return 0;
  char reply[256];
  PGetResponse(r, reply, 254, "I58=1");
  PGetResponse(r, reply, 254, "I9=0");
  PFlush(r);
  for (long n = 10; n <= 45; ++n) {
    char command[32];
    std::snprintf(command, sizeof(command), "I%ld", n);
    if (PGetResponse(r, reply, 254, command)) ivars[n] = std::atol(reply);
  }
  return 1;
}

long get_num_samples_from_DPRAM(const char* name, long location) {
  tagMCardInfo* r = nullptr;
  if (!FindCardByName(name, &r)) return -1;
  return PDPRGetWord(r, 'X', location);
}

long get_total_24bit_sources(const char* name, long* ivars) {
  tagMCardInfo* r = nullptr;
  if (!FindCardByName(name, &r) || ivars == nullptr) return -1;
  long total = 0;
  for (int b = 0; b <= 24; ++b) {
    if (ivars[20] & (1L << b)) total += SourceSize(ivars, b);
  }
  return total + (total & 1);
}

long get_24bit_word_offset_in_ZIMO_gather_array(const char* name, long index, long* ivars) {
  tagMCardInfo* r = nullptr;
  if (!FindCardByName(name, &r) || ivars == nullptr) return -1;
  // The offset of the index-th set source (counted from 1) is the sum of the
  // sizes of the set sources before it.
  long counter = 0;
  long offset = 0;
  for (int b = 0; b <= 24; ++b) {
    if (!(ivars[20] & (1L << b))) continue;
    if (++counter == index) return offset;
    offset += SourceSize(ivars, b);
  }
  return 0;
}

long copy_gathered_data_from_DPRAM(const char* name, long source, char type, double* values,
                                   long* count, double* minimum, double* maximum, long stride,
                                   double scale, long mask, double offset, long count_location,
                                   long start) {
  if (minimum != nullptr) *minimum = 2147483647.0;
  if (maximum != nullptr) *maximum = -2147483647.0;
  tagMCardInfo* r = nullptr;
  if (!FindCardByName(name, &r) || count == nullptr || minimum == nullptr || maximum == nullptr) {
    return -1;
  }
  *count = stride > 0 ? PDPRGetWord(r, 'X', count_location) / stride : 0;
  if (*count == 0) return 0;
  long copied = 0;
  for (long i = 0; i < *count; ++i) {
    const long p = start + source + i * stride;
    // Samples past the window's end are not there to copy.
    if (p < 0 || p + (type == 'D' || type == 'Y' ? 1 : 0) >= kWindowWords) break;
    double value;
    if (type == 'D') {
      const long low = static_cast<long>(PDPRGetDWord(r, p) & 0xFFFFFF);
      const int32_t high = static_cast<int32_t>(PDPRGetDWord(r, p + 1));
      value = static_cast<double>(low) + static_cast<double>(high) * 16777216.0;
      if (mask >= 1) {
        value = static_cast<double>(static_cast<uint32_t>(static_cast<int64_t>(value)) &
                                    static_cast<uint32_t>(mask));
      }
      value = value * scale + offset;
    } else if (type == 'X' || type == 'Y') {
      long word = static_cast<long>(PDPRGetDWord(r, type == 'X' ? p : p + 1) & 0xFFFFFF);
      if (mask >= 1) word &= mask;
      value = static_cast<double>(word) * scale;
    } else {
      break;
    }
    if (values != nullptr) values[i] = value;
    if (value < *minimum) *minimum = value;
    if (value > *maximum) *maximum = value;
    ++copied;
  }
  *count = copied;
  if (*maximum <= *minimum) *maximum = *minimum + 1.0;
  return *count;
}

void get_first_derivative(double* samples, long n) {
  if (samples == nullptr || n < 1) return;
  const std::vector<double> copy(samples, samples + n);
  for (long i = 0; i < n; ++i) {
    const double previous = copy[static_cast<size_t>(i > 0 ? i - 1 : i)];
    const double next = copy[static_cast<size_t>(i + 1 < n ? i + 1 : i)];
    samples[i] = (next - previous) * 0.5;
  }
}

}  // extern "C"
