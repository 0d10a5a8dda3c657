// Variable background buffers and the write buffer against a simulated
// card opened through the library, on PCI (the driver host in this
// process) and Ethernet, both card generations: registration and its
// refusals, the data the card copies for one-word, two-word and negative
// entries under both read protocols, several users laid out without
// spilling, changes, and the write buffer. The card's servo clock is
// stepped by hand, except where lists move while the card copies. Users
// belong to their process: a close gives them up, a killed process loses
// them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cardsim/memory.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/dpr_api.h"
#include "corvan/rotary_api.h"
#include "corvan/varbuf_api.h"
#include "corvan/word_formats_api.h"
#include "dpr_card_rig.h"
#include "platform/process.h"

namespace zimo::corvan {
namespace {

using testing::DprCardRig;
using testing::Link;
using testing::RigOptions;

// The DPR words of the service (host byte offsets) and the map around it.
struct Words {
  std::uint32_t write_control, write_start, handshake, servo_timer, entry_count, start;
  std::uint32_t rotary_area_end, variable_area_base;
  std::uint32_t fixed_end_words, card_base;
  std::uint32_t two_word_bit;
};
constexpr Words kOlderWords{0x7D4, 0x7D6, 0x7E8, 0x7EA,  0x7EC,   0x7EE,
                            0x8FC, 0x900, 0x240, 0xD000, 1u << 16};
constexpr Words kSpranWords{0x104C, 0x104E, 0x1044, 0x1046,  0x1048,  0x104A,
                            0x113C, 0x1140, 0x450,  0x60000, 1u << 20};
// Where the free variable area ends on a fresh device ("DualPortRamVar"
// 3424 words above the start of the DPR).
constexpr std::uint32_t kAreaTopWord = 3424;

constexpr std::uint32_t kReadyBit = 0x80000000u;
// Types of a registration: bit 0 a two-word entry; the card takes bit 1 as
// "the X word".
constexpr std::uint32_t kTypeY = 0, kTypePair = 1, kTypeX = 2;

struct Case {
  Link link;
  bool spran;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return testing::LinkName(info.param.link) + (info.param.spran ? "Spran" : "Older");
}

class VarBufTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { Start(RigOptions{GetParam().link, GetParam().spran, ""}); }
  void TearDown() override { rig_.reset(); }

  void Start(const RigOptions& options) {
    rig_.reset();
    rig_ = std::make_unique<DprCardRig>(options);
    ASSERT_TRUE(rig_->ok());
    ASSERT_EQ(App().User(0)->DprAvailable, 1u);
    spran_ = options.spran;
  }

  const Words& W() const { return spran_ ? kSpranWords : kOlderWords; }
  cardsim::Card& card() { return rig_->card(); }
  SharedDeviceBlock& block() { return rig_->block(); }
  std::uint16_t CardWord(std::uint32_t offset) { return card().memory().DprWord(offset); }
  std::uint32_t CardDword(std::uint32_t offset) { return card().memory().DprDword(offset); }
  void Servo(int cycles = 1) { card().AdvanceServo(cycles); }
  void Send(const std::string& line) { ASSERT_NE(ZimoSendCommandA(0, line.c_str()), 0) << line; }
  // The area's lowest word, from the DPR's start.
  std::uint32_t AreaStart() { return block().VbgNextFree - W().card_base; }

  std::int32_t Register(std::vector<std::uint32_t> addresses, std::vector<std::uint32_t> types) {
    return ZimoDPRVarBufInitEx(0, static_cast<std::uint16_t>(addresses.size()), addresses.data(),
                               types.empty() ? nullptr : types.data());
  }
  // Reads one entry: its two words, or nothing when the read was refused.
  std::optional<std::pair<std::int32_t, std::int32_t>> Read(std::int32_t handle, int entry) {
    std::int32_t data[2] = {0x11111111, 0x22222222};
    if (ZimoDPRVarBufRead(0, handle, entry, data) != 1) {
      EXPECT_EQ(data[0], 0x11111111);  // nothing read
      return std::nullopt;
    }
    return std::make_pair(data[0], data[1]);
  }

