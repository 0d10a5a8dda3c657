// The DPR memory test against a simulated card opened through the library
// on PCI and USB (the driver host in this process) and Ethernet, both
// generations: a whole run right after the card's DPR buffers ran, stuck
// DPR bits that each pattern catches, an abort, a silent card (on a clock
// of the test's own), a card that gives no DPR size, and the refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/dpr_api.h"
#include "corvan/dpr_test_api.h"
#include "corvan/rings_api.h"
#include "corvan/status_api.h"
#include "corvan/varbuf_api.h"
#include "dpr/dpr_test.h"
#include "dpr_card_rig.h"
#include "platform/clock.h"
#include "platform/message.h"

namespace zimo::corvan {
namespace {

using testing::DprCardRig;
using testing::Link;
using testing::RigOptions;

constexpr char kSetUp[] = "Setting up for Dual Ported Ram Test";
constexpr char kPhase1[] = "Writing to DPR address (via ZIMO)";
constexpr char kPhase2[] = "Reading/Verifying DPR (via PC)";
constexpr char kPhase3[] = "Writing to DPR Address (via PC)";
constexpr char kPhase4[] = "Reading/Verifying DPR (via ZIMO)";
constexpr char kPhase5[] = "Clearing all Dual Ported Ram";
constexpr char kPassed[] = "DPRAM test completed successfully";

// What the callbacks were told.
struct Report {
  std::uint32_t errors;
  std::string text;
  std::uint32_t offset;
};

class Recorder {
 public:
  static Recorder*& Current() {
    static Recorder* current = nullptr;
    return current;
  }
  static void Callback(std::uint32_t errors, const char* text, std::uint32_t offset) {
    Recorder* r = Current();
    if (r == nullptr) return;
    if (text != nullptr) r->texts.push_back({errors, text, offset});
    ++r->calls;
    if (r->on_call) r->on_call(errors, text, offset);
  }
  static void Progress(std::int32_t percent) {
    if (Recorder* r = Current()) r->last_percent = percent;
  }

  Recorder() { Current() = this; }
  ~Recorder() { Current() = nullptr; }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const Report& r : texts) out.push_back(r.text);
    return out;
  }

  std::vector<Report> texts;
  int calls = 0;
  std::int32_t last_percent = -1;
  std::function<void(std::uint32_t, const char*, std::uint32_t)> on_call;
};

// What a second caller's callback was told.
std::vector<std::string>& SecondCallerTexts() {
  static std::vector<std::string> texts;
  return texts;
}
void SecondCaller(std::uint32_t, const char* text, std::uint32_t) {
  if (text != nullptr) SecondCallerTexts().push_back(text);
}

std::vector<std::string> ChangeRecords() {
  std::vector<std::string> records;
  char record[400];
  while (ChangeReadReady(0) != 0) {
    record[0] = 0;
    ChangeGet(0, record, sizeof record - 1);
    records.push_back(record);
  }
  return records;
}

struct Case {
  Link link;
  bool spran;
};

class DprMemoryTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    rig_ = std::make_unique<DprCardRig>(RigOptions{GetParam().link, GetParam().spran, ""});
    ASSERT_TRUE(rig_->ok());
  }
  void TearDown() override { rig_.reset(); }
  std::unique_ptr<DprCardRig> rig_;
};

// Right after the fixed and variable buffers ran (and with the card's servo
// clock running on): every phase in order, no error, the DPR left zero, and
// I5 and I3 put back, on the card and in the change ring.
TEST_P(DprMemoryTest, WholeRunPassesAndLeavesTheDprClear) {
  cardsim::Card& card = rig_->card();
  card.SetIVar(5, 3);
  ZimoDPRRealTime(0, 1, 1);
  ZimoDPRBackground(0, 1);
  const std::uint32_t addresses[2] = {0x100, 0x101};
  ASSERT_EQ(ZimoDPRVarBufInit(0, 2, addresses), 1);
  ZimoDPRBackGroundVar(0, 1);
  card.AdvanceServo(5);
  ASSERT_NE(card.memory().DprWord(rig_->options().spran ? 0x1048 : 0x7EC), 0);
  ChangeRecords();

  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped(boxes);
  Recorder recorder;
  card.StartServoThread(std::chrono::microseconds(200));
  EXPECT_EQ(ZimoDPRTest(0, Recorder::Callback, Recorder::Progress), 1);
  card.StopServoThread();

  EXPECT_EQ(recorder.Texts(), (std::vector<std::string>{kSetUp, kPhase1, kPhase2, kPhase3, kPhase4,
                                                        kPhase5, kPassed}));
  EXPECT_EQ(recorder.texts.back().errors, 0u);
  EXPECT_EQ(recorder.last_percent, 100);
  EXPECT_EQ(boxes.count(), 0u);
  std::vector<std::uint8_t> dpr(16384, 0xEE);
  ASSERT_TRUE(card.memory().ReadDpr(0, dpr.data(), dpr.size()));
  EXPECT_EQ(dpr, std::vector<std::uint8_t>(16384, 0));

  const std::vector<std::string> lines = rig_->CardLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "I5 = 3 I3= 2");
  EXPECT_EQ(card.IVar(5), 3);
  const std::vector<std::string> records = ChangeRecords();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back(), "I5 = 3 I3= 2");
  // The services the test switched off are recorded off.
  EXPECT_EQ(rig_->block().RealTimeActive, 0u);
  EXPECT_EQ(rig_->block().BackgroundActive, 0u);
}

