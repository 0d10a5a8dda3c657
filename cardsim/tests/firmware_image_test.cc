// The bootstrap loader keeps the image it receives over each road, tells the
// image's end from its data by the configured length, leaves bootstrap mode
// on CTRL-R and then answers as its firmware; and its scripted faults.
#include "cardsim/firmware_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardsim/attach_port.h"
#include "cardsim/card.h"
#include "cardsim/card_model.h"

namespace zimo::cardsim {
namespace {

using namespace std::string_literals;
using std::chrono::microseconds;

// Words chosen so that each road's end-of-image rule is tested against the
// data: 0x120000 is CTRL-R with registers 5 and 6 cleared, and its high byte
// is a CTRL-R on the serial line.
const std::vector<uint32_t> kWords = {0x123456, 0x120000, 0xABCDEF, 0x000012};

std::string HighFirst(const std::vector<uint32_t>& words) {
  std::string out;
  for (uint32_t w : words) {
    out += static_cast<char>(w >> 16);
    out += static_cast<char>(w >> 8);
    out += static_cast<char>(w);
  }
  return out;
}

std::string LowFirst(const std::vector<uint32_t>& words) {
  std::string out;
  for (uint32_t w : words) {
    out += static_cast<char>(w);
    out += static_cast<char>(w >> 8);
    out += static_cast<char>(w >> 16);
  }
  return out;
}

class FirmwareImageTest : public ::testing::Test {
 protected:
  FirmwareImageTest() : card_(Booting()) { card_.firmware().set_expected_bytes(kWords.size() * 3); }
  static CardModel Booting() {
    CardModel m = CardModel::Spran();
    m.bootstrap = true;
    return m;
  }
  Card card_;
};

TEST_F(FirmwareImageTest, PortRegisterWordsAreKeptAndTheConfiguredLengthEndsTheImage) {
  PortRegisters port(card_);
  const microseconds now{0};
  port.Write(7, 0x0F, now);  // CTRL-O
  for (uint32_t w : kWords) {
    port.Write(5, w & 0xFF, now);
    port.Write(6, (w >> 8) & 0xFF, now);
    port.Write(7, (w >> 16) & 0xFF, now);
  }
  EXPECT_TRUE(card_.InBootstrap());  // the 0x120000 word did not end it
  port.Write(5, 0, now);
  port.Write(6, 0, now);
  port.Write(7, 0x12, now);
  EXPECT_FALSE(card_.InBootstrap());
  EXPECT_EQ(card_.firmware().words(), kWords);
}

TEST_F(FirmwareImageTest, SerialBytesAreHighFirstAndAnInnerCtrlRIsData) {
  card_.Feed("\x0F"s);
  // One chunk per byte, so each 0x12 arrives as the last byte of its input.
  for (char c : HighFirst(kWords)) card_.Feed(std::string(1, c));
  EXPECT_TRUE(card_.InBootstrap());
  card_.Feed("\x12"s);
  EXPECT_FALSE(card_.InBootstrap());
  EXPECT_EQ(card_.firmware().words(), kWords);
}

TEST_F(FirmwareImageTest, BlocksAreLowFirstAndRebuiltAcrossASplitWord) {
  const std::string bytes = LowFirst(kWords);
  card_.LoadFirmwareBlock("\x01\x02\x03"s, true);  // an earlier image, dropped by the first block
  card_.LoadFirmwareBlock(bytes.substr(0, 4), true);
  card_.LoadFirmwareBlock(bytes.substr(4), false);
  EXPECT_EQ(card_.firmware().words(), kWords);
  EXPECT_EQ(card_.firmware_bytes(), 12u);
  EXPECT_EQ(card_.firmware().blocks(), (std::vector<FirmwareImage::Block>{{true, 4}, {false, 8}}));
}

TEST_F(FirmwareImageTest, AfterTheImageTheFirmwareAnswersStatusAndVersion) {
  card_.Feed("\x0F"s + HighFirst(kWords) + "\x12"s);
  ASSERT_FALSE(card_.InBootstrap());
  const Reply status = card_.Execute("?");
  ASSERT_EQ(status.lines.size(), 1u);
  EXPECT_EQ(status.lines[0].size(), 12u);
  EXPECT_EQ(status.lines[0].find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(card_.Execute("ver").lines, std::vector<std::string>{"1.940"});
  EXPECT_EQ(card_.Execute("$$$***").error, 0);
  EXPECT_EQ(card_.Execute("SAVE").error, 0);
}

TEST_F(FirmwareImageTest, ScriptedFaults) {
  card_.firmware().set_stay_in_bootstrap(true);
  card_.Feed("\x0F"s + HighFirst(kWords) + "\x12"s);
  EXPECT_TRUE(card_.InBootstrap());
  EXPECT_EQ(card_.Execute("?").lines, std::vector<std::string>{"BOOTSTRAP PROM"});

  card_.LeaveBootstrap();
  card_.firmware().set_watchdog_reply(true);
  const Reply status = card_.Execute("I3=2I63=1I64=1?");
  ASSERT_EQ(status.lines.size(), 1u);
  EXPECT_EQ(static_cast<unsigned char>(status.lines[0][0]), 0xFFu);
  EXPECT_EQ(card_.Execute("ver").lines, std::vector<std::string>{"1.940"});  // other lines stay
}

TEST(FirmwareImageWithoutLength, CtrlRAtTheEndOfTheInputEndsTheImage) {
  CardModel m = CardModel::Older();
  m.bootstrap = true;
  Card card(m);
  card.Feed("\x0F\x01\x02\x03\x12"s);
  EXPECT_FALSE(card.InBootstrap());
  EXPECT_EQ(card.firmware().words(), std::vector<uint32_t>{0x010203});
}

}  // namespace
}  // namespace zimo::cardsim
