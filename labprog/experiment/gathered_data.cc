#include "labprog/gathered_data.h"

#include <algorithm>
#include <cstring>

namespace zimo::labprog {
namespace {

int32_t KeptCount(int32_t count) { return std::clamp(count, 0, GatheredData::kCapacity); }

}  // namespace

GatheredData::GatheredData() {
  for (std::vector<double>& a : Arrays) a.assign(kCapacity, 0.0);
}

std::array<double*, GatheredData::kArrays> GatheredData::ArrayPointers() {
  std::array<double*, kArrays> p;
  for (int i = 0; i < kArrays; ++i) p[i] = Arrays[i].data();
  return p;
}

std::array<const double*, GatheredData::kArrays> GatheredData::ArrayPointers() const {
  std::array<const double*, kArrays> p;
  for (int i = 0; i < kArrays; ++i) p[i] = Arrays[i].data();
  return p;
}

int GatheredArrayOf(int32_t channel_bit) {
  // Channel bits 0x1 to 0x800 in order, and the array each is uploaded into.
  static constexpr int kArrayOfBit[12] = {0, 1, 2, 3, 6, 7, 8, 9, 10, 12, 4, 5};
  for (int bit = 0; bit < 12; ++bit) {
    if (channel_bit == (1 << bit)) return kArrayOfBit[bit];
  }
  return -1;
}

PlotRecord ToPlotRecord(const GatheredData& data) {
  PlotRecord r;
  std::memset(&r, 0, sizeof r);
  r.gather_period = data.GatherPeriodCycles;
  r.servo_time = data.ServoPeriodWord;
  r.sample_count = KeptCount(data.SampleCount);
  std::memcpy(r.channel_min, data.ChannelMin, sizeof r.channel_min);
  std::memcpy(r.channel_max, data.ChannelMax, sizeof r.channel_max);
  r.sweep_time = data.SweepTime;
  r.sweep_start_frequency = data.StartFrequency;
  r.sweep_end_frequency = data.EndFrequency;
  r.sample_period = data.Ts;
  r.channel_mask = data.WhatToGather;
  r.left_signals = data.WhatToPlotLeft;
  r.right_signals = data.WhatToPlotRight;
  r.sweep_mode = data.SweepMode;
  const size_t n = std::min<size_t>(data.HeaderTitle.size(), sizeof r.title - 1);
  std::memcpy(r.title, data.HeaderTitle.data(), n);
  return r;
}

void FromPlotRecord(const PlotRecord& r, GatheredData& data) {
  data.GatherPeriodCycles = r.gather_period;
  data.ServoPeriodWord = r.servo_time;
  data.SampleCount = KeptCount(r.sample_count);
  std::memcpy(data.ChannelMin, r.channel_min, sizeof r.channel_min);
  std::memcpy(data.ChannelMax, r.channel_max, sizeof r.channel_max);
  data.SweepTime = r.sweep_time;
  data.StartFrequency = r.sweep_start_frequency;
  data.EndFrequency = r.sweep_end_frequency;
  data.Ts = r.sample_period;
  data.WhatToGather = r.channel_mask;
  data.WhatToPlotLeft = r.left_signals;
  data.WhatToPlotRight = r.right_signals;
  data.SweepMode = r.sweep_mode;
  data.HeaderTitle.assign(r.title, strnlen(r.title, sizeof r.title));
}

}  // namespace zimo::labprog
