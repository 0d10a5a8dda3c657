// Rotary commands staged for a USB card served by the driver host: the card
// writes what it takes into its ring 0 in DPR, whole commands only, and
// answers what it took. A ring with little room makes the card take part of
// a block (code 3) or nothing (code 1); the descriptor's error bit makes it
// answer a size error. The ring is read back to see every command arrive
// once and in order.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "corvan/device_api.h"
#include "corvan/dpr_api.h"
#include "corvan/rotary_api.h"
#include "dpr/rotary_reset.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "pci_card_fixture.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using testing::DriverHostProcess;
using testing::LibraryClock;
using testing::StandInServer;
using testing::WaitForDriverDevice;

// Line i: four one-unit words of its own.
std::string Line(int i) {
  const std::string n = std::to_string(i + 1);
  return "X" + n + " Y" + n + " Z" + n + " A" + n;
}

std::vector<std::uint32_t> Encoded(const std::string& line) {
  std::uint32_t block[152] = {};
  std::string text = line;
  const int words = ZimoDPRAsciiStrToBinary(0, text.data(), block);
  return std::vector<std::uint32_t>(block, block + (words > 0 ? words : 0));
}

class RotaryUsbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(home_.path());
    ASSERT_EQ(RegisterDevice(0, kLocationUsb, 0, nullptr), 1);
    host_ = std::make_unique<DriverHostProcess>(std::vector<std::string>{"usb older"});
    ASSERT_TRUE(WaitForDriverDevice("ZimoUSB0"));
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    ASSERT_NE(App().User(0)->DprAvailable, 0u);
    block().VbgNextFree = block().DprCardBase + 0x1000;
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    host_.reset();
  }
  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }

  RotBufDescriptor Descriptor() {
    RotBufDescriptor d{};
    EXPECT_EQ(ZimoDPRGetRotBufDescriptor(0, 0, &d), 1);
    return d;
  }
  // The card ran everything in its ring: the words it held, in order.
  std::vector<std::uint32_t> Drain() {
    const RotBufDescriptor d = Descriptor();
    const std::vector<std::uint32_t> words = Between(d.CardIndex, d.HostIndex);
    RotBufDescriptor done = d;
    done.CardIndex = d.HostIndex;
    ZimoDPRSetRotBufDescriptor(0, 0, &done);
    return words;
  }
  // The ring's words from index `from` up to `to`.
  std::vector<std::uint32_t> Between(std::uint16_t from, std::uint16_t to) {
    const RotBufDescriptor d = Descriptor();
    const std::uint32_t base = (d.Start - block().DprCardBase) * 4;
    std::vector<std::uint32_t> words;
    for (std::uint32_t i = from; i != to; i = (i + 1) % d.Size) {
      words.push_back(ZimoDPRGetDWord(0, base + 4 * i));
    }
    return words;
  }
  int Put(const std::string& text, int flush) {
    std::string copy = text;
    return ZimoDPRAsciiStrToRotEx(0, copy.data(), 0, flush);
  }

  zimo::testing::TempHome home_;
  LibraryClock clock_;
  std::unique_ptr<DriverHostProcess> host_;
  std::unique_ptr<StandInServer> server_;
};

TEST_F(RotaryUsbTest, PreSendWhenTheBlockIsFull) {
  ASSERT_EQ(ZimoDPRRotBufChange(0, 0, 1000), 0);
  // 120 lines of four units stage 120 x 34 = 4080 of the 4096 bytes.
  std::vector<std::uint32_t> expect;
  for (int i = 0; i < 120; ++i) {
    ASSERT_EQ(Put(Line(i), 0), 0) << i;
    const auto e = Encoded(Line(i));
    expect.insert(expect.end(), e.begin(), e.end());
  }
  EXPECT_EQ(Descriptor().HostIndex, 0) << "nothing sent yet";
  // The next line sends the block first, then waits in it unsent.
  EXPECT_EQ(Put(Line(120), 1), 0);
  EXPECT_EQ(Descriptor().HostIndex, 960);
  EXPECT_EQ(Drain(), expect);
  EXPECT_EQ(Put("", 1), 0);
  EXPECT_EQ(Drain(), Encoded(Line(120)));
}

