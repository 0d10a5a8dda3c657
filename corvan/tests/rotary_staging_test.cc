// Rotary commands staged for an Ethernet card and host-side packets, against
// a peer that plays the card: what each send carries, and what the library
// does with each answer code (0 taken, 1 refused, 2 size error, 3 partly
// taken, anything else), a failed exchange, and the feeders that must hand
// every command over exactly once.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "corvan/rotary_api.h"
#include "eth_test_fixture.h"
#include "link/eth_transport.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;

constexpr int kDevice = 0;

// A line of `units` one-unit words.
std::string Line(int units) {
  std::string line;
  for (int i = 0; i < units; ++i) line += "X1 ";
  return line;
}

// The card's side: the payloads of its rotary puts, answered from a script
// (code, bytes taken; bytes -1 = all of the payload; an empty answer makes
// the exchange fail).
class ScriptedCard {
 public:
  struct Answer {
    int code = 0;
    int taken = -1;
    bool broken = false;
  };

  explicit ScriptedCard(const std::string& address)
      : peer_(address, [this](const std::string& request) { return Handle(request); }) {}

  void Queue(Answer a) {
    std::lock_guard<std::mutex> guard(mutex_);
    script_.push_back(a);
  }
  void SetDefault(Answer a) {
    std::lock_guard<std::mutex> guard(mutex_);
    default_ = a;
  }
  std::vector<std::string> Puts() {
    std::lock_guard<std::mutex> guard(mutex_);
    return puts_;
  }

 private:
  std::optional<std::string> Handle(const std::string& request) {
    if (request.size() < 8) return std::nullopt;
    const auto code = static_cast<std::uint8_t>(request[1]);
    if (code != eth::kRotBufPut) return std::string(1, '\x01');
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string payload = request.substr(8);
    puts_.push_back(payload);
    Answer a = default_;
    if (!script_.empty()) {
      a = script_.front();
      script_.pop_front();
    }
    if (a.broken) return std::string("\x00\x00", 2);
    const int taken = a.taken < 0 ? static_cast<int>(payload.size()) : a.taken;
    const char answer[4] = {static_cast<char>(taken & 0xFF), static_cast<char>(taken >> 8),
                            static_cast<char>(a.code), 0};
    return std::string(answer, 4);
  }

  std::mutex mutex_;
  std::deque<Answer> script_;
  Answer default_;
  std::vector<std::string> puts_;
  RoguePeer peer_;
};

class RotaryStagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_.Register(kDevice, 0, false);
    ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);
    App().User(kDevice)->DprAvailable = 1;
    table_.block(kDevice).CardMotorCount = 8;
    table_.block(kDevice).CardVariableCount = 1024;
  }
  void TearDown() override { App().User(kDevice)->DprAvailable = 0; }

  int Put(const std::string& text, int flush) {
    std::string copy = text;
    return ZimoDPRAsciiStrToRotEx(kDevice, copy.data(), 0, flush);
  }

  zimo::testing::TempHome home_;
  std::string address_ = UniqueLoopbackAddress();
  EthTable table_;
  ScriptedCard card_{address_};
};

// The staged form of "X1": byte count 8, then the unit's two words.
const std::string kStagedX1("\x08\x00\x1D\x0E\x00\x00\x00\x40\x00\x00", 10);

TEST_F(RotaryStagingTest, CardCodes) {
  ZimoDPRRotBufClr(kDevice, 0);
  EXPECT_EQ(Put("X1", 1), 0);
  ASSERT_EQ(card_.Puts().size(), 1u);
  EXPECT_EQ(card_.Puts()[0], kStagedX1);

  card_.Queue({1});
  EXPECT_EQ(Put("X1", 1), -1) << "refused";
  card_.Queue({2});
  EXPECT_EQ(Put("X1", 1), -70) << "size error";
  // A refused command is not left in the block: the next send holds only
  // the next command.
  EXPECT_EQ(Put("X1", 1), 0);
  EXPECT_EQ(card_.Puts().back(), kStagedX1);

  // A failed exchange never reads as taken.
  card_.Queue({0, -1, true});
  EXPECT_EQ(Put("X1", 1), -1);
  EXPECT_EQ(Put("", 1), 0) << "nothing was left to send";
  EXPECT_EQ(card_.Puts().size(), 5u);
}