INSTANTIATE_TEST_SUITE_P(Links, DprMemoryTest,
                         ::testing::Values(Case{Link::kPci, false}, Case{Link::kPci, true},
                                           Case{Link::kUsb, false}, Case{Link::kUsb, true},
                                           Case{Link::kEthernet, false},
                                           Case{Link::kEthernet, true}),
                         [](const auto& info) {
                           return testing::LinkName(info.param.link) +
                                  (info.param.spran ? "Spran" : "Older");
                         });

class DprMemoryFaultTest : public ::testing::Test {
 protected:
  void Open(bool spran = false) {
    rig_ = std::make_unique<DprCardRig>(RigOptions{Link::kPci, spran, ""});
    ASSERT_TRUE(rig_->ok());
  }
  void TearDown() override {
    SetDprTestClock(nullptr);
    rig_.reset();
  }
  std::unique_ptr<DprCardRig> rig_;
  platform::MessageRecorder boxes_;
  platform::ScopedMessageService scoped_{boxes_};
};

// A bit held at 0 in the word at DPR offset 0x100 (card address $D040):
// bit 1 is set in the card's pattern 0xAAAA, so the host's reading finds
// it; bit 0 is set only in the host's pattern 0x5555, so only the card's
// reading of its Y half finds it.
TEST_F(DprMemoryFaultTest, StuckBitsAreFoundByThePatternThatSetsThem) {
  Open();
  for (std::uint32_t mask : {0x2u, 0x1u}) {
    SCOPED_TRACE(mask);
    rig_->card().memory().ClearStuckBits();
    rig_->card().memory().StickDprBits(0x100, mask, 0);
    Recorder recorder;
    EXPECT_EQ(ZimoDPRTest(0, Recorder::Callback, nullptr), 1);
    const std::string failed =
        "DPRAM test failed. Total number of errors: 1 \n ZIMO Address of last error: $D040";
    ASSERT_FALSE(recorder.texts.empty());
    EXPECT_EQ(recorder.texts.back().text, failed);
    EXPECT_EQ(recorder.texts.back().errors, 1u);
    ASSERT_TRUE(boxes_.last().has_value());
    EXPECT_EQ(boxes_.last()->text, failed);
    EXPECT_EQ(recorder.Texts().size(), 7u);  // it ran to its end
  }
}

TEST_F(DprMemoryFaultTest, AbortNamesTheAddressBeforeTheCurrentOne) {
  Open();
  for (std::uint32_t offset : {0x100u, 0x104u, 0x108u, 0x10Cu}) {
    rig_->card().memory().StickDprBits(offset, 0x2, 0);
  }
  Recorder recorder;
  bool in_phase_2 = false;
  recorder.on_call = [&](std::uint32_t errors, const char* text, std::uint32_t) {
    if (text != nullptr) in_phase_2 = std::string(text) == kPhase2;
    if (in_phase_2 && text == nullptr && errors == 3) ZimoAbortDPRTest();
  };
  EXPECT_EQ(ZimoDPRTest(0, Recorder::Callback, nullptr), 1);
  // The third error is at $D042; the test stops before $D043.
  EXPECT_EQ(recorder.Texts().back(),
            "DPRAM test failed. Total number of errors: 3 \n ZIMO Address of last error: $D042");
  EXPECT_EQ(recorder.Texts().size(), 4u);  // set-up, phases 1 and 2, the end
  // The card's settings are still put back.
  EXPECT_EQ(rig_->CardLines().back(), "I5 = 0 I3= 2");
}

