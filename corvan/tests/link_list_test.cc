// The firmware link list: version thresholds, parsing the card's list,
// recording it in the link list file and restoring it into the offline slot.
#include "link/link_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "platform/home.h"
#include "platform/profile.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

// A card that answers "TYPE" and "LISTLINK" from its fields and counts what
// it was asked.
class ListCard : public CardCommandPath {
 public:
  std::uint32_t GetResponseEx(int, char* buffer, std::uint32_t size, const char* command) override {
    sent.emplace_back(command);
    std::string reply;
    std::uint32_t status = kStatusAck;
    if (std::strcmp(command, "TYPE") == 0) {
      reply = type;
      status = type_status;
    } else if (std::strcmp(command, "LISTLINK") == 0) {
      reply = list;
      status = list_status;
    } else {
      reply = "\aERR003\r";
      status = kStatusCardError;
    }
    const std::size_t n = std::min<std::size_t>(reply.size(), size - 1);
    std::memcpy(buffer, reply.data(), n);
    buffer[n] = '\0';
    return status | static_cast<std::uint32_t>(n);
  }
  std::uint32_t GetLine(int, char* buffer, std::uint32_t) override {
    buffer[0] = '\0';
    return 0;
  }
  void SendCommand(int, const char* command) override { sent.emplace_back(command); }
  void ChangeStore(int, const char*) override {}
  void Lock(int) override {}
  void Unlock(int) override {}

  int Asked(const char* command) const {
    return static_cast<int>(std::count(sent.begin(), sent.end(), command));
  }

  std::string type = "ZIMO2\r";
  std::uint32_t type_status = kStatusAck;
  std::string list;
  std::uint32_t list_status = kStatusAck;
  std::vector<std::string> sent;
};

// The card's list as it sends it: six hex digits and CR per entry.
std::string CardList(int entries, std::uint32_t first = 0x0C00) {
  std::string text;
  for (int i = 0; i < entries; ++i) {
    char entry[16];
    std::snprintf(entry, sizeof entry, "%06X\r", first + 0x2D * static_cast<std::uint32_t>(i));
    text += entry;
  }
  return text;
}

std::unique_ptr<SharedDeviceBlock> Block(std::int32_t type, const char* version) {
  auto block = std::make_unique<SharedDeviceBlock>();
  std::memset(block.get(), 0, sizeof *block);
  block->CardType = type;
  block->SpranFlag = type >= 4 ? 1 : 0;
  std::snprintf(block->FirmwareVersion, sizeof block->FirmwareVersion, "%s", version);
  std::fill(std::begin(block->LinkList), std::end(block->LinkList), 0xAAAAu);
  block->PlcTableBase = 0x8000;
  return block;
}

std::string ProfileValue(const char* section, const char* key) {
  char value[64];
  platform::GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, kLinkListFile);
  return value;
}

TEST(FirmwareVersion, ComparesAsTextAndNoVersionIsLowest) {
  struct Case {
    const char* version;
    const char* reference;
    std::size_t length;
    int sign;
  };
  const Case cases[] = {
      {"1.16F", "1.15", 4, 1},
      {"1.15", "1.15", 4, 0},
      {"1.15B", "1.15", 4, 0},
      {"1.14", "1.15", 4, -1},
      {"1.940", "1.937", 5, 1},
      {"1.937", "1.937", 5, 0},
      {"1.930", "1.937", 5, -1},
      // A card that gave no version ("N/A") or an empty text is below everything,
      // though 'N' sorts above every digit.
      {"N/A", "1.15", 4, -1},
      {"N/A", "1.937", 5, -1},
      {"", "1.15", 4, -1},
      {" 1.16", "1.15", 4, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " vs " + c.reference);
    const int result = CompareFirmwareVersion(c.version, c.reference, c.length);
    EXPECT_EQ((result > 0) - (result < 0), c.sign);
  }
}

