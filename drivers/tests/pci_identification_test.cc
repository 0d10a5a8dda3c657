// Card identification: type, version, date, link list, scale factors, I10,
// and the number parsing they rest on.
#include <cstring>
#include <string>
#include <vector>

#include "cardsim/script.h"
#include "pci/device_extension.h"
#include "pci_fixture.h"

namespace zimo::drivers::testing {
namespace {

using PciIdentificationTest = PciTest;

uint32_t CardType(const Reply& r) {
  uint32_t type = 0;
  std::memcpy(&type, r.out.data(), 4);
  return type;
}

TEST(ParseNumberTest, Forms) {
  struct Case {
    const char* text;
    int32_t value;
  };
  for (const Case& c :
       {Case{"$1F", 31}, Case{"-12", -12}, Case{"0x10", 16}, Case{"I10=3713707", 10},
        Case{"=+7", 7}, Case{"abc", 0}, Case{"$ffffffff", -1}, Case{"4294967297", 1}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(pci::ParseNumber(c.text), c.value);
  }
}

TEST_F(PciIdentificationTest, CardTypeOfBothGenerations) {
  AddCard();
  AddSpran();
  Reply older = Query(IOCTL_ZIMO_GET_CARD_TYPE, 4, 0);
  EXPECT_EQ(older.count, 4u);
  EXPECT_EQ(CardType(older), 2u);  // "ZIMO2" with I182 answering in hex
  EXPECT_EQ(CardType(Query(IOCTL_ZIMO_GET_CARD_TYPE, 4, 1)), 7u);  // "SPRAN2"
}

// The driver learns a card's type once, at start. To ask one card several
// ways the test makes its driver forget the type and asks again.
void ForgetCardType(const std::shared_ptr<kernel::FileObject>& file) {
  file->device()->extension<pci::DeviceExtension>()->card_type = -1;
}

// A "TYPE" reply that names a known card decides (first match in the order
// ZIMOU, SPRAN1, SPRAN2, SPRANU); otherwise the I182 reply does: "$" (hex,
// after I9=2) gives 2, a decimal reply 1.
TEST_F(PciIdentificationTest, TypeReplyOrElseTheFormOfTheI182Reply) {
  struct Case {
    bool spran;
    const char* type_text;
    bool hex_refused;  // the card refuses I9=2, so I182 answers in decimal
    uint32_t type;
  };
  const Case cases[] = {
      {false, "ZIMO2", false, 2},       {false, "ZIMO2", true, 1},
      {false, "ZIMOU", false, 3},       {false, "ZIMOU", true, 3},
      {true, "SPRAN1", false, 6},       {true, "SPRAN2", true, 7},
      {true, "SPRANU", false, 8},       {true, "SPRANU SPRAN1", false, 6},
      {false, "ZIMOU SPRAN2", true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type_text) + (c.hex_refused ? ", decimal I182" : ""));
    host::CardConfig config;
    config.spran = c.spran;
    config.type_text = c.type_text;
    const size_t handle = files_.size();
    const int card = AddCard(config);
    if (c.hex_refused) Card(card).script().FailLinesMatching("I9=2", 3);
    ForgetCardType(files_[handle]);
    EXPECT_EQ(CardType(Query(IOCTL_ZIMO_GET_CARD_TYPE, 4, handle)), c.type);
  }
}

// The type query switches I9 for its I182 question and puts the card's own
// value back before it asks "TYPE".
TEST_F(PciIdentificationTest, TypeQueryRestoresI9) {
  const int card = AddCard();
  Card(card).SetIVar(9, 3);
  Card(card).script().ClearLog();
  ForgetCardType(files_[0]);
  EXPECT_EQ(CardType(Query(IOCTL_ZIMO_GET_CARD_TYPE, 4)), 2u);
  EXPECT_EQ(Card(card).IVar(9), 3);
  std::vector<std::string> lines;
  for (const std::string& entry : Card(card).script().received()) {
    if (entry[0] != '^') lines.push_back(entry);  // the flushes before each exchange
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"I9", "I9=2", "I182", "I9=3", "TYPE"}));
}

