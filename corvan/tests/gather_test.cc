// Gather settings and uploads against a simulated card on Ethernet: the
// lines the settings send, word counts, sample counts from the buffer
// pointers, sample times, the presets, the enable words, the decoding of
// fixed listings, and uploads that must come back empty (crossed pointers,
// a frozen card, a listing cut short).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <future>
#include <string>
#include <vector>

#include "corvan/gather_api.h"
#include "dpr/gather.h"
#include "gather_card_fixture.h"
#include "platform/message.h"

namespace zimo::corvan {
namespace {

using testing::GatherLink;
using testing::GatherRig;
using Lines = std::vector<std::string>;

class GatherCardTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ASSERT_TRUE(rig_.Open()); }
  bool Spran() const { return GetParam(); }
  // The lines the card received since the last call (the library's own
  // handshakes and queries included).
  Lines Received() {
    Lines all = rig_.card().script().received();
    rig_.card().script().ClearLog();
    return all;
  }
  std::string Name(std::uint32_t n) {
    const char* name = rig_.block().GatherSourceName[n];
    return std::string(name, strnlen(name, kGatherSourceNameSize));
  }
  std::string Var(std::uint32_t n) { return "I" + std::to_string((Spran() ? 5001 : 21) + n); }

  zimo::testing::TempHome home_;
  testing::LibraryClock clock_;
  GatherRig rig_{{GatherLink::kUdp, GetParam()}};
};

TEST_P(GatherCardTest, AddressTextsSetTheSourceVariable) {
  struct Case {
    const char* text;
    std::uint32_t value;
    std::uint32_t words;
  };
  const Case cases[] = {
      {"D:$28", 8388648, 2},     {"d$28", 8388648, 2},
      {"D28", 8388636, 2},  // decimal without '$'
      {"DP:$1000", 14684160, 2}, {"x:$3D", 0x40003D, 1},
      {"Y:0x10", 0x10, 1},       {"L:$1001", 0xC01001, 2},
      {"F:$44", 0xA00044, 2},
  };
  for (const Case& c : cases) {
    Received();
    EXPECT_EQ(ZimoSetGather(0, 2, c.text, 1), 0) << c.text;
    const Lines lines = Received();
    const std::string expected = Var(2) + "=" + std::to_string(c.value);
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << c.text;
    EXPECT_EQ(Name(2), c.text);
    EXPECT_EQ(rig_.block().GatherSourceWords[2], c.words) << c.text;
    EXPECT_EQ(rig_.block().GatherSourceEnabled[2], 1u);
  }
  // No type letter: the source is cleared and disabled.
  EXPECT_EQ(ZimoSetGather(0, 2, "Z:$10", 1), 1);
  const Lines lines = Received();
  EXPECT_NE(std::find(lines.begin(), lines.end(), Var(2) + "=0"), lines.end());
  EXPECT_EQ(Name(2), "");
  EXPECT_EQ(rig_.block().GatherSourceWords[2], 0u);
  EXPECT_EQ(rig_.block().GatherSourceEnabled[2], 0u);
  EXPECT_EQ(ZimoGetGatherEnable(0, 2), 0);
  // Names keep 15 characters.
  EXPECT_EQ(ZimoSetGather(0, 3, "X:$0000000000003D", 1), 0);
  EXPECT_EQ(Name(3), "X:$000000000000");
  // Numbers past the card's sources do nothing.
  const std::uint32_t beyond = Spran() ? 48 : 24;
  Received();
  EXPECT_EQ(ZimoSetGather(0, beyond, "X:$0", 1), 0);
  EXPECT_EQ(ZimoSetGatherEnable(0, beyond, 1), 0);
  EXPECT_EQ(ZimoGetGather(0, beyond, nullptr, 0), 0);
  EXPECT_EQ(Received(), Lines{});
}

TEST_P(GatherCardTest, GetGatherRebuildsTheTextFromTheCardsOwnVariable) {
  rig_.Command(Var(5) + "=" + std::to_string(0xE01234));
  char text[16] = "unchanged";
  ASSERT_EQ(ZimoGetGather(0, 5, text, sizeof text), 1);
  EXPECT_STREQ(text, "DP:$1234");
  EXPECT_EQ(Name(5), "DP:$1234");
  EXPECT_EQ(rig_.block().GatherSourceWords[5], 2u);
  // A small buffer gets the start, terminated.
  char small[4];
  ASSERT_EQ(ZimoGetGather(0, 5, small, sizeof small), 1);
  EXPECT_STREQ(small, "DP:");
  if (Spran()) {  // sources past 23 exist on SPRAN cards
    rig_.Command("I5041=" + std::to_string(0x40ABCD));
    ASSERT_EQ(ZimoGetGather(0, 40, text, sizeof text), 1);
    EXPECT_STREQ(text, "X:$ABCD");
  }
}