TEST_F(RotaryStagingTest, PartlyTakenCommandsAreSentOnce) {
  ZimoDPRRotBufClr(kDevice, 0);
  EXPECT_EQ(Put("X1", 0), 0);
  EXPECT_TRUE(card_.Puts().empty()) << "flush 0 only stages";
  // The card takes the first command only.
  card_.Queue({3, 10});
  char text[] = "X1 X1";
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(kDevice, text, 0), 1);
  EXPECT_STREQ(text, "") << "the caller's retry only flushes";
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(kDevice, text, 0), 0);
  const auto puts = card_.Puts();
  ASSERT_EQ(puts.size(), 2u);
  EXPECT_EQ(puts[0].size(), 10u + 18u);
  EXPECT_EQ(puts[1].size(), 18u) << "the rest, once";

  // A byte count beyond what was sent takes the whole block and no more.
  card_.Queue({3, 4000});
  char again[] = "X1";
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(kDevice, again, 0), 1);
  EXPECT_EQ(Put("", 1), 0);
  EXPECT_EQ(card_.Puts().size(), 3u) << "nothing was left to send";
}

TEST_F(RotaryStagingTest, PreSendWhenTheBlockIsFull) {
  ZimoDPRRotBufClr(kDevice, 0);
  // 41 lines of four units fill 41 x 34 = 1394 of the 1400 bytes.
  for (int i = 0; i < 41; ++i) ASSERT_EQ(Put(Line(4), 0), 0) << i;
  EXPECT_TRUE(card_.Puts().empty());
  // The 42nd line sends the block first and waits staged, unsent.
  EXPECT_EQ(Put(Line(4), 1), 0);
  ASSERT_EQ(card_.Puts().size(), 1u);
  EXPECT_EQ(card_.Puts()[0].size(), 1394u);
  EXPECT_EQ(Put("", 1), 0);
  ASSERT_EQ(card_.Puts().size(), 2u);
  EXPECT_EQ(card_.Puts()[1].size(), 34u);

  // When the card takes only part of the full block, the line is not
  // staged and the call says so.
  for (int i = 0; i < 41; ++i) ASSERT_EQ(Put(Line(4), 0), 0) << i;
  card_.Queue({3, 34});
  std::string line = Line(4);
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(kDevice, line.data(), 0), 1);
  EXPECT_EQ(line, Line(4)) << "not staged: the text stays for the retry";
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(kDevice, line.data(), 0), 0);
  const auto puts = card_.Puts();
  ASSERT_EQ(puts.size(), 4u);
  EXPECT_EQ(puts[3].size(), 1360u + 34u) << "40 lines left, then the retried one";
}

TEST_F(RotaryStagingTest, UnknownCodesNeverOverfillTheBlock) {
  ZimoDPRRotBufClr(kDevice, 0);
  card_.SetDefault({4});
  int accepted = 0;
  int retries = 0;
  for (int i = 0; i < 60; ++i) {
    const int r = Put(Line(4), 0);
    accepted += r == 0 ? 1 : 0;
    retries += r == 1 ? 1 : 0;
  }
  EXPECT_EQ(accepted, 41);
  EXPECT_EQ(retries, 19);
  card_.SetDefault({0});
  EXPECT_EQ(Put("", 1), 0);
  EXPECT_EQ(card_.Puts().back().size(), 1394u);
}