  std::unique_ptr<DprCardRig> rig_;
  bool spran_ = false;
};

TEST_P(VarBufTest, RegistrationCountsEntriesAndHandles) {
  EXPECT_EQ(AreaStart(), kAreaTopWord);
  std::vector<std::uint32_t> hundred(100, 0x100);
  const std::int32_t first = Register(hundred, {});
  EXPECT_EQ(first, 1);
  EXPECT_EQ(Register(std::vector<std::uint32_t>(29, 0x100), {}), 0);
  EXPECT_EQ(block().DprLastError, -101);
  const std::int32_t second = Register(std::vector<std::uint32_t>(28, 0x100), {});
  EXPECT_EQ(second, 2);
  EXPECT_EQ(ZimoDPRGetVBGTotalEntries(0), 128u);
  EXPECT_EQ(CardWord(W().entry_count), 128);
  EXPECT_EQ(block().VbgUserCount, 2);
  // 128 address words and 128 data words.
  EXPECT_EQ(AreaStart(), kAreaTopWord - 256);
  ASSERT_EQ(ZimoDPRVarBufRemove(0, first), 1);
  ASSERT_EQ(ZimoDPRVarBufRemove(0, second), 1);
  EXPECT_EQ(AreaStart(), kAreaTopWord);
  EXPECT_EQ(block().VbgUserCount, 0);
  EXPECT_EQ(block().VbgInUse, 0);
  EXPECT_EQ(CardWord(W().entry_count), 0);

  // Three entries, the second a two-word one: three address words and four
  // data words.
  std::vector<std::uint32_t> addresses = {0x100, 0x101, 0x102};
  std::vector<std::uint32_t> types = {kTypeY, kTypePair, kTypeY};
  const std::int32_t handle = ZimoDPRVarBufInitEx(0, 3, addresses.data(), types.data());
  ASSERT_EQ(handle, 1);
  EXPECT_EQ(AreaStart(), kAreaTopWord - 7);
  EXPECT_EQ(App().User(0)->DprBuffers.VbgUsers[1]->extra_words, 1);
  EXPECT_EQ(ZimoDPRGetVBGNumEntries(0, handle), 3u);
  const std::uint32_t list = ZimoDPRGetVBGAddrOffset(0, handle);
  EXPECT_EQ(list, AreaStart() * 4);
  EXPECT_EQ(ZimoDPRGetVBGDataOffset(0, handle), list + 12);
  // The type went into the caller's word and into the DPR's.
  EXPECT_EQ(addresses[1], 0x101 | W().two_word_bit);
  EXPECT_EQ(ZimoDPRGetVBGAddress(0, handle, 1), 0x101 | W().two_word_bit);
  EXPECT_EQ(CardDword(list + 4), 0x101 | W().two_word_bit);
  EXPECT_EQ(ZimoDPRGetVBGAddress(0, handle, 3), 0u);  // past the list
  // The card is told where the list starts and how many entries it has.
  EXPECT_EQ(CardWord(W().entry_count), 3);
  EXPECT_EQ(CardWord(W().start), spran_ ? AreaStart() - 0x450 : 0xD000 + AreaStart());
  EXPECT_EQ(block().VbgInUse, 1);

  // Eight handles at most in a process.
  for (int h = 2; h <= 8; ++h) EXPECT_EQ(Register({0x200}, {}), h);
  EXPECT_EQ(Register({0x200}, {}), 0);
  EXPECT_EQ(block().DprLastError, -100);

  EXPECT_EQ(ZimoDPRVarBufRemove(0, 0), 0);
  EXPECT_EQ(ZimoDPRVarBufRemove(0, 9), 0);
  EXPECT_EQ(ZimoDPRGetVBGNumEntries(0, 9), 0u);

  // A device without DPR in this process (device 1 is not open here).
  std::uint32_t one = 0x100;
  EXPECT_EQ(ZimoDPRVarBufInit(1, 1, &one), 0);
  EXPECT_EQ(rig_->block().DprLastError, -100);  // device 0's code stays
  EXPECT_EQ(App().table()->Devices[1].DprLastError, -28);
}

TEST_P(VarBufTest, EntriesFollowTheCardsWords) {
  // Y:$100 -5, X:$101 $123456, the pair at $102 -7 (fixed), Y:$103 $7FFFFF.
  Send("wy$100,-5");
  Send("wx$101,$123456");
  Send("wl$102,-7");
  Send("wy$103,$7FFFFF");
  const std::int32_t handle =
      Register({0x100, 0x101, 0x102, 0x103}, {kTypeY, kTypeX, kTypePair, kTypeY});
  ASSERT_EQ(handle, 1);
  // Both models' firmware flags each entry; the card has flagged nothing yet.
  ASSERT_EQ(block().VbgEntryReadyMode, 1);
  EXPECT_EQ(Read(handle, 0), std::nullopt);
  EXPECT_EQ(ZimoDPRBackGroundVar(0, 1), 1);
  Servo();
  EXPECT_EQ(Read(handle, 0), std::make_pair(-5, 0));
  EXPECT_EQ(Read(handle, 1), std::make_pair(0x123456, 0));
  const auto pair = Read(handle, 2);
  ASSERT_TRUE(pair.has_value());
  const std::int32_t words[2] = {pair->first, pair->second};
  EXPECT_EQ(ZimoDPRLFixed(reinterpret_cast<const std::uint32_t*>(words), 1.0), -7.0);
  EXPECT_EQ(Read(handle, 3), std::make_pair(0x7FFFFF, 0));
  EXPECT_EQ(Read(handle, 4), std::nullopt);  // no such entry

  Send("wy$100,12");
  Send("wl$102,$000001000002");
  Servo();
  std::int32_t block_data[5] = {};
  ASSERT_EQ(ZimoDPRVarBufReadEx(0, handle, block_data), 1);
  EXPECT_EQ(block_data[0], 12);
  EXPECT_EQ(block_data[1], 0x123456);
  EXPECT_EQ(block_data[2], 2);  // lower word
  EXPECT_EQ(block_data[3], 1);  // upper word
  EXPECT_EQ(block_data[4], 0x7FFFFF);
  EXPECT_EQ(ZimoDPRGetVBGServoTimer(0), CardWord(W().servo_timer));
  EXPECT_NE(ZimoDPRGetVBGServoTimer(0), 0u);
}

// Register A and B, remove A, register C: B and C read what the card
// holds, and nothing is written above where the area started.
TEST_P(VarBufTest, UsersShareTheAreaWithoutSpilling) {
  const std::uint32_t top = kAreaTopWord * 4;
  std::vector<std::uint8_t> guard(64);
  for (std::size_t i = 0; i < guard.size(); ++i) guard[i] = static_cast<std::uint8_t>(0xA5 ^ i);
  ASSERT_TRUE(card().memory().WriteDpr(top, guard.data(), guard.size()));

  // Y:$300 + a holds 1000 + a, the pair at $400 + a -100000 - a.
  for (int a = 0; a < 8; ++a) {
    Send("wy$30" + std::to_string(a) + "," + std::to_string(1000 + a));
    Send("wl$40" + std::to_string(a) + "," + std::to_string(-100000 - a));
  }
  const std::int32_t a = Register({0x300, 0x400, 0x301}, {kTypeY, kTypePair, kTypeY});
  const std::int32_t b = Register({0x401, 0x302}, {kTypePair, kTypeY});
  ASSERT_EQ(a, 1);
  ASSERT_EQ(b, 2);
  ASSERT_EQ(ZimoDPRVarBufRemove(0, a), 1);
  const std::int32_t c =
      Register({0x303, 0x402, 0x403, 0x304}, {kTypeY, kTypePair, kTypePair, kTypeY});
  ASSERT_EQ(c, 1);
  EXPECT_EQ(AreaStart(), kAreaTopWord - (2 + 1 + 2) - (4 + 2 + 4));
  ZimoDPRBackGroundVar(0, 1);
  Servo(2);

  auto fixed = [](const std::pair<std::int32_t, std::int32_t>& p) {
    const std::int32_t words[2] = {p.first, p.second};
    return ZimoDPRLFixed(reinterpret_cast<const std::uint32_t*>(words), 1.0);
  };
  std::int32_t b_data[3] = {}, c_data[6] = {};
  ASSERT_EQ(ZimoDPRVarBufReadEx(0, b, b_data), 1);
  ASSERT_EQ(ZimoDPRVarBufReadEx(0, c, c_data), 1);
  EXPECT_EQ(fixed({b_data[0], b_data[1]}), -100001.0);
  EXPECT_EQ(b_data[2], 1002);
  EXPECT_EQ(c_data[0], 1003);
  EXPECT_EQ(fixed({c_data[1], c_data[2]}), -100002.0);
  EXPECT_EQ(fixed({c_data[3], c_data[4]}), -100003.0);
  EXPECT_EQ(c_data[5], 1004);

  std::vector<std::uint8_t> after(guard.size());
  ASSERT_TRUE(card().memory().ReadDpr(top, after.data(), after.size()));
  EXPECT_EQ(after, guard);
  // Every data word lies below the top.
  EXPECT_EQ(ZimoDPRGetVBGDataOffset(0, c) + 4 * 6, top);
}

// A registration that finds no room is refused before the card is
// touched: the other users keep their list and go on being refreshed, and
// the handle stays free. The bound is the end of the fixed areas plus
// RotaryAreaEnd, whatever VariableAreaBase holds.
TEST_P(VarBufTest, NoRoomRefusesAndTheOthersGoOn) {
  Send("wy$100,1");
  const std::int32_t a = Register({0x100, 0x101}, {});
  ASSERT_EQ(a, 1);
  ZimoDPRBackGroundVar(0, 1);
  Servo();
  ASSERT_EQ(Read(a, 0), std::make_pair(1, 0));

  // Room for exactly five more words.
  const std::uint16_t rotary_end =
      static_cast<std::uint16_t>(AreaStart() - W().fixed_end_words - 5);
  ASSERT_TRUE(card().memory().SetDprWord(W().rotary_area_end, rotary_end));
  ASSERT_TRUE(card().memory().SetDprWord(W().variable_area_base, 0));
  const std::uint32_t start_before = AreaStart();
  const std::uint16_t card_start = CardWord(W().start);
  EXPECT_EQ(Register({0x200, 0x201, 0x202}, {}), 0);  // needs six
  EXPECT_EQ(block().DprLastError, 59);
  EXPECT_EQ(AreaStart(), start_before);
  EXPECT_EQ(CardWord(W().entry_count), 2);
  EXPECT_EQ(CardWord(W().start), card_start);
  EXPECT_EQ(block().VbgUserCount, 1);
  // A change that would need more room is refused the same way and keeps
  // the old list.
  const std::uint32_t longer[5] = {0x100, 0x101, 0x102, 0x103, 0x104};  // six more words
  EXPECT_EQ(ZimoDPRVarBufChange(0, a, 5, longer), 0);
  EXPECT_EQ(block().DprLastError, 59);
  EXPECT_EQ(ZimoDPRGetVBGNumEntries(0, a), 2u);

  Send("wy$100,2");
  Servo();
  EXPECT_EQ(Read(a, 0), std::make_pair(2, 0));
  // Two entries fit (four words); the free handle is taken.
  EXPECT_EQ(Register({0x200, 0x201}, {}), 2);
  EXPECT_EQ(AreaStart(), W().fixed_end_words + rotary_end + 1);
}

TEST_P(VarBufTest, ChangeMovesTheListAndTellsTheCard) {
  Send("wy$100,5");
  Send("wy$101,6");
  Send("wl$102,-9");
  const std::int32_t a = Register({0x100}, {});
  const std::int32_t b = Register({0x101}, {});
  ASSERT_EQ(b, 2);
  ZimoDPRBackGroundVar(0, 1);
  const std::uint32_t changed[2] = {0x102 | W().two_word_bit, 0x100};
  ASSERT_EQ(ZimoDPRVarBufChange(0, a, 2, changed), 1);
  EXPECT_EQ(CardWord(W().entry_count), 3);
  EXPECT_EQ(AreaStart(), kAreaTopWord - 2 - 5);
  EXPECT_EQ(CardWord(W().start), spran_ ? AreaStart() - 0x450 : 0xD000 + AreaStart());
  EXPECT_EQ(block().VbgInUse, 1);
  EXPECT_EQ(block().VbgUserCount, 2);
  Servo();
  std::int32_t a_data[3] = {}, b_data[1] = {};
  ASSERT_EQ(ZimoDPRVarBufReadEx(0, a, a_data), 1);
  ASSERT_EQ(ZimoDPRVarBufReadEx(0, b, b_data), 1);
  EXPECT_EQ(ZimoDPRLFixed(reinterpret_cast<const std::uint32_t*>(a_data), 1.0), -9.0);
  EXPECT_EQ(a_data[2], 5);
  EXPECT_EQ(b_data[0], 6);
}

// While the card has entries to copy it must never see the list start
// move: the new start goes out while the entry count is 0, and the count
// (and the ready-flag request) only after it. Every host write of the
// start word is checked against the count the card would see with it,
// through registration, change and removal.
TEST_P(VarBufTest, TheStartMovesOnlyWhileTheCardHasNoEntries) {
  std::mutex mutex;
  std::vector<std::uint16_t> counts_at_start_writes;
  const std::uint32_t start = W().start, count = W().entry_count;
  card().memory().SetDprWriteHook([&](std::size_t offset, std::size_t length) {
    if (offset > start + 1 || offset + length <= start) return;
    std::lock_guard<std::mutex> lock(mutex);
    counts_at_start_writes.push_back(card().memory().DprWord(count));
  });
  ZimoDPRBackGroundVar(0, 1);
  const std::int32_t a = Register({0x100, 0x101}, {});
  const std::int32_t b = Register({0x102}, {});
  ASSERT_EQ(b, 2);
  const std::uint32_t changed[3] = {0x103, 0x104 | W().two_word_bit, 0x100};
  ASSERT_EQ(ZimoDPRVarBufChange(0, a, 3, changed), 1);
  ASSERT_EQ(ZimoDPRVarBufRemove(0, b), 1);
  ASSERT_EQ(ZimoDPRVarBufRemove(0, a), 1);
  card().memory().SetDprWriteHook(nullptr);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_FALSE(counts_at_start_writes.empty());
  EXPECT_EQ(counts_at_start_writes, std::vector<std::uint16_t>(counts_at_start_writes.size(), 0));
}

TEST_P(VarBufTest, AnotherProcessWithUsersRefusesRegistration) {
  // The shared count says users exist; none of them are this process's.
  block().VbgUserCount = 1;
  EXPECT_EQ(Register({0x100}, {}), 0);
  EXPECT_EQ(block().DprLastError, -100);
  EXPECT_EQ(CardWord(W().entry_count), 0);
  block().VbgUserCount = 0;
  EXPECT_EQ(Register({0x100}, {}), 1);
}

TEST_P(VarBufTest, WriteBufferChangesTheCardsWords) {
  const std::uint32_t shift = spran_ ? 19 : 16;
  const std::uint32_t pair_type = spran_ ? 2 : 1, x_type = spran_ ? 4 : 2;
  std::uint32_t entries[9] = {0, 0x123456, 0, 0, 0xABCDEF, 0, 0, 0x000002, 0xFFFFFF};
  const std::uint32_t addresses[3] = {0x200, 0x201, 0x202};
  const std::uint32_t types[3] = {0, x_type, pair_type};
  // The background loop is off.
  EXPECT_EQ(ZimoDPRWriteBufferEx(0, 3, entries, addresses, types), 0);
  ASSERT_EQ(ZimoDPRBackGroundVar(0, 1), 1);

  ASSERT_EQ(ZimoDPRWriteBufferEx(0, 3, entries, addresses, types), 3);
  EXPECT_EQ(entries[3], 0x201 | (x_type << shift));
  EXPECT_EQ(CardWord(W().write_control), 3);
  const std::uint32_t position = AreaStart() - 9;
  EXPECT_EQ(CardWord(W().write_start), spran_ ? position - 0x450 : 0xD000 + position);
  EXPECT_EQ(CardDword(position * 4 + 24), 0x202 | (pair_type << shift));
  // Held by the card: -1 and nothing written.
  std::uint32_t other[3] = {0x300, 1, 0};
  EXPECT_EQ(ZimoDPRWriteBuffer(0, 1, other), -1);
  EXPECT_EQ(CardDword(position * 4 + 24), 0x202 | (pair_type << shift));

  Servo();
  EXPECT_EQ(CardWord(W().write_control), 0);
  EXPECT_EQ(card().memory().Read(cardsim::Space::kY, 0x200), 0x123456u);
  EXPECT_EQ(card().memory().Read(cardsim::Space::kX, 0x201), 0xABCDEFu);
  EXPECT_EQ(card().memory().ReadFixed48(0x202), -(std::int64_t{1} << 24) + 2);

  std::vector<std::uint32_t> many(3 * 33, 0);
  EXPECT_EQ(ZimoDPRWriteBuffer(0, 33, many.data()), 0);
  EXPECT_EQ(block().DprLastError, -101);
  EXPECT_EQ(ZimoDPRWriteBuffer(0, -1, many.data()), 0);
  EXPECT_EQ(ZimoDPRWriteBuffer(0, 32, many.data()), 32);
}

// Entries handed to the write buffer lie just below the area until the
// card takes them. With the card's clock standing still they stay pending:
// a registration or a longer list that needs that room is refused (59) and
// leaves them and the area as they were; once the card has taken them,
// their values are in its memory and the registration goes through.
TEST_P(VarBufTest, ListsWaitForTheWriteBufferBelowThem) {
  const std::int32_t a = Register({0x100}, {});
  ASSERT_EQ(a, 1);
  ASSERT_EQ(ZimoDPRBackGroundVar(0, 1), 1);
  const std::uint32_t area = AreaStart();
  // Y:$210 $123456, Y:$211 $654321.
  std::uint32_t entries[6] = {0x210, 0x123456, 0, 0x211, 0x654321, 0};
  ASSERT_EQ(ZimoDPRWriteBuffer(0, 2, entries), 2);
  const std::uint32_t at = (area - 6) * 4;
  std::vector<std::uint32_t> pending(6);
  ASSERT_TRUE(card().memory().ReadDpr(at, pending.data(), 24));
  ASSERT_EQ(pending, std::vector<std::uint32_t>(entries, entries + 6));
  const std::uint16_t list_start = CardWord(W().start);

  EXPECT_EQ(Register({0x101, 0x102, 0x103}, {}), 0);
  EXPECT_EQ(block().DprLastError, 59);
  const std::uint32_t longer[3] = {0x100, 0x104, 0x105};
  EXPECT_EQ(ZimoDPRVarBufChange(0, a, 3, longer), 0);
  EXPECT_EQ(block().DprLastError, 59);
  std::vector<std::uint32_t> after(6);
  ASSERT_TRUE(card().memory().ReadDpr(at, after.data(), 24));
  EXPECT_EQ(after, pending);
  EXPECT_EQ(CardWord(W().write_control), 2);
  EXPECT_EQ(AreaStart(), area);
  EXPECT_EQ(CardWord(W().entry_count), 1);
  EXPECT_EQ(CardWord(W().start), list_start);
  EXPECT_EQ(block().VbgUserCount, 1);
  EXPECT_EQ(ZimoDPRGetVBGNumEntries(0, a), 1u);

  Servo();
  EXPECT_EQ(CardWord(W().write_control), 0);
  EXPECT_EQ(card().memory().Read(cardsim::Space::kY, 0x210), 0x123456u);
  EXPECT_EQ(card().memory().Read(cardsim::Space::kY, 0x211), 0x654321u);
  EXPECT_EQ(Register({0x101, 0x102, 0x103}, {}), 2);
  EXPECT_EQ(ZimoDPRVarBufChange(0, a, 3, longer), 1);
  EXPECT_EQ(AreaStart(), area - 6 - 4);
}

// A close gives up this process's users: the card copies nothing more,
// the area is free again, and after a new open the next registration
// starts from the area's top.
TEST_P(VarBufTest, CloseGivesUpTheUsers) {
  ASSERT_EQ(Register({0x100, 0x101}, {}), 1);
  ASSERT_EQ(Register({0x102}, {kTypePair}), 2);
  ASSERT_EQ(AreaStart(), kAreaTopWord - 4 - 3);
  ASSERT_EQ(CardWord(W().entry_count), 3);

  ASSERT_EQ(CloseZimoDevice(0), 1);
  EXPECT_EQ(block().VbgUserCount, 0);
  EXPECT_EQ(block().VbgInUse, 0);
  EXPECT_EQ(AreaStart(), kAreaTopWord);
  EXPECT_EQ(CardWord(W().entry_count), 0);

  ASSERT_EQ(OpenZimoDevice(0), 1);
  EXPECT_EQ(ZimoDPRGetVBGNumEntries(0, 1), 0u);
  Send("wy$103,-21");
  EXPECT_EQ(Register({0x103}, {}), 1);
  EXPECT_EQ(AreaStart(), kAreaTopWord - 2);
  EXPECT_EQ(CardWord(W().entry_count), 1);
  EXPECT_EQ(block().VbgUserCount, 1);
  ZimoDPRBackGroundVar(0, 1);
  Servo();
  EXPECT_EQ(Read(1, 0), std::make_pair(-21, 0));
}

INSTANTIATE_TEST_SUITE_P(Links, VarBufTest,
                         ::testing::Values(Case{Link::kPci, false}, Case{Link::kPci, true},
                                           Case{Link::kEthernet, false},
                                           Case{Link::kEthernet, true}),
                         CaseName);

// The read protocol follows the firmware: 1.15A and 1.15T hand the data
// over with the handshake word, 1.15G and 1.16 flag each entry.
struct FirmwareCase {
  const char* version;
  bool ready_bits;
};

class VarBufFirmwareTest : public ::testing::TestWithParam<FirmwareCase> {};

TEST_P(VarBufFirmwareTest, ReadProtocolFollowsTheFirmware) {
  DprCardRig rig(RigOptions{Link::kPci, false, GetParam().version});
  ASSERT_TRUE(rig.ok());
  ASSERT_STREQ(rig.block().FirmwareVersion, GetParam().version);
  cardsim::Memory& m = rig.card().memory();
  ASSERT_NE(ZimoSendCommandA(0, "wy$100,-3"), 0);
  std::uint32_t addresses[2] = {0x100, 0x100};
  const std::int32_t handle = ZimoDPRVarBufInit(0, 2, addresses);
  ASSERT_EQ(handle, 1);
  ASSERT_EQ(ZimoDPRBackGroundVar(0, 1), 1);
  const std::uint32_t list = ZimoDPRGetVBGAddrOffset(0, handle);
  EXPECT_EQ(rig.block().VbgEntryReadyMode, GetParam().ready_bits ? 1 : 0);
  EXPECT_EQ(m.DprWord(0x7E8), GetParam().ready_bits ? 256 : 0);

  std::int32_t data[2] = {};
  if (GetParam().ready_bits) {
    EXPECT_EQ(ZimoDPRVarBufRead(0, handle, 0, data), 0);  // not flagged yet
    rig.card().AdvanceServo(1);
    EXPECT_EQ(m.DprWord(0x7E8), 0);  // the card took the request
    EXPECT_EQ(m.DprDword(list) & kReadyBit, kReadyBit);
    ASSERT_EQ(ZimoDPRVarBufRead(0, handle, 0, data), 1);
    EXPECT_EQ(data[0], -3);
    EXPECT_EQ(m.DprDword(list), 0x100u);  // taken: the flag is clear again
    EXPECT_EQ(ZimoDPRVarBufRead(0, handle, 0, data), 0);
    // A card that stops refreshing gives nothing more, never the old data.
    rig.card().script().SetDprFrozen(true);
    rig.card().AdvanceServo(3);
    EXPECT_EQ(ZimoDPRVarBufRead(0, handle, 0, data), 0);
    std::int32_t whole[2] = {};
    ASSERT_EQ(ZimoDPRVarBufReadEx(0, handle, whole), 1);  // entry 1 was not taken
    EXPECT_EQ(ZimoDPRVarBufReadEx(0, handle, whole), 0);
    rig.card().script().SetDprFrozen(false);
    rig.card().AdvanceServo(1);
    EXPECT_EQ(ZimoDPRVarBufReadEx(0, handle, whole), 1);
  } else {
    rig.card().AdvanceServo(1);
    EXPECT_EQ(m.DprDword(list) & kReadyBit, 0u);
    EXPECT_EQ(m.DprWord(0x7E8), 0);
    ASSERT_EQ(ZimoDPRVarBufRead(0, handle, 1, data), 1);
    EXPECT_EQ(data[0], -3);
    // While the card writes, the host does not read.
    ASSERT_TRUE(m.SetDprWord(0x7E8, 1));
    EXPECT_EQ(ZimoDPRVarBufRead(0, handle, 1, data), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, VarBufFirmwareTest,
                         ::testing::Values(FirmwareCase{"1.15A", false},
                                           FirmwareCase{"1.15T", false},
                                           FirmwareCase{"1.15G", true}, FirmwareCase{"1.16", true}),
                         [](const auto& info) {
                           std::string name = info.param.version;
                           name.erase(std::remove(name.begin(), name.end(), '.'), name.end());
                           return "V" + name;
                         });

// Users come and go while the card copies (its clock running, on PCI where
// it reads the DPR itself): after every registration, change and removal
// the rotary ring just above the area keeps every byte, every user's list
// in the DPR is its own, and every user reads its own values.
class VarBufRunningCardTest : public ::testing::TestWithParam<bool> {
 protected:
  // One entry of a list: a Y word or an L pair, and what the card holds there.
  struct Entry {
    std::uint32_t address;
    bool pair;
    std::int32_t value;
  };
  using List = std::vector<Entry>;

  void SetUp() override {
    rig_ = std::make_unique<DprCardRig>(RigOptions{Link::kPci, GetParam(), ""});
    ASSERT_TRUE(rig_->ok());
    two_word_bit_ = GetParam() ? 1u << 20 : 1u << 16;
  }
  void TearDown() override {
    StopClock();
    rig_.reset();
  }

  // The card's clock, one servo cycle after another on a thread of its
  // own. A copy takes the card a while: between reading the lists and
  // writing the first word of data the cycle pauses (the card's lock
  // held), so the host's calls meet cycles in flight.
  void StartClock(std::uint32_t area_low, std::uint32_t area_high) {
    cardsim::Card& card = rig_->card();
    card.memory().SetDprWriteHook([this, area_low, area_high](std::size_t offset, std::size_t) {
      if (std::this_thread::get_id() != clock_id_ || paused_ || offset < area_low ||
          offset >= area_high) {
        return;
      }
      paused_ = true;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    });
    running_ = true;
    clock_ = std::thread([this, clocked = &card] {
      while (running_) {
        paused_ = false;
        clocked->AdvanceServo(1);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    });
    clock_id_ = clock_.get_id();
  }
  void StopClock() {
    running_ = false;
    if (clock_.joinable()) clock_.join();
    if (rig_) rig_->card().memory().SetDprWriteHook(nullptr);
  }

  std::int32_t Register(const List& list) {
    std::vector<std::uint32_t> words = Words(list);
    return ZimoDPRVarBufInit(0, static_cast<std::uint16_t>(words.size()), words.data());
  }
  std::int32_t Change(std::int32_t handle, const List& list) {
    std::vector<std::uint32_t> words = Words(list);
    return ZimoDPRVarBufChange(0, handle, static_cast<std::uint16_t>(words.size()), words.data());
  }
  std::vector<std::uint32_t> Words(const List& list) const {
    std::vector<std::uint32_t> words;
    for (const Entry& e : list) words.push_back(e.address | (e.pair ? two_word_bit_ : 0));
    return words;
  }

  // The user's list in the DPR is `list`, and its next data block holds
  // the card's words byte for byte: a Y word sign-extended, a pair as its
  // lower word and its upper word sign-extended.
  void ExpectUser(std::int32_t handle, const List& list, const std::string& when) {
    SCOPED_TRACE(when);
    ASSERT_EQ(ZimoDPRGetVBGNumEntries(0, handle), list.size());
    const std::vector<std::uint32_t> words = Words(list);
    for (std::size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(ZimoDPRGetVBGAddress(0, handle, static_cast<std::int32_t>(i)) & ~kReadyBit,
                words[i])
          << "entry " << i;
    }
    std::vector<std::int32_t> expected;
    for (const Entry& e : list) {
      if (e.pair) {
        expected.push_back(
            static_cast<std::int32_t>(static_cast<std::uint32_t>(e.value) & 0xFFFFFF));
        expected.push_back(e.value < 0 ? -1 : 0);
      } else {
        expected.push_back(e.value);
      }
    }
    std::vector<std::int32_t> data(expected.size(), 0x5A5A5A5A);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ZimoDPRVarBufReadEx(0, handle, data.data()) != 1) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the card never flagged the data";
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_EQ(data, expected);
  }

  std::unique_ptr<DprCardRig> rig_;
  std::uint32_t two_word_bit_ = 0;
  std::thread clock_;
  std::atomic<std::thread::id> clock_id_;
  std::atomic<bool> running_{false};
  bool paused_ = false;  // the clock thread's own
};

TEST_P(VarBufRunningCardTest, ListsMoveWhileTheCardCopies) {
  const bool spran = GetParam();
  const std::uint32_t card_base = spran ? 0x60000 : 0xD000;
  // Y:$300 + i holds 1000 + 7i, the pair at $400 + i -50000 - 3i.
  for (int i = 0; i < 8; ++i) {
    const std::string y_line = "wy$30" + std::to_string(i) + "," + std::to_string(1000 + 7 * i);
    const std::string l_line = "wl$40" + std::to_string(i) + "," + std::to_string(-50000 - 3 * i);
    ASSERT_NE(ZimoSendCommandA(0, y_line.c_str()), 0) << y_line;
    ASSERT_NE(ZimoSendCommandA(0, l_line.c_str()), 0) << l_line;
  }
  auto y = [](int i) { return Entry{0x300u + static_cast<std::uint32_t>(i), false, 1000 + 7 * i}; };
  auto l = [](int i) {
    return Entry{0x400u + static_cast<std::uint32_t>(i), true, -50000 - 3 * i};
  };

  // A ring of 40 words right above the area, full of a pattern.
  rig_->block().RotBufSize[0] = 40;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  const std::uint32_t ring = (rig_->block().VbgNextFree - card_base) * 4;
  std::vector<std::uint32_t> pattern(40);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    pattern[i] = 0xC0DE0000u + static_cast<std::uint32_t>(i);
  }
  ASSERT_NE(ZimoDPRSetMem(0, ring, 4 * 40, pattern.data()), nullptr);
  auto expect_ring = [&](const std::string& when) {
    std::vector<std::uint32_t> now(pattern.size());
    ASSERT_TRUE(rig_->card().memory().ReadDpr(ring, now.data(), 4 * now.size()));
    EXPECT_EQ(now, pattern) << when;
  };

  ASSERT_EQ(ZimoDPRBackGroundVar(0, 1), 1);
  StartClock(spran ? 0x450 * 4 : 0x240 * 4, ring);
  const List a = {y(0), l(0), y(1)}, a2 = {l(1), y(2), l(2), y(3)};
  const List b = {l(3), y(4)}, c = {y(5), l(4), y(6)}, c2 = {l(5)};
  for (int round = 0; round < 10 && !HasFailure(); ++round) {
    const std::string r = "round " + std::to_string(round) + ": ";
    const std::int32_t ha = Register(a);
    ASSERT_NE(ha, 0);
    ExpectUser(ha, a, r + "a registered");
    const std::int32_t hb = Register(b);
    ASSERT_NE(hb, 0);
    ExpectUser(ha, a, r + "b registered");
    ExpectUser(hb, b, r + "b registered");
    ASSERT_EQ(Change(ha, a2), 1);
    ExpectUser(ha, a2, r + "a changed");
    ExpectUser(hb, b, r + "a changed");
    ASSERT_EQ(ZimoDPRVarBufRemove(0, hb), 1);
    ExpectUser(ha, a2, r + "b removed");
    const std::int32_t hc = Register(c);
    ASSERT_NE(hc, 0);
    ExpectUser(ha, a2, r + "c registered");
    ExpectUser(hc, c, r + "c registered");
    ASSERT_EQ(ZimoDPRVarBufRemove(0, ha), 1);
    ExpectUser(hc, c, r + "a removed");
    ASSERT_EQ(Change(hc, c2), 1);
    ExpectUser(hc, c2, r + "c changed");
    ASSERT_EQ(ZimoDPRVarBufRemove(0, hc), 1);
    expect_ring(r + "all removed");
  }
  StopClock();
  expect_ring("at the end");
  EXPECT_EQ(rig_->card().memory().DprWord(spran ? 0x1048 : 0x7EC), 0);
}

INSTANTIATE_TEST_SUITE_P(Models, VarBufRunningCardTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Spran" : "Older"; });

// A second process that opens the same card while this one holds users is
// refused: its registration would move lists under this process's users.
TEST(VarBufProcessTest, SecondProcessIsRefusedWhileTheFirstHoldsUsers) {
  DprCardRig rig(RigOptions{Link::kPci, false, ""});
  ASSERT_TRUE(rig.ok());
  const std::uint32_t address = 0x100;
  ASSERT_EQ(ZimoDPRVarBufInit(0, 1, &address), 1);
  auto child = platform::Spawn({testing::SelfPath(),
                                "--gtest_filter=VarBufSecondProcess.DISABLED_RegistersOnDeviceZero",
                                "--gtest_also_run_disabled_tests"});
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  auto code = child->Wait(std::chrono::seconds(120));
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0) << "the second process was not refused";
  EXPECT_EQ(rig.block().DprLastError, -100);
  EXPECT_EQ(rig.block().VbgUserCount, 1);
  EXPECT_EQ(rig.card().memory().DprWord(0x7EC), 1);
  // Once this process's users are gone, another may register.
  ASSERT_EQ(ZimoDPRVarBufRemove(0, 1), 1);
  EXPECT_EQ(ZimoDPRVarBufInit(0, 1, &address), 1);
}

// Another process registers while this one hands entries to the write
// buffer: both want the room just below the area. Held in the middle of
// the other process's registration (its card copy stopped, the entry count
// just gone to 0), this process's hand-over waits for the registration to
// end and its entries then lie below the new lists: the card takes every
// value.
TEST(VarBufProcessTest, WriteBufferWaitsForAnotherProcessesRegistration) {
  DprCardRig rig(RigOptions{Link::kPci, false, ""});
  ASSERT_TRUE(rig.ok());
  ASSERT_EQ(ZimoDPRBackGroundVar(0, 1), 1);
  std::mutex mu;
  std::condition_variable changed;
  bool held = false, released = false;
  rig.card().memory().SetDprWriteHook([&](std::size_t offset, std::size_t) {
    if (offset != 0x7EC) return;  // the entry count
    std::unique_lock<std::mutex> lock(mu);
    if (held) return;
    held = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  });
  auto release = [&] {
    std::lock_guard<std::mutex> lock(mu);
    released = true;
    changed.notify_all();
  };
  auto child = platform::Spawn({testing::SelfPath(),
                                "--gtest_filter=VarBufSecondProcess.DISABLED_RegistersFourAndCloses",
                                "--gtest_also_run_disabled_tests"});
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  {
    std::unique_lock<std::mutex> lock(mu);
    const bool reached = changed.wait_for(lock, std::chrono::seconds(120), [&] { return held; });
    if (!reached) {
      lock.unlock();
      release();
      FAIL() << "the other process never began to register";
    }
  }
  EXPECT_EQ(rig.card().IVar(55), 0) << "held elsewhere than in the registration";

  // Y:$210 $123456, Y:$211 $654321.
  std::atomic<std::int32_t> handed{-2};
  std::thread writer([&handed] {
    std::uint32_t entries[6] = {0x210, 0x123456, 0, 0x211, 0x654321, 0};
    handed = ZimoDPRWriteBuffer(0, 2, entries);
  });
  // A hand-over that does not wait ends at once; give it the time to.
  const auto grace = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (handed == -2 && std::chrono::steady_clock::now() < grace) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  release();
  writer.join();
  auto code = child->Wait(std::chrono::seconds(120));
  rig.card().memory().SetDprWriteHook(nullptr);
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0);
  EXPECT_EQ(handed, 2);
  rig.card().AdvanceServo(1);
  EXPECT_EQ(rig.card().memory().DprWord(0x7D4), 0);
  EXPECT_EQ(rig.card().memory().Read(cardsim::Space::kY, 0x210), 0x123456u);
  EXPECT_EQ(rig.card().memory().Read(cardsim::Space::kY, 0x211), 0x654321u);
}

// A process killed in the middle of its registration, once it has stopped
// the card's copy: the copy the user had switched on comes back with the
// next registration, whose data the card then copies.
TEST(VarBufProcessTest, ACopyStoppedByAKilledRegistrationComesBack) {
  DprCardRig rig(RigOptions{Link::kPci, false, ""});
  ASSERT_TRUE(rig.ok());
  ASSERT_EQ(ZimoDPRBackGroundVar(0, 1), 1);
  std::mutex mu;
  std::condition_variable changed;
  bool held = false, released = false;
  rig.card().memory().SetDprWriteHook([&](std::size_t offset, std::size_t) {
    if (offset != 0x7EC) return;  // the entry count
    std::unique_lock<std::mutex> lock(mu);
    if (held) return;
    held = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  });
  auto release = [&] {
    std::lock_guard<std::mutex> lock(mu);
    released = true;
    changed.notify_all();
  };
  auto child = platform::Spawn({testing::SelfPath(),
                                "--gtest_filter=VarBufSecondProcess.DISABLED_RegistersFourAndCloses",
                                "--gtest_also_run_disabled_tests"});
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  bool reached = false;
  {
    std::unique_lock<std::mutex> lock(mu);
    reached = changed.wait_for(lock, std::chrono::seconds(120), [&] { return held; });
  }
  const bool killed = reached && child->Signal(9).ok();
  auto code = child->Wait(std::chrono::seconds(120));
  release();
  rig.card().memory().SetDprWriteHook(nullptr);
  ASSERT_TRUE(reached) << "the other process never began to register";
  ASSERT_TRUE(killed);
  ASSERT_TRUE(code.ok());
  ASSERT_EQ(*code, 128 + 9);
  ASSERT_EQ(rig.card().IVar(55), 0);

  ASSERT_NE(ZimoSendCommandA(0, "wy$100,77"), 0);
  const std::uint32_t address = 0x100;
  ASSERT_EQ(ZimoDPRVarBufInit(0, 1, &address), 1);
  EXPECT_EQ(rig.card().IVar(55), 1);
  rig.card().AdvanceServo(1);
  std::int32_t data[2] = {};
  ASSERT_EQ(ZimoDPRVarBufReadEx(0, 1, data), 1);
  EXPECT_EQ(data[0], 77);
}

// A process killed while it holds users leaves them counted in the shared
// record; they are dropped once it is gone, by whatever comes next: this
// process's registration (which then starts from the area's top), its
// ring (placed at the top), or another open of the device.
class VarBufOwnerGoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig_ = std::make_unique<DprCardRig>(RigOptions{Link::kPci, false, ""});
    ASSERT_TRUE(rig_->ok());
    top_ = rig_->block().VbgNextFree;
  }
  void TearDown() override { rig_.reset(); }

  std::uint16_t EntryCount() { return rig_->card().memory().DprWord(0x7EC); }

  // A second process registers two users (three entries) and is killed.
  void KillAnOwner() {
    auto child = platform::Spawn({testing::SelfPath(),
                                  "--gtest_filter=VarBufSecondProcess.DISABLED_RegistersAndWaits",
                                  "--gtest_also_run_disabled_tests"});
    ASSERT_TRUE(child.ok()) << child.status().ToString();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (rig_->block().VbgUserCount < 2) {
      ASSERT_TRUE(child->IsRunning()) << "the child ended before it registered";
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the child never registered";
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(rig_->block().VbgUserCount, 2);
    ASSERT_EQ(rig_->block().VbgNextFree, top_ - 6);
    ASSERT_EQ(EntryCount(), 3);
    ASSERT_TRUE(child->Signal(9).ok());
    auto code = child->Wait(std::chrono::seconds(120));
    ASSERT_TRUE(code.ok());
    ASSERT_EQ(*code, 128 + 9);
  }

  // Registers Y:$100 twice and reads it back through the card's copy.
  void RegisterAndRead(std::uint32_t expected_start) {
    ASSERT_NE(ZimoSendCommandA(0, "wy$100,31"), 0);
    const std::uint32_t addresses[2] = {0x100, 0x100};
    ASSERT_EQ(ZimoDPRVarBufInit(0, 2, addresses), 1);
    EXPECT_EQ(rig_->block().VbgUserCount, 1);
    EXPECT_EQ(rig_->block().VbgNextFree, expected_start);
    EXPECT_EQ(EntryCount(), 2);
    EXPECT_EQ(rig_->card().memory().DprWord(0x7EE), expected_start);
    ASSERT_EQ(ZimoDPRBackGroundVar(0, 1), 1);
    rig_->card().AdvanceServo(1);
    std::int32_t data[2] = {};
    ASSERT_EQ(ZimoDPRVarBufReadEx(0, 1, data), 1);
    EXPECT_EQ(data[0], 31);
    EXPECT_EQ(data[1], 31);
  }

  std::unique_ptr<DprCardRig> rig_;
  std::uint32_t top_ = 0;
};