TEST_P(GatherCardTest, WordsPerSampleRoundUpAndPointersGiveTheCount) {
  ZimoClearGather(0);
  ZimoSetGather(0, 0, "X:$1", 1);
  ZimoSetGather(0, 1, "Y:$1", 1);
  ZimoSetGather(0, 2, "D:$2", 1);
  EXPECT_EQ(ZimoGetNumGatherSources(0), 3u);
  EXPECT_EQ(rig_.block().GatherWordsPerSample, 4u);
  ZimoSetGatherEnable(0, 1, 0);
  EXPECT_EQ(ZimoGetNumGatherSources(0), 2u);
  EXPECT_EQ(rig_.block().GatherWordsPerSample, 4u);  // 3 rounded up
  const char* pointers = Spran() ? "$3120" : "$F20";
  rig_.Command(std::string("WX") + pointers + ",1000");
  rig_.Command(std::string("WY") + pointers + ",1600");
  EXPECT_EQ(ZimoGetNumGatherSamples(0), 300u);
  EXPECT_EQ(rig_.block().GatherSampleCount, 300u);
  // Crossed pointers describe no samples.
  rig_.Command(std::string("WX") + pointers + ",1600");
  rig_.Command(std::string("WY") + pointers + ",1000");
  EXPECT_EQ(ZimoGetNumGatherSamples(0), 0u);
  EXPECT_EQ(rig_.block().GatherSampleCount, 0u);
}

TEST_P(GatherCardTest, SampleTimeAndPeriod) {
  ASSERT_EQ(rig_.block().ServoI10, 3713707u);
  Received();
  EXPECT_NEAR(ZimoSetGatherSampleTime(0, 1.0), 0.885416746, 1e-9);
  const Lines lines = Received();
  EXPECT_NE(std::find(lines.begin(), lines.end(), Spran() ? "I5049=2" : "I19=2"), lines.end());
  EXPECT_EQ(rig_.block().GatherPeriod, 2u);
  EXPECT_EQ(ZimoSetGatherPeriod(0, 5), 5u);
  EXPECT_NEAR(rig_.block().GatherSampleTime, 5 * 3713707 / 8388608.0, 1e-12);
  EXPECT_EQ(rig_.card().IVar(Spran() ? 5049 : 19), 5);
  // No servo time, or no time at all: the period stays, the time is the current one.
  const double now = rig_.block().GatherSampleTime;
  for (double ms : {-1.0, std::nan("")}) {
    EXPECT_EQ(ZimoSetGatherSampleTime(0, ms), now);
  }
  rig_.block().ServoI10 = 0;
  EXPECT_EQ(ZimoSetGatherSampleTime(0, 1.0), now);
  EXPECT_EQ(rig_.card().IVar(Spran() ? 5049 : 19), 5);
  // The mode goes to I45 and is read back.
  EXPECT_EQ(ZimoSetGatherMode(0, 1), 1);
  EXPECT_EQ(ZimoGetGatherMode(0), 1);
  EXPECT_EQ(rig_.card().IVar(45), 1);
}

TEST_P(GatherCardTest, EnableBitsLiveInTheGenerationsWords) {
  rig_.Command(Spran() ? "I5051=$40" : "I20=$40");
  EXPECT_EQ(ZimoGetGatherEnable(0, 30), Spran() ? 1 : 0);
  EXPECT_EQ(ZimoGetGatherEnable(0, 6), Spran() ? 0 : 1);
  if (Spran()) {
    EXPECT_EQ(ZimoSetGatherEnable(0, 25, 1), 1);
    EXPECT_EQ(rig_.card().IVar(5051), 0x42);
    EXPECT_EQ(rig_.block().GatherEnableMask[1], 0x42u);
  } else {
    EXPECT_EQ(ZimoSetGatherEnable(0, 1, 1), 1);
    EXPECT_EQ(rig_.card().IVar(20), 0x42);
    EXPECT_EQ(rig_.block().GatherEnableMask[0], 0x42u);
  }
}