TEST_F(RotaryStagingTest, RecordsFromMemoryMoveOnOnce) {
  ZimoDPRRotBufClr(kDevice, 0);
  // Two records of one unit each, then the end.
  std::vector<std::uint8_t> list;
  for (int r = 0; r < 2; ++r) {
    const std::uint8_t record[] = {2, 0, 0x1D, 0x0E, 0, 0, 0, 0x40, 0, 0};
    list.insert(list.end(), record, record + sizeof record);
  }
  list.push_back(0);
  list.push_back(0);
  const void* at = list.data();
  const void* next = nullptr;

  card_.Queue({3, 0});  // the first record is staged but not taken
  EXPECT_EQ(ZimoDPRBinaryToRot(kDevice, at, &next, 0), 0);
  ASSERT_EQ(next, list.data() + 10) << "a staged record is not put again";
  at = next;
  EXPECT_EQ(ZimoDPRBinaryToRot(kDevice, at, &next, 0), 0);
  ASSERT_EQ(next, list.data() + 20);
  at = next;
  EXPECT_EQ(ZimoDPRBinaryToRot(kDevice, at, &next, 0), 2);
  EXPECT_EQ(next, list.data() + 20) << "count 0 leaves the pointer";
  const auto puts = card_.Puts();
  ASSERT_EQ(puts.size(), 2u);
  EXPECT_EQ(puts[1], kStagedX1 + kStagedX1) << "each record exactly once";

  // An end reached while commands still wait sends them first.
  EXPECT_EQ(Put("X1", 0), 0);
  card_.Queue({3, 0});
  EXPECT_EQ(ZimoDPRBinaryToRot(kDevice, at, &next, 0), 1);
  EXPECT_EQ(ZimoDPRBinaryToRot(kDevice, at, &next, 0), 2);
  EXPECT_EQ(card_.Puts().back(), kStagedX1);
}

TEST_F(RotaryStagingTest, FilesAreFedLineByLineOnce) {
  ZimoDPRRotBufClr(kDevice, 0);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("x1\r\nIF(P1>0)X2\n\n", file);
  std::fputs((std::string(300, ' ') + "X1\n").c_str(), file);
  std::fputs("X1", file);
  std::rewind(file);
  card_.Queue({3, 0});
  EXPECT_EQ(ZimoDPRAsciiFileToRot(kDevice, file, 0), 0) << "staged; sent by the next call";
  EXPECT_EQ(ZimoDPRAsciiFileToRot(kDevice, file, 0), 0);
  EXPECT_EQ(ZimoDPRAsciiFileToRot(kDevice, file, 0), 0) << "an empty line";
  EXPECT_EQ(ZimoDPRAsciiFileToRot(kDevice, file, 0), -62) << "a line over 255 characters";
  EXPECT_EQ(ZimoDPRAsciiFileToRot(kDevice, file, 0), 0);
  EXPECT_EQ(ZimoDPRAsciiFileToRot(kDevice, file, 0), 2);
  std::fclose(file);
  const auto puts = card_.Puts();
  ASSERT_EQ(puts.size(), 3u);
  EXPECT_EQ(puts[0], kStagedX1);
  EXPECT_EQ(puts[1].size(), 10u + 2 + 5 * 8) << "X1 again with the IF line: each once";
  EXPECT_EQ(puts[2], kStagedX1);
}