TEST(ParseLinkList, ReadsTheAnnouncedEntries) {
  struct Case {
    const char* name;
    std::string text;
    std::uint32_t count;  // as the command API reports it
    LinkListParse result;
    std::vector<std::uint32_t> first;  // expected leading entries
    std::size_t written;               // entries written (others keep 0xAAAA)
  };
  const std::string full = CardList(68);
  const Case cases[] = {
      {"27 characters are 4 entries",
       "000C00\r000C2D\r000C5A\r000C87",
       27,
       LinkListParse::kComplete,
       {0x0C00, 0x0C2D, 0x0C5A, 0x0C87},
       4},
      {"a whole list",
       full,
       static_cast<std::uint32_t>(full.size()),
       LinkListParse::kComplete,
       {0x0C00, 0x0C2D},
       68},
      {"blanks, tabs and line feeds",
       " 00FFFF\r\n\t0001 \r",
       16,
       LinkListParse::kComplete,
       {0xFFFF, 0x0001},
       2},
      {"text ends early", "000C00\r000C2D\r", 27, LinkListParse::kShort, {0x0C00, 0x0C2D}, 2},
      {"an entry above 0xFFFF", "000C00\r010000\r000C5A\r", 21, LinkListParse::kRejected, {}, 68},
      {"an entry without digits", "000C00\rzzzzzz\r000C5A\r", 21, LinkListParse::kRejected, {}, 68},
      {"lower-case digits end an entry", "00000c\r", 7, LinkListParse::kComplete, {0}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto block = Block(2, "1.16F");
    EXPECT_EQ(ParseLinkList(c.text.c_str(), c.count, block->LinkList), c.result);
    if (c.result == LinkListParse::kRejected) {
      EXPECT_TRUE(std::all_of(std::begin(block->LinkList), std::end(block->LinkList),
                              [](std::uint32_t v) { return v == 0; }));
      continue;
    }
    for (std::size_t i = 0; i < c.first.size(); ++i) EXPECT_EQ(block->LinkList[i], c.first[i]);
    for (std::size_t i = c.written; i < kLinkListEntries; ++i) {
      EXPECT_EQ(block->LinkList[i], 0xAAAAu) << "entry " << i;
    }
  }
}

TEST(ParseLinkList, StopsAtTheLastSlotOfALongerList) {
  // 78 entries fit the reply buffer; the ten beyond the 68 slots must not
  // reach the PLC addresses that follow the list.
  const std::string text = CardList(78, 0x0100);
  auto block = Block(2, "1.16F");
  EXPECT_EQ(ParseLinkList(text.c_str(), static_cast<std::uint32_t>(text.size()), block->LinkList),
            LinkListParse::kComplete);
  EXPECT_EQ(block->LinkList[67], 0x0100u + 0x2D * 67);
  EXPECT_EQ(block->PlcTableBase, 0x8000u);
}

class LinkListFileTest : public ::testing::Test {
 protected:
  testing::TempHome home_;
};

TEST_F(LinkListFileTest, ReadDependsOnGenerationAndVersion) {
  struct Case {
    const char* name;
    std::int32_t type;
    const char* version;
    int result;
    std::uint32_t valid;
    bool asks;
    bool cleared;
  };
  const Case cases[] = {
      {"SPRAN from 1.937 needs no list", 6, "1.940", 1, 1, false, false},
      {"SPRAN below 1.937 reads it", 6, "1.930", 1, 1, true, false},
      {"older from 1.15 reads it", 2, "1.16F", 1, 1, true, false},
      {"older below 1.15 has none", 2, "1.14", 0, 0, false, true},
      {"older without version", 2, "N/A", 0, 0, false, true},
      // Without a version a SPRAN card must not pass as new firmware.
      {"SPRAN without version", 6, "N/A", 0, 0, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ListCard card;
    card.type = c.type >= 4 ? "SPRAN2\r" : "ZIMO2\r";
    card.list = CardList(68);
    auto block = Block(c.type, c.version);
    block->LinkListValid = 1 - c.valid;
    EXPECT_EQ(ReadLinkList(card, 0, *block), c.result);
    EXPECT_EQ(block->LinkListValid, c.valid);
    EXPECT_EQ(card.Asked("LISTLINK"), c.asks ? 1 : 0);
    if (c.asks) {
      EXPECT_EQ(block->LinkList[1], 0x0C2Du);
    }
    if (c.cleared) {
      EXPECT_EQ(block->LinkList[0], 0u);
    }
  }
}

TEST_F(LinkListFileTest, UnusableRepliesLeaveNoValidList) {
  struct Case {
    const char* name;
    std::string list;
    std::uint32_t status;
  };
  const Case cases[] = {
      {"empty", "", kStatusAck},
      {"card error", "\aERR003\r", kStatusCardError},
      {"time-out", "000C00\r000C2D\r", kStatusTimeout},
      {"entry out of range", "000C00\r123456\r", kStatusAck},
      {"short", CardList(3) + std::string(20, '\0'), kStatusAck},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ListCard card;
    card.list = c.list;
    card.list_status = c.status;
    auto block = Block(2, "1.16F");
    block->LinkListValid = 1;
    EXPECT_EQ(ReadLinkList(card, 0, *block), 0);
    EXPECT_EQ(block->LinkListValid, 0u);
    EXPECT_EQ(card.Asked("TYPE"), 0);  // nothing recorded
  }
  EXPECT_FALSE(std::filesystem::exists(platform::ProfilePath(kLinkListFile)));
}

TEST_F(LinkListFileTest, ReadRecordsTheListOnce) {
  ListCard card;
  card.type = "ZIMO2\r";
  card.list = CardList(68);
  auto block = Block(2, "1.16F");
  ASSERT_EQ(ReadLinkList(card, 0, *block), 1);
  EXPECT_EQ(ProfileValue("VERSIONS", "1.16F- ZIMO2"), "EXISTS");
  EXPECT_EQ(ProfileValue("1.16F- ZIMO2", "Link0"), "3072");   // 0x0C00 in decimal
  EXPECT_EQ(ProfileValue("1.16F- ZIMO2", "Link67"), "6087");  // 0x0C00 + 0x2D * 67

  // Recorded: a second backup of the same card type and version leaves the
  // file as it is, even where the list differs.
  platform::WritePrivateProfileStringA("1.16F- ZIMO2", "Link0", "1234", kLinkListFile);
  block->LinkList[0] = 1;
  EXPECT_EQ(BackupLinkList(card, 0, *block), 1);
  EXPECT_EQ(ProfileValue("1.16F- ZIMO2", "Link0"), "1234");

  // Another version is a section of its own.
  std::snprintf(block->FirmwareVersion, sizeof block->FirmwareVersion, "1.17A");
  EXPECT_EQ(BackupLinkList(card, 0, *block), 1);
  EXPECT_EQ(ProfileValue("1.17A- ZIMO2", "Link0"), "1");
  EXPECT_EQ(ProfileValue("VERSIONS", "1.17A- ZIMO2"), "EXISTS");
}

TEST_F(LinkListFileTest, BackupNeedsTheCardsTypeReply) {
  // Without the type the section would not say which card the list is of.
  ListCard silent;
  silent.type.clear();
  ListCard refusing;
  refusing.type = "\aERR003\r";
  refusing.type_status = kStatusCardError;
  auto block = Block(2, "1.16F");
  EXPECT_EQ(BackupLinkList(silent, 0, *block), 0);
  EXPECT_EQ(BackupLinkList(refusing, 0, *block), 0);
  EXPECT_FALSE(std::filesystem::exists(platform::ProfilePath(kLinkListFile)));
}

TEST_F(LinkListFileTest, RestoreFillsTheOfflineSlot) {
  struct Case {
    const char* type_reply;
    std::int32_t type;
    std::uint32_t spran, motors, variables, plc_base, code_start, variant;
  };
  const Case cases[] = {
      {"ZIMO2 LHB\r", 2, 0, 8, 1024, 0x8000, 0x8062, 3},
      {"ZIMO1\r", 1, 0, 8, 1024, 0x8000, 0x8062, 1},
      // Offline, a "SPRAN2" card cannot be asked for its type-8 marks.
      {"SPRAN2\r", 6, 1, 32, 8192, 0x50000, 0x50082, 77},
      {"SPRANU\r", 7, 1, 32, 8192, 0x50000, 0x50082, 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type_reply);
    ListCard card;
    card.type = c.type_reply;
    auto source = Block(c.type, "1.930");
    for (std::size_t i = 0; i < kLinkListEntries; ++i) source->LinkList[i] = 0x100 + i;
    ASSERT_EQ(BackupLinkList(card, 0, *source), 1);

    std::string section = "1.930- " + std::string(c.type_reply);
    section.pop_back();  // the CR is not part of the name
    auto slot = Block(3, "");
    slot->SpranFlag = 1;
    slot->BoardVariant = 77;
    EXPECT_EQ(RestoreLinkList(section.c_str(), *slot), 1);
    EXPECT_TRUE(std::equal(std::begin(slot->LinkList), std::end(slot->LinkList),
                           std::begin(source->LinkList)));
    EXPECT_EQ(slot->CardType, c.type);
    EXPECT_EQ(slot->SpranFlag, c.spran);
    EXPECT_EQ(slot->CardMotorCount, c.motors);
    EXPECT_EQ(slot->CardVariableCount, c.variables);
    EXPECT_EQ(slot->PlcTableBase, c.plc_base);
    EXPECT_EQ(slot->PlcCodeStart, c.code_start);
    EXPECT_EQ(slot->BoardVariant, c.variant);
    EXPECT_EQ(slot->PlccEnabled, 1u);
    EXPECT_EQ(slot->LinkListValid, 1u);
  }
}

TEST_F(LinkListFileTest, RestoreRefusesAnIncompleteSection) {
  ListCard card;
  auto source = Block(2, "1.16F");
  for (std::size_t i = 0; i < kLinkListEntries; ++i) source->LinkList[i] = 0x200 + i;
  ASSERT_EQ(BackupLinkList(card, 0, *source), 1);

  struct Case {
    const char* name;
    const char* key;
    const char* value;  // null deletes the key
  };
  const Case cases[] = {
      {"a key missing", "Link40", nullptr},
      {"a value above 0xFFFF", "Link0", "65536"},
      {"a negative value", "Link67", "-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(BackupLinkList(card, 0, *source), 1);
    for (std::size_t i = 0; i < kLinkListEntries; ++i) {
      char key[16];
      char value[16];
      std::snprintf(key, sizeof key, "Link%zu", i);
      std::snprintf(value, sizeof value, "%u", source->LinkList[i]);
      platform::WritePrivateProfileStringA("1.16F- ZIMO2", key, value, kLinkListFile);
    }
    platform::WritePrivateProfileStringA("1.16F- ZIMO2", c.key, c.value, kLinkListFile);
    auto slot = Block(5, "");
    slot->LinkListValid = 1;
    slot->PlccEnabled = 0;
    EXPECT_EQ(RestoreLinkList("1.16F- ZIMO2", *slot), 0);
    EXPECT_EQ(slot->LinkListValid, 0u);
    EXPECT_TRUE(std::all_of(std::begin(slot->LinkList), std::end(slot->LinkList),
                            [](std::uint32_t v) { return v == 0; }));
    EXPECT_EQ(slot->CardType, 5);  // nothing else changed
    EXPECT_EQ(slot->PlccEnabled, 0u);
  }
  auto slot = Block(5, "");
  EXPECT_EQ(RestoreLinkList("no such section", *slot), 0);
  EXPECT_EQ(RestoreLinkList(nullptr, *slot), 0);
}

}  // namespace
}  // namespace zimo::corvan