TEST_F(DprMemoryFaultTest, SilentCardHaltsTheTest) {
  Open();
  platform::FakeClock clock;
  clock.set_auto_advance(true);
  SetDprTestClock(&clock);
  rig_->card().script().SilenceAt("WL$D005,", 1);
  Recorder recorder;
  EXPECT_EQ(ZimoDPRTest(0, Recorder::Callback, nullptr), 1);
  const std::string halted = "DPRAM test halted. Communication error: ZIMO not responding...";
  EXPECT_EQ(recorder.Texts().back(), halted);
  // The wait was measured on the test's clock.
  EXPECT_GE(clock.Now(), std::chrono::milliseconds(5000));
  EXPECT_LT(clock.Now(), std::chrono::milliseconds(5100));
  ASSERT_TRUE(boxes_.last().has_value());
  EXPECT_EQ(boxes_.last()->text, halted);
  EXPECT_EQ(rig_->CardLines().back(), "I5 = 0 I3= 2");
}

TEST_F(DprMemoryFaultTest, SpranCardWithoutSizeHaltsAtOnce) {
  Open(true);
  rig_->card().script().SilenceAt("RHX$32", 2);
  rig_->card().script().ClearLog();
  Recorder recorder;
  EXPECT_EQ(ZimoDPRTest(0, Recorder::Callback, nullptr), 1);
  EXPECT_EQ(
      recorder.Texts(),
      (std::vector<std::string>{
          kSetUp, "DPRAM test halted. Communication error: ZIMO reported no valid DPRAM size."}));
  for (const std::string& line : rig_->CardLines()) {
    EXPECT_EQ(line.find("wl$"), std::string::npos) << line;
    EXPECT_NE(line, "close");
  }
}

TEST_F(DprMemoryFaultTest, WithoutCallbacksTheSettingsAreStillRestored) {
  Open();
  rig_->card().SetIVar(5, 2);
  EXPECT_EQ(ZimoDPRTest(0, nullptr, nullptr), 1);
  EXPECT_EQ(rig_->CardLines().back(), "I5 = 2 I3= 2");
  EXPECT_EQ(rig_->card().IVar(5), 2);
  EXPECT_EQ(rig_->card().IVar(3), 2);
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(DprMemoryFaultTest, RefusalsAndTheSecondCaller) {
  Open();
  // Device 1 has no DPR in this process.
  {
    Recorder recorder;
    EXPECT_EQ(ZimoDPRTest(1, Recorder::Callback, Recorder::Progress), 0);
    EXPECT_EQ(recorder.calls, 1);
    EXPECT_EQ(recorder.Texts(), std::vector<std::string>{"Dual Ported RAM not enabled!"});
    EXPECT_EQ(recorder.last_percent, -1);
  }
  // A second caller while a test runs is told so and gets 1.
  {
    Recorder recorder;
    bool asked = false;
    recorder.on_call = [&](std::uint32_t, const char* text, std::uint32_t) {
      if (asked || text == nullptr || std::string(text) != kPhase1) return;
      asked = true;
      std::thread other([] { EXPECT_EQ(ZimoDPRTest(0, SecondCaller, nullptr), 1); });
      other.join();
      ZimoAbortDPRTest();
    };
    EXPECT_EQ(ZimoDPRTest(0, Recorder::Callback, nullptr), 1);
    EXPECT_EQ(SecondCallerTexts(),
              std::vector<std::string>{"Dual Ported RAM Testing thread already running!"});
    EXPECT_EQ(recorder.Texts().back(), "DPRAM test Aborted. Total number of errors: 0");
  }
  EXPECT_EQ(ZimoDPRPCITest(0), 1);
}

TEST(DprMemoryRefusedBusTest, ATableThatIsGoneHaltsWithoutTouchingTheCard) {
  zimo::testing::TempHome home;
  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped(boxes);
  App().End();
  App().User(0)->DprAvailable = 1;  // as left by an earlier open
  Recorder recorder;
  EXPECT_EQ(ZimoDPRTest(0, Recorder::Callback, nullptr), 1);
  EXPECT_EQ(recorder.Texts(),
            (std::vector<std::string>{kSetUp, "Cannot set communications mode to BUS.",
                                      "DPRAM test halted. Communication error: Cannot set "
                                      "communications mode to BUS."}));
  EXPECT_EQ(boxes.count(), 1u);
  App().User(0)->DprAvailable = 0;
}

TEST(DprPciTest, UsbDriverDoesNotServeIt) {
  DprCardRig rig(RigOptions{Link::kUsb, false, ""});
  ASSERT_TRUE(rig.ok());
  EXPECT_EQ(ZimoDPRPCITest(0), 0);
}

}  // namespace
}  // namespace zimo::corvan