TEST_F(RotaryUsbTest, APartlyTakenBlockIsNotStagedTwice) {
  // The ring holds 62 lines (496 of its 500 words).
  ASSERT_EQ(ZimoDPRRotBufChange(0, 0, 500), 0);
  std::vector<std::uint32_t> expect;
  for (int i = 0; i < 121; ++i) {
    const auto e = Encoded(Line(i));
    expect.insert(expect.end(), e.begin(), e.end());
  }
  for (int i = 0; i < 120; ++i) ASSERT_EQ(Put(Line(i), 0), 0) << i;
  std::string line = Line(120);
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(0, line.data(), 0), 1) << "the card took part of the block";
  EXPECT_EQ(line, Line(120)) << "not staged: the caller retries with the same text";
  std::vector<std::uint32_t> got = Drain();
  EXPECT_EQ(got.size(), 496u);
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(0, line.data(), 0), 0);
  const auto rest = Drain();
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, expect) << "every line once, in order";

  // The flush after an append that the card takes only in part.
  RotBufDescriptor d = Descriptor();
  std::uint16_t from = d.HostIndex;
  d.CardIndex = static_cast<std::uint16_t>((from + 12) % d.Size);  // room for one line
  ZimoDPRSetRotBufDescriptor(0, 0, &d);
  ASSERT_EQ(Put(Line(0), 0), 0);
  line = Line(1);
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(0, line.data(), 0), 1);
  EXPECT_STREQ(line.c_str(), "") << "staged: the retry only flushes";
  EXPECT_EQ(Between(from, Descriptor().HostIndex), Encoded(Line(0)));
  d = Descriptor();
  from = d.HostIndex;
  d.CardIndex = static_cast<std::uint16_t>((from + 12) % d.Size);
  ZimoDPRSetRotBufDescriptor(0, 0, &d);
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(0, line.data(), 0), 0);
  EXPECT_EQ(Between(from, Descriptor().HostIndex), Encoded(Line(1)));
}

TEST_F(RotaryUsbTest, RefusalsOfTheCard) {
  ASSERT_EQ(ZimoDPRRotBufChange(0, 0, 20), 0);
  ASSERT_EQ(Put(Line(0), 1), 0);
  ASSERT_EQ(Put(Line(1), 1), 0);
  // 16 of 20 words used: no room for another line.
  EXPECT_EQ(Put(Line(2), 1), -1) << "the card took nothing";
  Drain();
  EXPECT_EQ(Put("", 1), 0);
  EXPECT_TRUE(Drain().empty()) << "the refused line did not stay staged";
  RotBufDescriptor d = Descriptor();
  d.Status = 0x8000;
  ZimoDPRSetRotBufDescriptor(0, 0, &d);
  EXPECT_EQ(Put(Line(3), 1), -70);
}

TEST_F(RotaryUsbTest, HostSideRecordsGoOutOnThePipe) {
  SetBinRotHostMode(0, 1);
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0) << "empties the packets, resets reception";
  EXPECT_EQ(host_->Command("host-rotary 0"), "ok |") << "nothing received";
  // Two lines of four units wait; the third sends all three records and
  // the three zero bytes that end the packet: 81 + 3 bytes.
  EXPECT_EQ(Put(Line(0), 0), 0);
  EXPECT_EQ(Put(Line(1), 0), 0);
  EXPECT_EQ(host_->Command("host-rotary 0"), "ok |") << "nothing received";
  std::string text = Line(2);
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(0, text.data(), 0), 0);
  const std::string reply = host_->Command("host-rotary 0");
  ASSERT_EQ(reply.rfind("ok ", 0), 0u) << reply;
  std::string hex = reply.substr(3);
  while (!hex.empty() && hex.back() == '|') hex.pop_back();
  ASSERT_EQ(hex.size(), 2u * (81 + 3)) << hex;
  // Record 0: buffer 0, eight words, 0x80, then X1 as 00 0E 1D 40 00 00.
  EXPECT_EQ(hex.substr(0, 18), "000880000E1D400000");
  EXPECT_EQ(hex.substr(hex.size() - 6), "000000");
  SetBinRotHostMode(0, 0);
}

}  // namespace
}  // namespace zimo::corvan