TEST_P(GatherCardTest, PresetsFillSourcesInOrder) {
  if (!Spran()) {
    ASSERT_EQ(ZimoSetQuickGather(0, 0x101, 1), 1);
    EXPECT_EQ(Name(0), "D:$28");
    EXPECT_EQ(Name(1), "D:$2B");
    EXPECT_EQ(Name(2), "");
    ASSERT_EQ(ZimoSetQuickGather(0, 0x01000001, 1), 1);
    EXPECT_EQ(Name(0), "D:$28");
    EXPECT_EQ(Name(1), "X:$44");
    // Motor 2 ($3C x 2 on) and the direct-current Y word.
    ASSERT_EQ(ZimoSetQuickGatherWithDirectCurrent(0, 0x04040004, 1), 1);
    EXPECT_EQ(Name(0), "D:$A0");
    EXPECT_EQ(Name(1), "X:$C1");
    EXPECT_EQ(Name(2), "Y:$BC");
    // The Ex forms fold their masks into the older walk.
    ASSERT_EQ(ZimoSetQuickGatherWithDirectCurrentEx(0, 0, 1, 0, 1, 1), 1);
    EXPECT_EQ(Name(0), "D:$2B");
    EXPECT_EQ(Name(1), "Y:$44");
  } else {
    ASSERT_EQ(ZimoSetQuickGatherEx(0, 1, 1, 0, 0, 1), 1);
    EXPECT_EQ(Name(0), "D:$A5");
    EXPECT_EQ(Name(1), "D:$8B");
    EXPECT_EQ(Name(2), "");
    // Motor by motor; motor 7's current is its Y word.
    ASSERT_EQ(ZimoSetQuickGatherEx(0, 0x82, 0, 0, 0x80, 1), 1);
    EXPECT_EQ(Name(0), "D:$125");
    EXPECT_EQ(Name(1), "D:$425");
    EXPECT_EQ(Name(2), "Y:$439");
    ASSERT_EQ(ZimoSetQuickGatherWithDirectCurrentEx(0, 0, 0, 0, 0x2, 1), 1);
    EXPECT_EQ(Name(0), "Y:$139");
    // The older-card form hands its bytes over: bit 8 is kind 1 of motor 0.
    ASSERT_EQ(ZimoSetQuickGather(0, 0x100, 1), 1);
    EXPECT_EQ(Name(0), "D:$8B");
  }
  EXPECT_EQ(rig_.block().GatherSourceEnabled[0], 1u);
}

TEST_P(GatherCardTest, UploadsThatMustComeBackEmpty) {
  ZimoClearGather(0);
  ZimoSetGather(0, 0, "X:$0", 1);
  ZimoSetGather(0, 1, "D:$28", 1);
  std::uint32_t sources = 0, samples = 0;

  // A card frozen before the start records nothing.
  ASSERT_EQ(ZimoInitPlotGather(0, 0, 1), 1);
  rig_.card().script().SetGatherFrozen(true);
  ZimoStartGather(0);
  rig_.Servo(10);
  ZimoStopGather(0);
  EXPECT_EQ(ZimoGetNumGatherSamples(0), 0u);
  EXPECT_EQ(ZimoCollectGatherData(0, &sources, &samples), 0);
  EXPECT_EQ(samples, 0u);
  rig_.card().script().SetGatherFrozen(false);

  // A listing cut short: nothing decoded, the arrays all zeros.
  ASSERT_EQ(ZimoInitPlotGather(0, 0, 1), 1);
  ZimoStartGather(0);
  rig_.Servo(10);
  ZimoStopGather(0);
  rig_.card().script().SetGatherListLimit(13);
  const std::uint32_t expected = ZimoGetNumGatherSamples(0);
  ASSERT_GE(expected, 10u);
  EXPECT_EQ(ZimoCollectGatherData(0, &sources, &samples), 0);
  EXPECT_EQ(samples, expected);
  std::vector<double> values(expected, -1.0);
  std::uint32_t count = 0;
  ASSERT_EQ(ZimoGetGatherSamples(0, 0, &count, values.data(), expected), 1);
  EXPECT_EQ(values, std::vector<double>(expected, 0.0));
  rig_.card().script().SetGatherListLimit(0);

  // A buffer that wrapped: its pointers cross and there is nothing to take.
  ASSERT_EQ(ZimoSetGatherMode(0, 1), 1);
  // 16 words: a ring of 4 samples of 2 L words, one always free; the fifth
  // sample leaves the end at the second slot and the start at the third.
  ASSERT_EQ(ZimoInitPlotGather(0, 16, 1), 1);
  ZimoStartGather(0);
  rig_.Servo(5);
  ZimoStopGather(0);
  const std::string start = rig_.Command(Spran() ? "RX$3120" : "RX$F20");
  const std::string end = rig_.Command(Spran() ? "RY$3120" : "RY$F20");
  ASSERT_GT(std::stoi(start), std::stoi(end));
  EXPECT_EQ(ZimoGetNumGatherSamples(0), 0u);
  EXPECT_EQ(ZimoCollectGatherData(0, &sources, &samples), 0);
  EXPECT_EQ(samples, 0u);
  EXPECT_EQ(ZimoGetGatherSamples(0, 0, &count, values.data(), 1), 1);
  EXPECT_EQ(count, 0u);
}

