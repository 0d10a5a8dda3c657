// The gathered samples of the last upload: thirteen arrays of doubles
// (element 0 the first sample) and their header, which the lab helper
// library takes as its packed 288-byte PlotRecord.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "labhelper/qeldll32.h"

namespace zimo::labprog {

struct GatheredData {
  // Samples each array can hold: the most a plot file or an upload carries.
  static constexpr int32_t kCapacity = 32767;
  static constexpr int kArrays = 13;

  GatheredData();

  std::array<std::vector<double>, kArrays> Arrays;  // each kCapacity long

  // The header.
  int32_t GatherPeriodCycles = 0;
  int32_t ServoPeriodWord = 0;
  int32_t SampleCount = 0;
  float ChannelMin[14] = {};
  float ChannelMax[14] = {};
  float SweepTime = 0;
  float StartFrequency = 0;
  float EndFrequency = 0;
  double Ts = 0;
  int32_t WhatToGather = 0;
  int32_t WhatToPlotLeft = 0;
  int32_t WhatToPlotRight = 0;
  int16_t SweepMode = 0;
  std::string HeaderTitle;  // at most 127 characters reach the library

  // The arrays in the order 0 to 12, as the library's functions take them.
  std::array<double*, kArrays> ArrayPointers();
  std::array<const double*, kArrays> ArrayPointers() const;
};

// The array a gather channel bit (0x1 to 0x800) is uploaded into; -1 for
// anything else. Array 11 is never filled.
int GatheredArrayOf(int32_t channel_bit);

// The header as the library takes it. The sample count handed over never
// exceeds what the arrays hold (a negative one counts as 0), so the library
// cannot read past them; the title is cut to 127 characters and the rest of
// its 128 bytes are zero.
PlotRecord ToPlotRecord(const GatheredData& data);
// Takes the header back from a record the library filled (a plot file
// read); a count outside 0..kCapacity is kept out the same way.
void FromPlotRecord(const PlotRecord& record, GatheredData& data);

}  // namespace zimo::labprog
