// The gathered data's header as the helper library takes it: every field at
// its place in the packed 288-byte record, the title cut to fit, a sample
// count that never lets the library read past the arrays, and the arrays in
// the order of the upload's channels.
#include "labprog/gathered_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace zimo::labprog {
namespace {

template <typename T>
T At(const PlotRecord& r, size_t offset) {
  T v;
  std::memcpy(&v, reinterpret_cast<const char*>(&r) + offset, sizeof v);
  return v;
}

TEST(GatheredDataTest, HeaderFillsThePackedRecordAtItsPlaces) {
  GatheredData d;
  d.GatherPeriodCycles = 10;
  d.ServoPeriodWord = 7427414;
  d.SampleCount = 1234;
  d.ChannelMin[0] = -1.5f;
  d.ChannelMax[13] = 2.5f;
  d.SweepTime = 3.5f;
  d.StartFrequency = 0.25f;
  d.EndFrequency = 20;
  d.Ts = 0.000884;
  d.WhatToGather = 0x0F;
  d.WhatToPlotLeft = 0x19;
  d.WhatToPlotRight = 0x80000;
  d.SweepMode = 2;
  d.HeaderTitle = "Closed Loop Step";
  const PlotRecord r = ToPlotRecord(d);
  static_assert(sizeof r == 288);
  EXPECT_EQ(At<int32_t>(r, 0), 10);
  EXPECT_EQ(At<int32_t>(r, 4), 7427414);
  EXPECT_EQ(At<int32_t>(r, 8), 1234);
  EXPECT_EQ(At<float>(r, 12), -1.5f);
  EXPECT_EQ(At<float>(r, 68 + 13 * 4), 2.5f);
  EXPECT_EQ(At<float>(r, 124), 3.5f);
  EXPECT_EQ(At<float>(r, 128), 0.25f);
  EXPECT_EQ(At<float>(r, 132), 20.0f);
  EXPECT_EQ(At<double>(r, 136), 0.000884);
  EXPECT_EQ(At<int32_t>(r, 144), 0x0F);
  EXPECT_EQ(At<int32_t>(r, 148), 0x19);
  EXPECT_EQ(At<int32_t>(r, 152), 0x80000);
  EXPECT_EQ(At<int16_t>(r, 156), 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r) + 160), "Closed Loop Step");
  for (size_t i = 160 + 16; i < 288; ++i) EXPECT_EQ(reinterpret_cast<const char*>(&r)[i], 0) << i;

  GatheredData back;
  FromPlotRecord(r, back);
  EXPECT_EQ(back.SampleCount, 1234);
  EXPECT_EQ(back.Ts, 0.000884);
  EXPECT_EQ(back.WhatToPlotRight, 0x80000);
  EXPECT_EQ(back.SweepMode, 2);
  EXPECT_EQ(back.ChannelMax[13], 2.5f);
  EXPECT_EQ(back.HeaderTitle, "Closed Loop Step");
}

TEST(GatheredDataTest, CountsAndTitlesThatDoNotFitAreKeptWithinBounds) {
  GatheredData d;
  d.HeaderTitle = std::string(200, 't');
  struct Case {
    int32_t count, handed;
  };
  for (const Case c : {Case{-5, 0}, Case{0, 0}, Case{32767, 32767}, Case{40000, 32767}}) {
    d.SampleCount = c.count;
    const PlotRecord r = ToPlotRecord(d);
    EXPECT_EQ(r.sample_count, c.handed) << c.count;
    EXPECT_EQ(std::strlen(r.title), 127u);
  }
  PlotRecord r;
  std::memset(&r, 'x', sizeof r);  // a title without terminator
  r.sample_count = 99999;
  FromPlotRecord(r, d);
  EXPECT_EQ(d.HeaderTitle, std::string(128, 'x'));
  EXPECT_EQ(d.SampleCount, GatheredData::kCapacity);
}

TEST(GatheredDataTest, ChannelsGoToTheirArraysAndEachArrayHoldsAFullUpload) {
  const int32_t bits[] = {0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200, 0x400, 0x800};
  const int arrays[] = {0, 1, 2, 3, 6, 7, 8, 9, 10, 12, 4, 5};
  for (size_t i = 0; i < std::size(bits); ++i) EXPECT_EQ(GatheredArrayOf(bits[i]), arrays[i]);
  for (int32_t other : {0, 0x3, 0x1000, -1}) EXPECT_EQ(GatheredArrayOf(other), -1);
  GatheredData d;
  auto pointers = d.ArrayPointers();
  for (int i = 0; i < GatheredData::kArrays; ++i) {
    ASSERT_EQ(d.Arrays[i].size(), 32767u);
    EXPECT_EQ(pointers[i], d.Arrays[i].data());
    pointers[i][32766] = i;  // the last sample of a full upload
  }
  EXPECT_EQ(d.Arrays[12][32766], 12);
}

}  // namespace
}  // namespace zimo::labprog
