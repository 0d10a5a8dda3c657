// Step statistics, the low-pass filter and the derivative of gathered data:
// pure computations, checked against figures worked out by hand.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "platform/message.h"

namespace {

struct Figures {
  std::string rise, peak, natural, overshoot, damping, settling;
};

// I10 = 8388608 and I19 = 1 make one sample last one millisecond.
Figures Statistics(const std::vector<std::int32_t>& x, std::int32_t step,
                   std::int32_t i10 = 8388608, std::int32_t i19 = 1) {
  char t[6][ZIMO_STEP_TEXT_SIZE];
  CalculateStepStatistics(x.data(), static_cast<std::int32_t>(x.size()), step, i10, i19, t[0], t[1],
                          t[2], t[3], t[4], t[5]);
  return {t[0], t[1], t[2], t[3], t[4], t[5]};
}

void ExpectFigures(const Figures& got, const Figures& want) {
  EXPECT_EQ(got.rise, want.rise);
  EXPECT_EQ(got.peak, want.peak);
  EXPECT_EQ(got.natural, want.natural);
  EXPECT_EQ(got.overshoot, want.overshoot);
  EXPECT_EQ(got.damping, want.damping);
  EXPECT_EQ(got.settling, want.settling);
}

TEST(StepStatistics, StrictlyRisingResponseEndingAtTheStep) {
  std::vector<std::int32_t> x;
  for (int i = 1; i <= 100; ++i) x.push_back(i * 10);  // 10 .. 1000
  // Levels 109 and 901: samples 110 .. 900 lie between (80 ms); the peak is
  // the last sample; critically damped, so 3.5 / 0.080 s / 2 pi = 6.96 Hz;
  // never inside 5 % within the first half.
  ExpectFigures(Statistics(x, 1000), {"0.080 s", "0.099 s", "7.0 Hz", "0.0%", "1.0", "-1.000 s"});
}

TEST(StepStatistics, OvershootingResponse) {
  std::vector<std::int32_t> x(100, 1000);
  x[0] = 0;
  x[1] = 500;
  x[3] = 1100;
  // Peak 1100 at 3 ms, 10 % overshoot: damping sin(atan(ln 10 / pi)) = 0.59,
  // natural frequency pi / (sqrt(1 - 0.59^2) x 3 ms) / 2 pi = 206.6 Hz.
  // The band is left at sample 3 and entered again at sample 4.
  ExpectFigures(Statistics(x, 1000), {"0.001 s", "0.003 s", "206.6 Hz", "10.0%", "0.6", "0.004 s"});
  // Samples last I19 servo cycles: five of them make every time five times
  // longer and the frequency a fifth.
  ExpectFigures(Statistics(x, 1000, 8388608, 5),
                {"0.005 s", "0.015 s", "41.3 Hz", "10.0%", "0.6", "0.020 s"});
}

TEST(StepStatistics, PeakSearchEndsOnlyOnADipAfterSample20) {
  std::vector<std::int32_t> x(40);
  x[0] = 100;
  x[1] = 50;  // an early dip does not end the walk
  for (int i = 2; i <= 30; ++i) x[i] = i * 30;
  x[31] = 800;   // this dip does
  x[32] = 2000;  // so a higher sample later is never seen
  for (int i = 33; i < 40; ++i) x[i] = 2000;
  EXPECT_EQ(Statistics(x, 900).peak, "0.030 s");
}

TEST(StepStatistics, EdgeCases) {
  // A small overshoot counts as critically damped.
  std::vector<std::int32_t> small(60, 1000);
  small[5] = 1005;
  EXPECT_EQ(Statistics(small, 1000).damping, "1.0");
  // A negative step never enters its band.
  const std::vector<std::int32_t> negative(60, -1000);
  EXPECT_EQ(Statistics(negative, -1000).settling, "-1.000 s");
  // No samples: nothing is read; with no rise time the frequency is the
  // -1 marker.
  ExpectFigures(Statistics({}, 1000), {"0.000 s", "0.000 s", "-0.2 Hz", "0.0%", "1.0", "-1.000 s"});
}

TEST(StepStatistics, RiseWalkStopsAtTheLastSample) {
  // Every sample at or below the 90 % level (a response that never rises
  // far): the walk must stop at the count, not read beyond it.
  auto* heap = new std::int32_t[4]{0, 0, 0, 0};  // exact size for the sanitizer
  char t[6][ZIMO_STEP_TEXT_SIZE];
  CalculateStepStatistics(heap, 4, 1000, 8388608, 1, t[0], t[1], t[2], t[3], t[4], t[5]);
  delete[] heap;
  EXPECT_STREQ(t[0], "0.004 s");  // all four samples are at the (zero) low level
}

TEST(LowPassFilter, SecondOrderStepResponse) {
  // The coefficients do not depend on the corner: 10 and 1000 filter alike.
  for (const char* corner : {"10", "1000"}) {
    SCOPED_TRACE(corner);
    std::array<std::int32_t, 7> x = {1000, 1000, 1000, 1000, 1000, 1000, -500};
    EXPECT_EQ(LowPassFilterTheData(x.data(), 7, corner), 7);
    EXPECT_EQ(x, (std::array<std::int32_t, 7>{226, 484, 695, 841, 931, 979, 662}));
  }
}

TEST(LowPassFilter, RefusesWhatItCannotFilter) {
  const std::array<std::int32_t, 3> original = {5, 6, 7};
  for (const char* corner : {"0", "abc", "", "inf", "nan"}) {
    SCOPED_TRACE(corner);
    auto x = original;
    EXPECT_EQ(LowPassFilterTheData(x.data(), 3, corner), 0);
    EXPECT_EQ(x, original);
  }
  auto x = original;
  EXPECT_EQ(LowPassFilterTheData(x.data(), 0, "10"), 0);
  EXPECT_EQ(LowPassFilterTheData(x.data(), -3, "10"), 0);
  EXPECT_EQ(x, original);
}

class Differentiation : public ::testing::Test {
 protected:
  zimo::platform::MessageRecorder boxes_;
  zimo::platform::ScopedMessageService scoped_{boxes_};
};

TEST_F(Differentiation, CentralDifferencesWithHalvedEnds) {
  struct Case {
    std::vector<std::int32_t> in;
    std::vector<std::int32_t> out;
    std::int32_t min, max;
  };
  const Case cases[] = {
      {{0, 100, 300}, {22588, 67764, 45176}, 22588, 67764},
      {{7, 7}, {0, 0}, 0, 1},  // all equal: max is pushed above min
      {{42}, {0}, 0, 1},       // one value has no neighbour
      {{0, 10, 30, 60}, {2258, 6776, 11294, 6776}, 2258, 11294},
  };
  for (const auto& c : cases) {
    auto x = c.in;
    std::int32_t lo = 0;
    std::int32_t hi = 0;
    DifferentiateTheData(x.data(), static_cast<std::int32_t>(x.size()), 3713707, 5, &lo, &hi);
    EXPECT_EQ(x, c.out);
    EXPECT_EQ(lo, c.min);
    EXPECT_EQ(hi, c.max);
  }
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(Differentiation, NothingToDoLeavesArrayAndStartValues) {
  std::vector<std::int32_t> x = {1, 2, 3};
  std::int32_t lo = 0;
  std::int32_t hi = 0;
  DifferentiateTheData(x.data(), 0, 3713707, 5, &lo, &hi);
  EXPECT_EQ(x, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(lo, INT_MAX);
  EXPECT_EQ(hi, -INT_MAX);
  EXPECT_EQ(boxes_.count(), 0u);

  // A zero sample time is told and changes nothing.
  DifferentiateTheData(x.data(), 3, 3713707, 0, &lo, &hi);
  EXPECT_EQ(x, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(lo, INT_MAX);
  EXPECT_EQ(hi, -INT_MAX);
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text, "sample_time = 0");
  EXPECT_EQ(boxes_.last()->caption, "ERROR");
  EXPECT_EQ(boxes_.last()->flags, zimo::platform::kMbOk);
}

}  // namespace