TEST_F(PciIdentificationTest, VersionAndDate) {
  const int card = AddCard();
  Reply version = Query(IOCTL_ZIMO_GET_VERSION, 100);
  EXPECT_EQ(version.count, 100u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(version.out.data())),
            Card(card).model().version + "\r");
  Reply date = Query(IOCTL_ZIMO_GET_DATE, 100);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(date.out.data())), Card(card).model().date + "\r");
  EXPECT_EQ(Query(IOCTL_ZIMO_GET_VERSION, 99).count, 0u);
}

TEST_F(PciIdentificationTest, LinkListOfTheFirmware) {
  const int card = AddCard();
  Reply r = Query(IOCTL_ZIMO_GET_LINK_LIST, 272);
  ASSERT_EQ(r.count, 272u);
  const auto& expected = Card(card).model().link_list;
  uint32_t entries[68];
  std::memcpy(entries, r.out.data(), sizeof(entries));
  for (size_t i = 0; i < 68; ++i) {
    const uint32_t want = i < expected.size() ? std::stoul(expected[i], nullptr, 16) : 0;
    EXPECT_EQ(entries[i], want) << i;
  }
  EXPECT_EQ(Query(IOCTL_ZIMO_GET_LINK_LIST, 271).count, 0u);
}

TEST_F(PciIdentificationTest, FirmwareBefore115HasNoLinkList) {
  for (const char* version : {"1.14", "1.15", "2.00"}) {
    SCOPED_TRACE(version);
    host::CardConfig config;
    config.version = version;
    const size_t handle = files_.size();
    AddCard(config);
    const bool usable = std::string(version) != "1.14";
    EXPECT_EQ(Query(IOCTL_ZIMO_GET_LINK_LIST, 272, handle).count, usable ? 272u : 0u);
  }
}

TEST_F(PciIdentificationTest, ScaleFactorsAndI10) {
  const int card = AddCard();
  Card(card).SetIVar(108, 1000);
  Card(card).SetIVar(109, 8338608);  // above the largest scale: the default
  Card(card).SetIVar(209, 8338607);
  Card(card).SetIVar(308, -5);
  Reply pos = Query(IOCTL_ZIMO_GET_POS_SCALES, 128);
  Reply vel = Query(IOCTL_ZIMO_GET_VEL_SCALES, 128);
  ASSERT_EQ(pos.count, 128u);
  ASSERT_EQ(vel.count, 128u);
  uint32_t p[32], v[32];
  std::memcpy(p, pos.out.data(), 128);
  std::memcpy(v, vel.out.data(), 128);
  EXPECT_EQ(p[0], 1000u);
  EXPECT_EQ(v[0], 96u);
  EXPECT_EQ(v[1], 8338607u);
  EXPECT_EQ(p[2], 96u);
  EXPECT_EQ(Query(IOCTL_ZIMO_GET_POS_SCALES, 127).count, 0u);

  EXPECT_EQ(Query(IOCTL_ZIMO_GET_I10).count, kDefaultI10);
  Card(card).SetIVar(10, 3500000);
  EXPECT_EQ(Query(IOCTL_ZIMO_GET_I10).count, 3500000u);
  Card(card).SetIVar(10, 0);
  EXPECT_EQ(Query(IOCTL_ZIMO_GET_I10).count, kDefaultI10);
}

TEST_F(PciIdentificationTest, IsaDevicesAnswerTheirOwnResourceForm) {
  host::CardConfig config;
  config.bus = host::Bus::kIsa;
  AddCard(config);
  host::CardInfo info;
  host_->GetCard(host_->Cards()[0].id, &info);
  EXPECT_EQ(info.device_name, "ZimoISA0");
  Reply r = Query(IOCTL_ZIMO_GET_RESOURCES, 16);
  ASSERT_EQ(r.count, 16u);
  ZimoIsaResourceInfo isa;
  std::memcpy(&isa, r.out.data(), sizeof(isa));
  EXPECT_NE(isa.port_base, 0u);
  EXPECT_NE(isa.interrupt, 0u);
  EXPECT_NE(isa.dpr_address, 0u);
  EXPECT_EQ(isa.reserved, 0u);
  EXPECT_EQ(Query(IOCTL_ZIMO_GET_RESOURCES, 24).count, 0u);
  EXPECT_STREQ(PortExchange("I10")[0].text, "3713707\r");
}

}  // namespace
}  // namespace zimo::drivers::testing
