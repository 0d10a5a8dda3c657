// A whole gather on every transport that carries commands, both card
// generations: card words of known contents as X, Y, D, L, F and DP
// sources, the servo counter and a jogging motor's commanded position;
// prepared, started, run on the card's clock, stopped and collected.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "corvan/gather_api.h"
#include "gather_card_fixture.h"

namespace zimo::corvan {
namespace {

using testing::GatherRig;
using testing::GatherRigCase;

class GatherTransportTest : public ::testing::TestWithParam<GatherRigCase> {
 protected:
  zimo::testing::TempHome home_;
  testing::LibraryClock clock_;
  GatherRig rig_{GetParam()};
};

struct Source {
  const char* text;
  double value;   // every sample's value, for a constant word
  bool constant;  // else the counter or the position, checked on their own
};

std::vector<double> Samples(std::uint32_t n, std::uint32_t count) {
  std::vector<double> out(count + 1, 12345.0);
  std::uint32_t got = 0;
  EXPECT_EQ(ZimoGetGatherSamples(0, n, &got, out.data(), count + 1), 1) << n;
  EXPECT_EQ(got, count) << n;
  out.resize(got);
  return out;
}

TEST_P(GatherTransportTest, ConstantsCounterAndAJogComeBackWhole) {
  ASSERT_TRUE(rig_.Open());
  const bool spran = GetParam().spran;
  ASSERT_EQ(rig_.block().CardType, spran ? 6 : 2);
  // Card words (below the older cards' gather buffer): X:$3000 0x123456, Y:$3001 FFFFFF, then
  // pairs.
  rig_.Command("WX$3000,$123456");
  rig_.Command("WY$3001,$FFFFFF");
  rig_.Command("WL$3002,$FFFFFF000001,$400000000800,$00BF80000000,$00FFFF00FFFF");
  const std::string position = spran ? "D:$88" : "D:$28";  // motor 1's commanded position
  std::vector<Source> sources = {
      {"X:$3000", 1193046, true}, {"Y:$3001", -1, true},        {"D:$3002", -16777215, true},
      {"L:$3003", 1.0, true},     {"F:$3004", -1.0, true},      {"DP:$3005", -1, true},
      {"X:$0", 0, false},         {position.c_str(), 0, false},
  };
  // SPRAN cards: 30 sources, across both enable words, 35 units (odd).
  while (spran && sources.size() < 30) sources.push_back({"x$3000", 1193046, true});
  ZimoClearGather(0);
  for (std::uint32_t n = 0; n < sources.size(); ++n) {
    ASSERT_EQ(ZimoSetGather(0, n, sources[n].text, 1), 0) << n;
  }
  // Three servo cycles a sample.
  const double servo_ms = rig_.block().ServoI10 / 8388608.0;
  ASSERT_EQ(ZimoInitGather(0, 0, 3.5 * servo_ms), 1);
  EXPECT_EQ(ZimoGetGatherPeriod(0), 3u);
  EXPECT_EQ(ZimoGetNumGatherSources(0), sources.size());
  EXPECT_EQ(rig_.block().GatherWordsPerSample, spran ? 36u : 14u);

  rig_.Command("#1J+");
  ASSERT_EQ(ZimoStartGather(0), 1);
  rig_.Servo(60);
  ASSERT_EQ(ZimoStopGather(0), 1);
  rig_.Command("#1J/");

  const std::uint32_t expected = ZimoGetNumGatherSamples(0);
  ASSERT_GE(expected, 20u);  // 60 cycles at 3 (more when the clock ran meanwhile)
  std::uint32_t count_sources = 0, count_samples = 0;
  ASSERT_EQ(ZimoCollectGatherData(0, &count_sources, &count_samples), 1);
  EXPECT_EQ(count_sources, sources.size());
  EXPECT_EQ(count_samples, expected);

  for (std::uint32_t n = 0; n < sources.size(); ++n) {
    if (!sources[n].constant) continue;
    const std::vector<double> values = Samples(n, count_samples);
    EXPECT_EQ(values, std::vector<double>(count_samples, sources[n].value)) << sources[n].text;
  }
  const std::vector<double> counter = Samples(6, count_samples);
  for (std::size_t i = 1; i < counter.size(); ++i) {
    ASSERT_EQ(counter[i] - counter[i - 1], 3.0) << "sample " << i;
  }
  const std::vector<double> commanded = Samples(7, count_samples);
  for (std::size_t i = 1; i < commanded.size(); ++i) ASSERT_GE(commanded[i], commanded[i - 1]);
  EXPECT_GT(commanded.back(), commanded.front());
  double point = 0;
  ASSERT_EQ(ZimoGetGatherPoint(0, 6, count_samples - 1, &point), 1);
  EXPECT_EQ(point, counter.back());
  if (spran) {  // the sources past 23 are there to be read too
    ASSERT_EQ(ZimoGetGatherPoint(0, 29, 0, &point), 1);
    EXPECT_EQ(point, 1193046.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, GatherTransportTest,
                         ::testing::ValuesIn(testing::AllGatherRigs()),
                         [](const auto& info) { return testing::GatherRigName(info.param); });

}  // namespace
}  // namespace zimo::corvan