// Asks, while its box is up, whether another thread can use the device.
class LockProbe : public platform::MessageService {
 public:
  int Show(std::string_view text, std::string_view caption, std::uint32_t flags) override {
    box_text = std::string(text);
    box_caption = std::string(caption);
    box_flags = flags;
    auto other = std::async(std::launch::async, [] {
      char reply[64];
      return ZimoGetResponseA(0, reply, sizeof reply, "I10");
    });
    device_free = other.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    return platform::kIdOk;
  }
  std::string box_text, box_caption;
  std::uint32_t box_flags = 0;
  bool device_free = false;
};

TEST_P(GatherCardTest, AnUploadTooBigForMemoryIsReportedWithTheDeviceFree) {
  // 24 enabled sources of which one has a word: 2 words a sample, and
  // 8,000,000 samples by the pointers, 14 bytes each per source.
  ZimoClearGather(0);
  ZimoSetGather(0, 0, "X:$0", 1);
  rig_.Command(Spran() ? "I5050=$FFFFFF" : "I20=$FFFFFF");
  const char* pointers = Spran() ? "$3120" : "$F20";
  rig_.Command(std::string("WX") + pointers + ",0");
  rig_.Command(std::string("WY") + pointers + ",8000000");
  LockProbe probe;
  platform::ScopedMessageService scoped(probe);
  std::uint32_t sources = 7, samples = 7;
  EXPECT_EQ(ZimoCollectGatherData(0, &sources, &samples), 0);
  EXPECT_EQ(probe.box_text, "Unable to allocate 2688001500 Bytes of PC Memory");
  EXPECT_EQ(probe.box_caption, "PC Memory Error");
  EXPECT_EQ(probe.box_flags, platform::kMbIconError | platform::kMbTopmost);
  EXPECT_TRUE(probe.device_free);
  EXPECT_EQ(rig_.block().GatherSampleCount, 0u);
  EXPECT_EQ(rig_.card().IVar(Spran() ? 5050 : 20), 0xFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(Generations, GatherCardTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Spran" : "Older"; });

// The decoding of fixed listings: units from each word's Y half first.
TEST(GatherListing, UnitsStraddleWordsAndSamplesStartOnAWord) {
  std::vector<double> x1(4), x2(4), d(4);
  // Two X sources and a D source: X from word 1's Y half, X from its X
  // half, D as the whole word 2.
  const std::string two_x_and_d = "000002000001 000000000003\r000004000003 FFFFFF000001\r";
  std::vector<GatherColumn> columns = {
      {GatherDecode::kWord24, &x1}, {GatherDecode::kWord24, &x2}, {GatherDecode::kFixed48, &d}};
  ASSERT_TRUE(DecodeGatherListing(two_x_and_d.data(), two_x_and_d.size(), 2, columns));
  EXPECT_EQ(x1, (std::vector<double>{1, 3, 0, 0}));
  EXPECT_EQ(x2, (std::vector<double>{2, 4, 0, 0}));
  EXPECT_EQ(d, (std::vector<double>{3, -16777215, 0, 0}));

  // X then D: X from word 1's Y half, D from word 1's X half (low) and word
  // 2's Y half (high); the next sample starts at word 3.
  std::vector<double> x(2), pair(2);
  const std::string x_then_d = "000001000007 AAAAAA400000 000002000008 AAAAAAFFFFFF\r";
  columns = {{GatherDecode::kWord24, &x}, {GatherDecode::kFixed48, &pair}};
  ASSERT_TRUE(DecodeGatherListing(x_then_d.data(), x_then_d.size(), 2, columns));
  EXPECT_EQ(x, (std::vector<double>{7, 8}));
  EXPECT_EQ(pair, (std::vector<double>{4194304.0 * 16777216 + 1, -16777216.0 + 2}));

  // One word short: nothing kept, the arrays zero, nothing read past the text.
  std::vector<double> a(2, 9.0), b(2, 9.0);
  columns = {{GatherDecode::kWord24, &a}, {GatherDecode::kFloat48, &b}};
  const std::string shorter = x_then_d.substr(0, 38);  // three words, the last without separator
  EXPECT_FALSE(DecodeGatherListing(shorter.data(), shorter.size(), 2, columns));
  EXPECT_EQ(a, std::vector<double>(2, 0.0));
  EXPECT_EQ(b, std::vector<double>(2, 0.0));
  EXPECT_FALSE(DecodeGatherListing("", 0, 1, columns));
  // A source of unknown type takes nothing; an empty name too.
  EXPECT_EQ(DecodeForName("Z:$1", 4), GatherDecode::kSkip);
  EXPECT_EQ(DecodeForName("", 0), GatherDecode::kSkip);
  EXPECT_EQ(DecodeForName("dp$1", 4), GatherDecode::kPair32);
  EXPECT_EQ(DecodeForName("d$1", 3), GatherDecode::kFixed48);
}

}  // namespace
}  // namespace zimo::corvan
