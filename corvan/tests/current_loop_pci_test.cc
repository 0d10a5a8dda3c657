// The brushless current-loop step over the PCI bus path: the driver host's
// simulated card runs the step, the library collects the gathered current,
// and the restore puts the card's I-variables back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "corvan/gather_api.h"
#include "corvan/tuning_api.h"
#include "corvan/variables_api.h"
#include "pci_card_fixture.h"
#include "platform/process.h"
#include "tuning/tuning.h"

namespace zimo::corvan {
namespace {

using Lines = std::vector<std::string>;

std::filesystem::path Golden(const char* name) {
  std::filesystem::path source(__FILE__);
  if (source.is_relative()) source = platform::ExecutableDir().parent_path() / source;
  return source.parent_path() / "data" / "tuning" / name;
}

class CurrentLoopPciTest : public testing::PciCardTest {
 protected:
  void SetUp() override {
    PciCardTest::SetUp();
    if (HasFatalFailure()) return;
    tuning::ForgetCurrentLoopTest();
    for (const char* line : {"I900=6527", "I901=0", "I902=3", "I10=3713707"}) {
      char reply[64];
      FormatAndGetResponse(0, reply, sizeof reply - 1, "%s", line);
    }
    ASSERT_EQ(Host("clock 0 on 4"), "ok");
    ASSERT_EQ(Host("clear-log 0"), "ok");
  }

  // The card's log: each run of completion polls shown once, without the
  // bus channel's flush before each line.
  Lines Received() {
    const std::string reply = Host("log 0");
    Lines lines;
    if (reply.rfind("ok ", 0) != 0) return lines;
    std::string entry;
    for (std::size_t i = 3; i < reply.size(); ++i) {
      if (reply[i] == '\\' && i + 1 < reply.size()) {
        entry += reply[++i];
      } else if (reply[i] == '|') {
        const bool repeated_poll = entry == "P1019" && !lines.empty() && lines.back() == entry;
        if (entry != "^X" && !repeated_poll) lines.push_back(entry);
        entry.clear();
      } else {
        entry += reply[i];
      }
    }
    return lines;
  }
};

TEST_F(CurrentLoopPciTest, TheBrushlessStepRunsOverTheBusPath) {
  char text[ZIMO_SAMPLE_TIME_TEXT_SIZE] = {};
  ASSERT_EQ(DoACurrentLoopStep(0, 1, 10, 1000, 1, text, 50, 4, 0), 1);
  EXPECT_STREQ(text, "0.000111");
  // The same lines as over the serial link; each link adds its own
  // handshake line after the first line the card leaves without ACK.
  auto without_recovery = [](Lines lines) {
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.rfind("I3=2 I6=1", 0) == 0; }),
                lines.end());
    return lines;
  };
  Lines golden;
  std::ifstream in(Golden("current_loop_brushless_older.txt"), std::ios::binary);
  for (std::string line; std::getline(in, line);) golden.push_back(line);
  const Lines got = Received();
  EXPECT_EQ(std::count(got.begin(), got.end(), "I3=2 I6=1 I63=1I64=1"), 1);
  EXPECT_EQ(without_recovery(got), without_recovery(golden));

  std::uint32_t sources = 0, samples = 0;
  ASSERT_EQ(ZimoCollectGatherData(0, &sources, &samples), 1);
  ASSERT_GE(samples, 80u);
  std::vector<double> current(samples);
  std::uint32_t count = 0;
  ASSERT_EQ(ZimoGetGatherSamples(0, 2, &count, current.data(), samples), 1);
  EXPECT_EQ(current.front(), 0);
  for (std::uint32_t i = 1; i < count; ++i) EXPECT_GE(current[i], current[i - 1]) << i;
  EXPECT_GT(current[count - 1], 1000 * 256 * 0.99);
  EXPECT_LE(current[count - 1], 1000 * 256);

  ASSERT_EQ(Host("clear-log 0"), "ok");
  ASSERT_EQ(RestoreModifiedIvars(0, 1), 1);
  EXPECT_EQ(ZimoGetIVariableLong(0, 10, 0), 3713707);
  EXPECT_EQ(ZimoGetIVariableLong(0, 902, 0), 3);
  EXPECT_EQ(ZimoGetIVariableLong(0, 200, 0), 1);
}

}  // namespace
}  // namespace zimo::corvan
