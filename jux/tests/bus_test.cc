// The bus-port channel through the port-I/O helper driver, against a legacy
// ISA card at port 528 in a driver host running in this process.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "jux/jux170.h"
#include "legacy_card_fixture.h"

namespace {

namespace host = zimo::drivers::host;

class Bus : public jux_testing::LegacyCardTest {
 protected:
  void SetUp() override { Plug(); }
  tagMCardInfo* Open(int retries = 3) { return OpenRecord("BUS", 0, retries, 500); }
  size_t Count(const std::string& entry) {
    const auto log = Log();
    return static_cast<size_t>(std::count(log.begin(), log.end(), entry));
  }
};

TEST_F(Bus, OpensAndExchangesCommands) {
  tagMCardInfo* r = Open();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->bus_open, 1) << r->last_error;
  EXPECT_EQ(r->method, 0);
  EXPECT_EQ(r->connected, 1);
  EXPECT_EQ(Count("?"), 0u);  // ^Y answered "CLOSE": no second test
  card().SetIVar(10, 3713707);
  char buffer[64];
  ASSERT_EQ(PGetResponse(r, buffer, 63, "I10"), 1);
  EXPECT_STREQ(buffer, "3713707");
  card().script().InjectError(3);
  EXPECT_EQ(PGetResponse(r, buffer, 63, "I10"), 0);
  EXPECT_EQ(r->last_error, 53);
  // Control characters inside a line are skipped; ^T is never sent.
  card().script().ClearLog();
  ASSERT_EQ(BUSSendLine(r, "P1\t\r"), 1);
  ASSERT_EQ(BUSGetLine(r, buffer, 63), 1);
  EXPECT_EQ(card().script().received(), (std::vector<std::string>{"P1"}));
  EXPECT_EQ(BUSGetControlResponse(r, buffer, 63, 20), 0);
  EXPECT_EQ(BUSSendLine(r, std::string(160, 'A').c_str()), 0);
  EXPECT_EQ(r->last_error, 5001);
  EXPECT_EQ(card().script().received(), (std::vector<std::string>{"P1"}));
  // An empty response (ACK alone).
  ASSERT_EQ(PGetResponse(r, buffer, 63, "P1=3"), 1);
  EXPECT_STREQ(buffer, "");
}

TEST_F(Bus, StatusReplyDecidesWhenCtrlYDoesNot) {
  // Without the ^Y answer the "?" reply decides: 11 characters is no card.
  card().script().FailLinesMatching("CLOSE", 3);
  card().script().SetStatusLength(11);
  tagMCardInfo* r = Open(0);
  EXPECT_EQ(r->bus_open, 0);
  EXPECT_EQ(r->connected, 0);
  EXPECT_EQ(Count("?"), 1u);
  JUXShutDown(&record_);
  card().script().SetStatusLength(12);
  r = Open(0);
  EXPECT_EQ(r->bus_open, 1);
  EXPECT_EQ(r->bootstrap, 0);
}

TEST_F(Bus, BootstrapCardIsOnLineWithTheFlag) {
  card().EnterBootstrap();
  tagMCardInfo* r = Open(0);
  EXPECT_EQ(r->bus_open, 1);
  EXPECT_EQ(r->bootstrap, 1);
}

TEST_F(Bus, MutedCardIsTriedWithDoublingTimeouts) {
  card().script().SetMuted(true);
  tagMCardInfo* r = Open(3);
  EXPECT_EQ(r->bus_open, 0);
  EXPECT_EQ(r->connected, 0);
  EXPECT_EQ(r->timeout, 4000);
  EXPECT_EQ(Count("^Z"), 4u);
  EXPECT_EQ(Count("^X"), 4u);
  // The range was given back: another claim of the same ports succeeds.
  HwPortRange range = HwNewPortRange(528, 8);
  EXPECT_NE(range, nullptr);
  HwDeletePort(range);
}

TEST_F(Bus, CardThatNeverStopsSendingIsNotFound) {
  // A character always waits: the drain gives up at the 5002nd.
  slot_->bus->StickPortBits(2, 0x1, 0x1);
  tagMCardInfo* r = Open(0);
  EXPECT_EQ(r->bus_open, 0);
  EXPECT_EQ(r->last_error, 2001);
}

TEST_F(Bus, CardThatTakesNothingTimesOutSending) {
  tagMCardInfo* r = Open();
  ASSERT_EQ(r->bus_open, 1);
  slot_->bus->StickPortBits(2, 0x2, 0x0);
  EXPECT_EQ(BUSSendLine(r, "I10"), 0);
  EXPECT_EQ(r->last_error, 2004);
  EXPECT_EQ(r->send_status, 2004);
  EXPECT_EQ(BUSSendChar(r, 'x'), 0);
}

TEST_F(Bus, ResponseThatBreaksOffFailsAndKeepsItsText) {
  tagMCardInfo* r = Open();
  ASSERT_EQ(r->bus_open, 1);
  card().script().SetAckOmitted(true);
  card().SetIVar(10, 3713707);
  r->timeout = 50;
  r->retries = 1;
  char buffer[32];
  EXPECT_EQ(BUSGetResponse(r, buffer, 31, "I10"), 0);
  EXPECT_EQ(r->last_error, 2002);
  EXPECT_STREQ(buffer, "3713707\r");
}

TEST_F(Bus, ClaimsDoNotOverlap) {
  HwPortRange first = HwNewPortRange(528, 8);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(HwNewPortRange(530, 2), nullptr);
  HwPortRange other = HwNewPortRange(0x300, 8);
  EXPECT_NE(other, nullptr);
  // The card's very ports again, in the same process: a record of that card
  // shares the claim, and giving its share back leaves the first one held.
  ASSERT_EQ(Open()->bus_open, 1) << record_->last_error;
  JUXShutDown(&record_);
  EXPECT_EQ(HwNewPortRange(530, 2), nullptr);
  HwDeletePort(first);
  HwDeletePort(other);
  HwPortRange part = HwNewPortRange(530, 2);
  EXPECT_NE(part, nullptr);
  HwDeletePort(part);
  EXPECT_EQ(HwInp(nullptr, 2), 0);
  // The ports of a card that a hosted driver runs are not handed out.
  host::CardConfig pnp;
  pnp.bus = host::Bus::kIsa;
  int id = -1;
  ASSERT_TRUE(zimo::kernel::NtSuccess(host_.AddCard(pnp, &id)));
  const auto started = host_.machine().Get(id);
  EXPECT_EQ(HwNewPortRange(static_cast<unsigned long>(started->port_base) + 2, 2), nullptr);
}

}  // namespace