TEST_F(RotaryStagingTest, BinaryFilesRoundTrip) {
  std::FILE* text = std::tmpfile();
  std::FILE* binary = std::tmpfile();
  ASSERT_NE(text, nullptr);
  ASSERT_NE(binary, nullptr);
  std::fputs("X10\n\nlinear\n", text);
  std::rewind(text);
  EXPECT_EQ(ZimoDPRAsciiToBinaryFile(kDevice, text, binary), 2);
  std::rewind(binary);
  std::uint8_t bytes[64] = {};
  ASSERT_EQ(std::fread(bytes, 1, sizeof bytes, binary), 2u + 8 + 2 + 2 + 8);
  const std::uint8_t expect[] = {2, 0, 0x20, 0x0E, 0,    0, 0, 0x50, 0, 0, 0,
                                 0, 2, 0,    0x80, 0x0F, 1, 0, 0,    0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes, expect, sizeof expect), 0);
  std::rewind(binary);
  ZimoDPRRotBufClr(kDevice, 0);
  EXPECT_EQ(ZimoDPRBinaryFileToRot(kDevice, binary, 0), 0);
  EXPECT_EQ(ZimoDPRBinaryFileToRot(kDevice, binary, 0), 0);
  EXPECT_EQ(ZimoDPRBinaryFileToRot(kDevice, binary, 0), 0);
  EXPECT_EQ(ZimoDPRBinaryFileToRot(kDevice, binary, 0), 2);
  EXPECT_EQ(card_.Puts().size(), 2u) << "the empty record sends nothing";

  // A record cut short.
  std::FILE* cut = std::tmpfile();
  const std::uint8_t head[] = {4, 0, 1, 2, 3, 4};
  std::fwrite(head, 1, sizeof head, cut);
  std::rewind(cut);
  EXPECT_EQ(ZimoDPRBinaryFileToRot(kDevice, cut, 0), -65);
  std::fclose(cut);
  std::fclose(text);
  std::fclose(binary);
}

TEST_F(RotaryStagingTest, HostSidePackets) {
  SetBinRotHostMode(kDevice, 1);
  EXPECT_EQ(table_.block(kDevice).HostRotaryMode, 1u);
  // Unit bytes 01..08 travel as 03 02 01 06 05 04.
  const std::uint32_t unit[2] = {0x04030201, 0x08070605};
  EXPECT_EQ(ZimoHostrotput(kDevice, 2, unit, 3, 1, nullptr), 0);
  ASSERT_EQ(card_.Puts().size(), 1u);
  EXPECT_EQ(card_.Puts()[0], std::string("\x03\x02\x80\x03\x02\x01\x06\x05\x04", 9));
  EXPECT_EQ(ZimoHostrotput(kDevice, 2, unit, 16, 1, nullptr), -1) << "no packet 16";

  // Two lines of four units wait; the third sends all three records.
  std::string line = Line(4);
  EXPECT_EQ(ZimoDPRAsciiStrToRotEx(kDevice, line.data(), 0, 0), 0);
  line = Line(4);
  EXPECT_EQ(ZimoDPRAsciiStrToRotEx(kDevice, line.data(), 0, 0), 0);
  line = Line(4);
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(kDevice, line.data(), 0), 0);
  ASSERT_EQ(card_.Puts().size(), 2u);
  EXPECT_EQ(card_.Puts()[1].size(), 81u);
  EXPECT_EQ(card_.Puts()[1].substr(0, 3), std::string("\x00\x08\x80", 3));

  // A card that answers 0 keeps the record; the blanked text only flushes.
  card_.Queue({0, 0});
  char text[] = "X1";
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(kDevice, text, 0), 1);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(kDevice, text, 0), 0);
  EXPECT_EQ(card_.Puts().back(), std::string("\x00\x02\x80\x00\x0E\x1D\x40\x00\x00", 9));

  // A line that does not fit the 1400-byte packet sends the packet first.
  for (int i = 0; i < 17; ++i) {
    line = Line(4);
    ASSERT_EQ(ZimoDPRAsciiStrToRotEx(kDevice, line.data(), 0, 0), 0) << i;
  }
  line = Line(76);  // 3 + 456 bytes
  const std::size_t before = card_.Puts().size();
  EXPECT_EQ(ZimoDPRAsciiStrToRotEx(kDevice, line.data(), 0, 0), 0);
  EXPECT_EQ(card_.Puts().size(), before) << "17 x 27 + 152 x 4 + 6 still fits";
  line = Line(76);
  EXPECT_EQ(ZimoDPRAsciiStrToRotA(kDevice, line.data(), 0), 0);
  const auto puts = card_.Puts();
  ASSERT_EQ(puts.size(), before + 2);
  EXPECT_EQ(puts[before].size(), 17u * 27 + 459);
  EXPECT_EQ(puts[before + 1].size(), 459u);
  SetBinRotHostMode(kDevice, 0);
}

}  // namespace
}  // namespace zimo::corvan
