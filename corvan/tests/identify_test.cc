// Card identification over a scripted card: type and generation values,
// firmware texts, servo timing and the bootstrap query. Then the same
// through the whole library against the simulated card on a pseudo-terminal:
// what a first open writes into the shared table for both card generations,
// the exports, and a second process whose open finds the card identified.
//
// The program also plays that second process: started with
// IDENTIFY_TEST_CHILD_ROLE set, it runs the role instead of the tests.
#include "link/identify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/identify_api.h"

#if __has_include("cardsim/attach_pty.h")
#define IDENTIFY_TEST_WITH_CARD 1
#include "corvan/device_api.h"
#include "link/link_list.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "serial_card_fixture.h"
#endif

namespace zimo::corvan {
namespace {

// A card that answers from tables: fixed replies per command, I-variables
// (those with a hexadecimal form show it while I9 bit 1 is set, as a card
// shows address I-variables), assignments to I-variables. Anything else is
// a card error; commands in `silent` time out.
class FakeCard : public CardCommandPath {
 public:
  std::uint32_t GetResponseEx(int, char* buffer, std::uint32_t size, const char* command) override {
    sent.emplace_back(command);
    std::string reply;
    std::uint32_t status = kStatusAck;
    unsigned number = 0;
    char tail = 0;
    if (std::count(silent.begin(), silent.end(), command) > 0) {
      status = kStatusTimeout;
    } else if (auto it = replies.find(command); it != replies.end()) {
      reply = it->second;
    } else if (std::sscanf(command, "I%u%c", &number, &tail) == 1 && ivars.count(number) > 0) {
      const bool hex = (ivars[9] & 2) != 0 && hex_ivars.count(number) > 0;
      reply = (hex ? hex_ivars[number] : std::to_string(ivars[number])) + "\r";
    } else {
      reply = "\aERR003\r";
      status = kStatusCardError;
    }
    const std::size_t n = std::min<std::size_t>(reply.size(), size - 1);
    std::memcpy(buffer, reply.data(), n);
    buffer[n] = '\0';
    return status | static_cast<std::uint32_t>(n);
  }
  std::uint32_t GetLine(int, char* buffer, std::uint32_t size) override {
    sent.emplace_back("<get line>");
    const std::size_t n = std::min<std::size_t>(next_line.size(), size - 1);
    std::memcpy(buffer, next_line.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
  }
  void SendCommand(int, const char* command) override {
    sent.emplace_back(command);
    unsigned number = 0;
    long value = 0;
    if (std::sscanf(command, "I%u=%ld", &number, &value) == 2) ivars[number] = value;
  }
  void ChangeStore(int, const char*) override {}
  void Lock(int) override { ++lock_depth; }
  void Unlock(int) override { --lock_depth; }

  bool WasSent(const std::string& command) const {
    return std::find(sent.begin(), sent.end(), command) != sent.end();
  }

  std::map<std::string, std::string> replies;
  std::map<unsigned, long> ivars{{9, 0}};
  std::map<unsigned, std::string> hex_ivars;
  std::vector<std::string> silent;
  std::string next_line;
  std::vector<std::string> sent;
  int lock_depth = 0;
};

std::unique_ptr<SharedDeviceBlock> FreshBlock() {
  auto block = std::make_unique<SharedDeviceBlock>();
  std::memset(block.get(), 0, sizeof *block);
  block->CardType = kInitialCardType;
  block->BoardVariant = 77;  // so a write shows
  return block;
}

TEST(HexTextBit, CountsBitsFromTheRightEnd) {
  struct Case {
    const char* text;
    int bit;
    int expected;
  };
  const Case cases[] = {
      {"8000", 15, 1},         {"8000", 16, 0},         {"1f", 4, 1}, {"1G", 0, 0},
      {"000000010000", 16, 1}, {"000000010000", 17, 0}, {"F", -1, 0}, {"", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " bit " + std::to_string(c.bit));
    EXPECT_EQ(HexTextBit(c.text, c.bit), c.expected);
  }
}

TEST(DetectCardType, TypeReplyDecidesTypeAndGeneration) {
  struct Case {
    const char* type_reply;
    const char* global_status;  // reply to "???"
    const char* i4900;          // as shown with I9 = 2
    const char* i182;           // as shown with I9 = 2
    std::int32_t type;
    std::uint32_t board_variant;  // 77: not written (SPRAN)
    std::vector<std::string> must_not_ask;
  };
  const Case cases[] = {
      {"ZIMO1\r", "", "", "$0", 1, 1, {"I182", "???", "I4900"}},
      {"ZIMO2 ESA\r", "", "", "$0", 2, 2, {"I182", "???"}},
      {"ZIMOU LHB\r", "", "", "$0", 3, 3, {"I182", "???"}},
      {"SPRAN1\r", "", "", "", 5, 77, {"I182", "???", "I4900"}},
      {"SPRAN2\r", "000000000000\r", "$1F1F0", "", 6, 77, {"I4900", "I182"}},
      {"SPRAN2\r", "000000010000\r", "$1F1F0", "", 8, 77, {"I182"}},
      {"SPRAN2\r", "000000010000\r", "$1F1FC", "", 8, 77, {"I182"}},
      {"SPRAN2\r", "000000010000\r", "$1F1F1", "", 9, 77, {"I182"}},
      {"SPRANU\r", "", "", "", 7, 77, {"I182", "???"}},
      // No name: the I182 question decides between 2 and 1.
      {"MYSTERY\r", "", "", "$1234", 2, 1, {"???"}},
      {"MYSTERY\r", "", "", "  $0", 2, 1, {}},
      {"MYSTERY\r", "", "", "1234", 1, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type_reply) + " / " + c.global_status + " / " + c.i4900);
    FakeCard card;
    card.replies = {{"CPU", "DSP56303\r"}, {"TYPE", c.type_reply}};
    if (*c.global_status) card.replies["???"] = c.global_status;
    card.ivars[4900] = 0;
    card.hex_ivars[4900] = c.i4900;
    card.ivars[182] = 1234;
    card.hex_ivars[182] = c.i182;
    auto block = FreshBlock();
    EXPECT_EQ(DetectCardType(card, 0, *block), 1);
    EXPECT_EQ(block->CardType, c.type);
    EXPECT_EQ(block->BoardVariant, c.board_variant);
    EXPECT_EQ(block->CpuModel, 56303u);
    for (const std::string& question : c.must_not_ask) EXPECT_FALSE(card.WasSent(question));

    const bool spran = c.type >= 4;
    EXPECT_EQ(block->SpranFlag, spran ? 1u : 0u);
    EXPECT_EQ(block->CardMotorCount, spran ? 32u : 8u);
    EXPECT_EQ(block->CardVariableCount, spran ? 8192u : 1024u);
    const std::uint32_t base = spran ? 0x50000 : 0x8000;
    EXPECT_EQ(block->PlcTableBase, base);
    EXPECT_EQ(block->PlcChainEnd, base + 96);
    EXPECT_EQ(block->PlcCodeStart, base + (spran ? 130 : 98));
    EXPECT_EQ(block->PlcSlotTable, base + 32);
    EXPECT_EQ(card.lock_depth, 0);
  }
}

TEST(DetectCardType, HexQuestionsRunWithI9SetAndRestoreIt) {
  FakeCard card;
  card.replies = {{"CPU", "DSP56303\r"}, {"TYPE", "SPRAN2\r"}, {"???", "000000010000\r"}};
  card.ivars[9] = 1;
  card.ivars[4900] = 0x1F1F0;
  card.hex_ivars[4900] = "$1F1F0";
  auto block = FreshBlock();
  DetectCardType(card, 0, *block);
  EXPECT_EQ(block->CardType, 8);  // only the "$" form ends in 0; decimal 127472 ends in 2
  EXPECT_EQ(card.ivars[9], 1);
  const auto at = [&](const std::string& command) {
    return std::find(card.sent.begin(), card.sent.end(), command) - card.sent.begin();
  };
  EXPECT_LT(at("I9"), at("I9=2"));
  EXPECT_LT(at("I9=2"), at("I4900"));
  EXPECT_LT(at("I4900"), at("I9=1"));
}

TEST(DetectCardType, CpuModelNeedsAnAnswer) {
  struct Case {
    const char* reply;
    bool answered;
    std::uint32_t model;
  };
  const Case cases[] = {{"DSP56002\r", true, 56002}, {"DSP\r", true, 0}, {"", false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    FakeCard card;
    card.replies = {{"TYPE", "ZIMO2\r"}};
    if (c.answered) card.replies["CPU"] = c.reply;  // else the card errors
    auto block = FreshBlock();
    block->CpuModel = 99;
    DetectCardType(card, 0, *block);
    EXPECT_EQ(block->CpuModel, c.model);
  }
}

TEST(FirmwareTexts, StoreTheReplyOrNa) {
  struct Case {
    const char* reply;  // null: the card does not answer
    std::uint32_t status;
    const char* stored;
    bool replied;
  };
  const Case cases[] = {
      {"1.16F\r", kStatusAck, "1.16F", true},
      {"1.940 with a long text after it\r", kStatusAck, "1.940 with a long t", true},
      {"\x02"
       "1.2\t3\r",
       kStatusAck, "1.23", true},
      {nullptr, kStatusTimeout, "N/A", false},
      {"\aERR003\r", kStatusCardError, "N/A", false},
      {"\r", kStatusAck, "N/A", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    FakeCard card;
    if (c.reply == nullptr) {
      card.silent = {"VERSION", "DATE"};
    } else if (c.status == kStatusAck) {
      card.replies = {{"VERSION", c.reply}, {"DATE", c.reply}};
    }
    auto block = FreshBlock();
    std::memset(block->FirmwareVersion, 'x', sizeof block->FirmwareVersion);
    std::memset(block->FirmwareDate, 'x', sizeof block->FirmwareDate);
    EXPECT_EQ(ReadFirmwareVersion(card, 0, *block), c.replied);
    EXPECT_EQ(ReadFirmwareDate(card, 0, *block), c.replied);
    EXPECT_STREQ(block->FirmwareVersion, c.stored);
    EXPECT_STREQ(block->FirmwareDate, c.stored);
  }
}

TEST(ServoTiming, FactorsFromI10AndEachMotorsScaleVariables) {
  struct Case {
    const char* name;
    long i10;  // -1: the card does not answer I10
    long i108, i109;
    std::uint32_t servo;
    double position, velocity;
  };
  const double k = 503316480000.0;
  const Case cases[] = {
      {"valid", 3713707, 4096, 2048, 3713707, 1.0 / (4096 * 32.0), k / (2048 * 32.0 * 3713707)},
      {"I10 zero", 0, 96, 96, 3713707, 1.0 / 3072, k / (96 * 32.0 * 3713707)},
      {"I10 unread", -1, 96, 96, 3713707, 1.0 / 3072, k / (96 * 32.0 * 3713707)},
      {"other I10", 1856853, 96, 96, 1856853, 1.0 / 3072, k / (96 * 32.0 * 1856853)},
      {"at the limit", 3713707, 8338608, 8338608, 3713707, 1.0 / 3072, k / (3713707 * 3072.0)},
      {"below the limit", 3713707, 8338607, 1, 3713707, 1.0 / (8338607 * 32.0),
       k / (1 * 32.0 * 3713707)},
      {"zero and negative", 3713707, 0, -5, 3713707, 1.0 / 3072, k / (3713707 * 3072.0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCard card;
    if (c.i10 >= 0) card.ivars[10] = c.i10;
    for (unsigned motor = 1; motor <= 8; ++motor) {
      card.ivars[motor * 100 + 8] = c.i108;
      card.ivars[motor * 100 + 9] = c.i109;
    }
    auto block = FreshBlock();
    block->CardMotorCount = 8;
    EXPECT_EQ(ComputeServoTiming(card, 0, *block), 1);
    EXPECT_EQ(block->ServoI10, c.servo);
    for (int m = 0; m < 8; ++m) {
      EXPECT_DOUBLE_EQ(block->MotorPositionFactor[m], c.position);
      EXPECT_DOUBLE_EQ(block->MotorVelocityFactor[m], c.velocity);
    }
    EXPECT_EQ(block->MotorPositionFactor[8], 0.0);  // only the card's motors
  }
}

TEST(ServoTiming, SpranCardsCoverAll32MotorsByTheirOwnVariables) {
  FakeCard card;
  card.ivars[10] = 3713707;
  card.ivars[3208] = 1000;  // motor 32
  card.ivars[3209] = 500;
  card.ivars[1608] = 2000;  // motor 16; its I1609 is missing: the default 96
  auto block = FreshBlock();
  block->CardMotorCount = 32;
  ComputeServoTiming(card, 0, *block);
  EXPECT_DOUBLE_EQ(block->MotorPositionFactor[31], 1.0 / 32000.0);
  EXPECT_DOUBLE_EQ(block->MotorVelocityFactor[31], 503316480000.0 / (500 * 32.0 * 3713707));
  EXPECT_DOUBLE_EQ(block->MotorPositionFactor[15], 1.0 / 64000.0);
  EXPECT_DOUBLE_EQ(block->MotorVelocityFactor[15], 503316480000.0 / (96 * 32.0 * 3713707));
  EXPECT_TRUE(card.WasSent("I3209"));
  EXPECT_FALSE(card.WasSent("I3308"));
}

TEST(BootstrapQuery, FindsBootstrapTextOnItsLine) {
  struct Case {
    const char* name;
    std::uint32_t location;
    const char* reply;
    const char* next_line;
    int flag;
    bool reads_line;
  };
  const Case cases[] = {
      {"serial in bootstrap", kLocationSerial, "BOOTSTRAP PROM\r", "", 1, false},
      {"running firmware", kLocationPci, "802000004001\r", "", 0, false},
      {"USB line feed first", kLocationUsb, "\n", "BOOTSTRAP PROM\r", 1, true},
      {"Ethernet line feed first", kLocationEthernet, "\n", "BOOTSTRAP PROM\r", 1, true},
      {"PCI line feed is the answer", kLocationPci, "\n", "BOOTSTRAP PROM\r", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCard card;
    card.replies = {{"?", c.reply}};
    card.next_line = c.next_line;
    auto block = FreshBlock();
    block->Location = c.location;
    block->BootstrapFlag = 1 - c.flag;
    EXPECT_EQ(QueryBootstrapMode(card, 0, *block), c.flag);
    EXPECT_EQ(block->BootstrapFlag, static_cast<std::uint32_t>(c.flag));
    EXPECT_EQ(card.WasSent("<get line>"), c.reads_line);
  }
}

#ifdef IDENTIFY_TEST_WITH_CARD

using namespace zimo::corvan::testing;

constexpr char kChildRoleVariable[] = "IDENTIFY_TEST_CHILD_ROLE";

// The second process: opens device 0, which the test process opened and
// identified first; exit code 0 when the open worked and found the fields
// the test left there.
int RunChildRole(const std::string& role) {
  LibraryClock clock;
  if (role != "open-again") return 11;
  if (OpenZimoDevice(0) != 1) return 10;
  const SharedDeviceBlock* block = App().Block(0);
  const bool untouched = block->CardType == 9 && std::strcmp(block->FirmwareVersion, "marker") == 0;
  CloseZimoDevice(0);
  App().End();
  return untouched ? 0 : 12;
}

bool Received(const std::vector<std::string>& log, const std::string& entry) {
  return std::find(log.begin(), log.end(), entry) != log.end();
}

// A serial card of `model` as device 0, opened through the library.
class CardOnLine {
 public:
  explicit CardOnLine(cardsim::CardModel model) {
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1, std::move(model));
    server_ = std::make_unique<StandInServer>();
  }
  ~CardOnLine() {
    ShutdownZimoDevice(0, 1);
    App().End();
  }
  bool Open() { return OpenZimoDevice(0) == 1; }
  SharedDeviceBlock& block() { return server_->table()->Devices[0]; }
  SharedDeviceTable& table() { return *server_->table(); }
  cardsim::Card& card() { return card_->card(); }
  std::vector<std::string> received() { return card_->received(); }

 private:
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

std::string LinkListValue(const char* section, const char* key) {
  char value[64];
  platform::GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, kLinkListFile);
  return value;
}

class IdentifyCardTest : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
  LibraryClock clock_;
};

TEST_F(IdentifyCardTest, FirstOpenOfAnOlderCardFillsTheTable) {
  CardOnLine line(cardsim::CardModel::Older());
  line.card().Execute("I108=4096I109=2048");  // motor 1's scale variables
  ASSERT_TRUE(line.Open());
  const SharedDeviceBlock& b = line.block();
  EXPECT_EQ(b.CardType, 2);
  EXPECT_EQ(b.SpranFlag, 0u);
  EXPECT_EQ(b.BoardVariant, 1u);
  EXPECT_EQ(b.CpuModel, 56002u);
  EXPECT_EQ(b.CardMotorCount, 8u);
  EXPECT_EQ(b.CardVariableCount, 1024u);
  EXPECT_STREQ(b.FirmwareVersion, "1.16F");
  EXPECT_STREQ(b.FirmwareDate, "09/22/1998");
  EXPECT_EQ(b.LinkListValid, 1u);
  EXPECT_EQ(b.PlccEnabled, 1u);
  EXPECT_EQ(b.LinkList[0], 0x0C00u);
  EXPECT_EQ(b.LinkList[67], 0x0C00u + 0x2D * 67);
  EXPECT_EQ(b.PlcTableBase, 0x8000u);
  EXPECT_EQ(b.PlcChainEnd, 0x8060u);
  EXPECT_EQ(b.PlcCodeStart, 0x8062u);
  EXPECT_EQ(b.PlcSlotTable, 0x8020u);
  EXPECT_EQ(b.ServoI10, 3713707u);
  EXPECT_DOUBLE_EQ(b.MotorPositionFactor[0], 1.0 / (4096 * 32.0));
  EXPECT_DOUBLE_EQ(b.MotorVelocityFactor[0], 503316480000.0 / (2048 * 32.0 * 3713707));
  EXPECT_DOUBLE_EQ(b.MotorPositionFactor[7], 1.0 / (96 * 32.0));
  EXPECT_DOUBLE_EQ(b.MotorPositionFactor[8], kInitialScaleFactor);  // no ninth motor
  // The identification left I9 as the card had it.
  EXPECT_EQ(line.card().Execute("I9").lines, std::vector<std::string>{"0"});
  // The list went into the link list file under version and type.
  EXPECT_EQ(LinkListValue("VERSIONS", "1.16F- ZIMO2"), "EXISTS");
  EXPECT_EQ(LinkListValue("1.16F- ZIMO2", "Link1"), "3117");  // 0x0C2D

  // The exports read the table.
  EXPECT_EQ(bZIMOIsSpran(0), 0);
  char text[20];
  EXPECT_STREQ(ZimoGetRomVersionA(0, text, sizeof text), "1.16F");
  EXPECT_STREQ(ZimoGetRomDateA(0, text, 6), "09/22");
  EXPECT_EQ(ZimoInBootStrapMode(0), 0);
  line.block().CardType = 9;
  EXPECT_EQ(ZimoGetZimoType(0), 2);  // asked again
  EXPECT_EQ(ZimoGetZimoType(9), 0);

  // The recorded list restores into the offline slot.
  EXPECT_EQ(::RestoreLinkList("1.16F- ZIMO2"), 1);
  const SharedDeviceBlock& offline = line.table().Devices[kOfflineSlot];
  EXPECT_EQ(offline.CardType, 2);
  EXPECT_EQ(offline.LinkListValid, 1u);
  EXPECT_EQ(offline.LinkList[67], b.LinkList[67]);
  EXPECT_EQ(::RestoreLinkList("1.16F- ZIMO9"), 0);
}

TEST_F(IdentifyCardTest, FirstOpenOfSpranCardsFillsTheTable) {
  struct Case {
    const char* name;
    cardsim::CardModel model;
    std::int32_t type;
    bool asks_list;
  };
  cardsim::CardModel older_firmware = cardsim::CardModel::Spran();
  older_firmware.version = "1.930";
  const Case cases[] = {
      {"SPRAN2 with firmware 1.940", cardsim::CardModel::Spran(), 6, false},
      {"SPRAN2 with firmware 1.930", older_firmware, 6, true},
      {"SPRAN2 of type 8", cardsim::CardModel::SpranType8(), 8, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zimo::testing::TempHome home;
    CardOnLine line(c.model);
    line.card().Execute("I3208=1000I3209=500");  // the last motor's scale variables
    ASSERT_TRUE(line.Open());
    const SharedDeviceBlock& b = line.block();
    EXPECT_EQ(b.CardType, c.type);
    EXPECT_EQ(b.SpranFlag, 1u);
    EXPECT_EQ(b.CpuModel, 56303u);
    EXPECT_EQ(b.CardMotorCount, 32u);
    EXPECT_EQ(b.CardVariableCount, 8192u);
    EXPECT_STREQ(b.FirmwareVersion, c.model.version.c_str());
    EXPECT_STREQ(b.FirmwareDate, "05/14/2003");
    EXPECT_EQ(b.PlcTableBase, 0x50000u);
    EXPECT_EQ(b.PlcCodeStart, 0x50082u);
    EXPECT_EQ(b.LinkListValid, 1u);
    EXPECT_EQ(b.PlccEnabled, 1u);
    EXPECT_EQ(Received(line.received(), "LISTLINK"), c.asks_list);
    EXPECT_EQ(b.LinkList[1], c.asks_list ? 0x0C2Du : 0u);
    EXPECT_DOUBLE_EQ(b.MotorPositionFactor[31], 1.0 / 32000.0);
    EXPECT_DOUBLE_EQ(b.MotorVelocityFactor[31], 503316480000.0 / (500 * 32.0 * 3713707));
    EXPECT_EQ(bZIMOIsSpran(0), 1);
  }
}

TEST_F(IdentifyCardTest, BootstrapQueryAsksTheCard) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  EXPECT_EQ(ZimoInBootStrapMode(0), 0);
  line.card().EnterBootstrap();
  EXPECT_EQ(ZimoInBootStrapMode(0), 1);
  EXPECT_EQ(line.block().BootstrapFlag, 1u);
  EXPECT_EQ(GetBootstrapFlag(0), 1u);
  line.card().LeaveBootstrap();
  EXPECT_EQ(ZimoInBootStrapMode(0), 0);
  EXPECT_EQ(line.block().BootstrapFlag, 0u);
}

TEST_F(IdentifyCardTest, OnlyAnOpenDeviceIsAskedAgain) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  ShutdownZimoDevice(0, 1);
  line.card().script().ClearLog();
  // Another process may hold the device: what the table says stands.
  line.block().CardType = 9;
  line.block().BootstrapFlag = 1;
  EXPECT_EQ(ZimoGetZimoType(0), 9);
  EXPECT_EQ(ZimoInBootStrapMode(0), 1);
  EXPECT_EQ(line.block().CardType, 9);
  EXPECT_TRUE(line.received().empty());
}

TEST_F(IdentifyCardTest, ASecondProcessOpenDoesNotIdentifyAgain) {
  CardOnLine line(cardsim::CardModel::Older());
  ASSERT_TRUE(line.Open());
  // Fields only an identification would write back.
  line.block().CardType = 9;
  std::snprintf(line.block().FirmwareVersion, kFirmwareTextSize, "marker");
  line.card().script().ClearLog();

  platform::SpawnOptions options;
  options.environment.push_back(std::string(kChildRoleVariable) + "=open-again");
  auto child = platform::Spawn({platform::ExecutablePath().string()}, options);
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  auto exit_code = child->Wait(std::chrono::seconds(60));
  ASSERT_TRUE(exit_code.ok());
  EXPECT_EQ(*exit_code, 0);

  const std::vector<std::string> log = line.received();
  EXPECT_TRUE(Received(log, "?"));  // the second open did talk to the card
  for (const char* question : {"CPU", "TYPE", "VERSION", "DATE", "LISTLINK", "I10"}) {
    EXPECT_FALSE(Received(log, question)) << question;
  }
  EXPECT_EQ(line.block().CardType, 9);
}

#endif  // IDENTIFY_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan

#ifdef IDENTIFY_TEST_WITH_CARD
int main(int argc, char** argv) {
  if (const char* role = std::getenv(zimo::corvan::kChildRoleVariable)) {
    return zimo::corvan::RunChildRole(role);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
#endif