TEST_F(VarBufOwnerGoneTest, ARegistrationDropsThem) {
  ASSERT_NO_FATAL_FAILURE(KillAnOwner());
  RegisterAndRead(top_ - 4);
}

TEST_F(VarBufOwnerGoneTest, ARingDropsThem) {
  ASSERT_NO_FATAL_FAILURE(KillAnOwner());
  rig_->block().RotBufSize[0] = 20;
  ASSERT_EQ(ZimoDPRRotBufInit(0, 0), 0);
  EXPECT_EQ(rig_->block().VbgNextFree, top_ - 20);
  EXPECT_EQ(rig_->block().VbgUserCount, 0);
  EXPECT_EQ(EntryCount(), 0);  // the card copies the killed process's lists no more
  RegisterAndRead(top_ - 20 - 4);
}

TEST_F(VarBufOwnerGoneTest, AnOpenDropsThem) {
  ASSERT_NO_FATAL_FAILURE(KillAnOwner());
  ASSERT_EQ(OpenZimoDevice(0), 1);
  EXPECT_EQ(rig_->block().VbgUserCount, 0);
  EXPECT_EQ(rig_->block().VbgInUse, 0);
  EXPECT_EQ(rig_->block().VbgNextFree, top_);
  EXPECT_EQ(EntryCount(), 0);
  CloseZimoDevice(0);
  RegisterAndRead(top_ - 4);
}

