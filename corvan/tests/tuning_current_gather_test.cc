// The current gather on a simulated card over the serial line: which
// registers the mask's bits pick, in which sources, what is cleared, and
// that another thread's command waits until the whole set-up is done.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/gather_api.h"
#include "corvan/tuning_api.h"
#include "tuning_serial_card.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;
using Lines = std::vector<std::string>;

class CurrentGatherCard : public SerialCardTest<> {
 protected:
  std::int64_t IVar(int n) { return card_->card().IVar(n); }
  std::string Name(std::uint32_t n) {
    const char* name = server_->table()->Devices[0].GatherSourceName[n];
    return std::string(name, strnlen(name, kGatherSourceNameSize));
  }
};

TEST_F(CurrentGatherCard, MaskBitsPickRegistersInBitOrder) {
  struct Case {
    const char* name;
    std::uint32_t mask;
    std::int32_t enable;
    // Card values of the sources I21 up, then 0 for the rest.
    std::vector<std::int64_t> sources;
    std::vector<std::string> names;
    std::int64_t enabled;  // I20
  };
  const Case cases[] = {
      {"motor 1, three kinds",
       0x00010101u,
       1,
       {0x46, 0x80002B, 0x400046},
       {"Y:$46", "D:$2B", "X:$46"},
       7},
      {"motors 3 and 8, not enabled",
       0x00840004u,
       0,
       {0xBE, 0x4000BE, 0x4001EA},
       {"Y:$be", "X:$be", "X:$1ea"},
       0},
      {"every table bit",
       0x00FFFFFFu,
       1,
       {0x46,     0x82,     0xBE,     0xFA,     0x136,    0x172,    0x1AE,    0x1EA,
        0x80002B, 0x800067, 0x8000A3, 0x8000DF, 0x80011B, 0x800157, 0x800193, 0x8001CF,
        0x400046, 0x400082, 0x4000BE, 0x4000FA, 0x400136, 0x400172, 0x4001AE, 0x4001EA},
       {"Y:$46", "Y:$82", "Y:$be", "Y:$fa", "Y:$136", "Y:$172", "Y:$1ae", "Y:$1ea",
        "D:$2B", "D:$67", "D:$A3", "D:$DF", "D:$11B", "D:$157", "D:$193", "D:$1CF",
        "X:$46", "X:$82", "X:$be", "X:$fa", "X:$136", "X:$172", "X:$1ae", "X:$1ea"},
       0xFFFFFF},
      {"only bits 24 to 31", 0xFF000000u, 1, {}, {}, 0},
  };
  for (const Case& c : cases) {
    // Sources left from an earlier gather must go.
    for (std::uint32_t s = 0; s < 24; ++s) ZimoSetGather(0, s, "X:$3D", 1);
    EXPECT_EQ(ZimoSetCurrentGather(0, c.mask, c.enable), 1) << c.name;
    for (std::uint32_t s = 0; s < 24; ++s) {
      const std::int64_t want = s < c.sources.size() ? c.sources[s] : 0;
      EXPECT_EQ(IVar(21 + static_cast<int>(s)), want) << c.name << ", source " << s;
      EXPECT_EQ(Name(s), s < c.names.size() ? c.names[s] : "") << c.name << ", source " << s;
    }
    EXPECT_EQ(IVar(20), c.enabled) << c.name;
  }
}

TEST_F(CurrentGatherCard, AnotherThreadsCommandWaitsForTheWholeSetUp) {
  card_->card().script().ClearLog();
  // Slow answers, so that the other thread asks while the set-up runs.
  card_->card().script().SetReplyDelay(std::chrono::milliseconds(2), -1);
  std::thread setup([] { ZimoSetCurrentGather(0, 0x00010101u, 1); });
  EXPECT_TRUE(card_->Received("I21=0"));
  char reply[64];
  ZimoGetResponseA(0, reply, sizeof reply, "P77=1");
  setup.join();
  card_->card().script().SetReplyDelay(std::chrono::milliseconds(0), 0);
  const Lines got = card_->received();
  const auto last_source = std::find(got.begin(), got.end(), "I23=4194374");
  const auto other = std::find(got.begin(), got.end(), "P77=1");
  ASSERT_NE(last_source, got.end());
  ASSERT_NE(other, got.end());
  EXPECT_GT(other - got.begin(), last_source - got.begin());
}

}  // namespace
}  // namespace zimo::corvan