// A process that ends without closing the device gives its users up at
// its end, as a close does.
TEST_F(VarBufOwnerGoneTest, AnEndWithoutACloseGivesThemUp) {
  auto child = platform::Spawn({testing::SelfPath(),
                                "--gtest_filter=VarBufSecondProcess.DISABLED_RegistersAndEnds",
                                "--gtest_also_run_disabled_tests"});
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  auto code = child->Wait(std::chrono::seconds(120));
  ASSERT_TRUE(code.ok());
  ASSERT_EQ(*code, 0);
  EXPECT_EQ(rig_->block().VbgUserCount, 0);
  EXPECT_EQ(rig_->block().VbgInUse, 0);
  EXPECT_EQ(rig_->block().VbgNextFree, top_);
  EXPECT_EQ(EntryCount(), 0);
}

// Run by the test above in a process of its own: registers a user and
// ends with the device still open.
TEST(VarBufSecondProcess, DISABLED_RegistersAndEnds) {
  ASSERT_EQ(OpenZimoDevice(0), 1);
  const std::uint32_t address = 0x200;
  ASSERT_EQ(ZimoDPRVarBufInit(0, 1, &address), 1);
  ASSERT_EQ(App().Block(0)->VbgUserCount, 1);
}

// Run by the tests above in a process of its own: registers two users
// (three entries) and waits to be killed.
TEST(VarBufSecondProcess, DISABLED_RegistersAndWaits) {
  ASSERT_EQ(OpenZimoDevice(0), 1);
  const std::uint32_t first[2] = {0x200, 0x201};
  const std::uint32_t second = 0x202;
  ASSERT_EQ(ZimoDPRVarBufInit(0, 2, first), 1);
  ASSERT_EQ(ZimoDPRVarBufInit(0, 1, &second), 2);
  std::this_thread::sleep_for(std::chrono::seconds(120));
  FAIL() << "not killed";
}

// Run by the write-buffer test above in a process of its own: registers a
// user of four entries and closes the device.
TEST(VarBufSecondProcess, DISABLED_RegistersFourAndCloses) {
  ASSERT_EQ(OpenZimoDevice(0), 1);
  const std::uint32_t addresses[4] = {0x100, 0x101, 0x102, 0x103};
  EXPECT_EQ(ZimoDPRVarBufInit(0, 4, addresses), 1);
  CloseZimoDevice(0);
  App().End();
}

// Run by the test above in a process of its own.
TEST(VarBufSecondProcess, DISABLED_RegistersOnDeviceZero) {
  ASSERT_EQ(OpenZimoDevice(0), 1);
  ASSERT_EQ(App().User(0)->DprAvailable, 1u);
  const std::uint32_t address = 0x200;
  EXPECT_EQ(ZimoDPRVarBufInit(0, 1, &address), 0);
  EXPECT_EQ(App().Block(0)->DprLastError, -100);
  CloseZimoDevice(0);
  App().End();
}

}  // namespace
}  // namespace zimo::corvan
