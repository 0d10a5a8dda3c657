// Card interrupts: the events user mode hands over (in the driver's handle
// form, a 32-bit caller's, or by name), the mask and the enable count, and
// what a raised interrupt sets, in which order.
#include <cstring>
#include <mutex>

#include "platform/named_event.h"
#include "pci_fixture.h"

namespace zimo::drivers::testing {
namespace {

using platform::NamedEvent;

const char* kSourceNames[8] = {"IPOS", "BREQ", "ERROR", "FERROR", "HREQ", "IR5", "IR6", "IR7"};

class PciInterruptTest : public PciTest {
 protected:
  void SetUp() override {
    PciTest::SetUp();
    card_ = AddCard();
    for (int i = 0; i < 8; ++i) {
      names_[i] = std::string("ZIMO0") + kSourceNames[i];
      events_[i] = NamedEvent::Create(names_[i], platform::EventReset::kAuto, false).value();
      handles_[0x100 + 4 * static_cast<uint64_t>(i)] = names_[i];
    }
    user_ = NamedEvent::Create("ZimoUserEvent", platform::EventReset::kManual, false).value();
    host_->kernel().SetEventTrace([this](const std::string& name) {
      std::lock_guard lock(mu_);
      trace_.push_back(name);
    });
  }

  // The nine 32-bit handles a 32-bit caller sends (slot 8 not read).
  std::vector<uint8_t> EventSet32(int bad_slot = -1) {
    uint32_t set[9] = {};
    for (int i = 0; i < 8; ++i) set[i] = i == bad_slot ? 0xBAD0 : 0x100 + 4 * i;
    std::vector<uint8_t> bytes(sizeof(set));
    std::memcpy(bytes.data(), set, sizeof(set));
    return bytes;
  }
  Reply SetEvents(std::vector<uint8_t> set) {
    return Ioctl(IOCTL_ZIMO_SET_INTR_EVENTS, std::move(set), 0, 0, &handles_);
  }
  Reply SetMask(uint32_t mask) {
    std::vector<uint8_t> in(4);
    std::memcpy(in.data(), &mask, 4);
    return Ioctl(IOCTL_ZIMO_SET_INTR_MASK, in);
  }
  uint8_t Register(unsigned reg) {
    return static_cast<uint8_t>(Ioctl(IOCTL_ZIMO_PORT_READ, std::vector<uint8_t>{static_cast<uint8_t>(reg)}).count);
  }
  std::vector<std::string> Trace() {
    std::lock_guard lock(mu_);
    return trace_;
  }

  int card_ = -1;
  std::string names_[8];
  NamedEvent events_[8];
  NamedEvent user_;
  kernel::HandleNames handles_;
  std::mutex mu_;
  std::vector<std::string> trace_;
};

TEST_F(PciInterruptTest, ARaisedInterruptSetsTheUserEventThenTheSourcesInOrder) {
  ASSERT_EQ(SetEvents(EventSet32()).status, kernel::kStatusSuccess);
  Reply user = Ioctl(IOCTL_ZIMO_SET_USER_EVENT, Text("ZimoUserEvent"));
  EXPECT_EQ(user.status, kernel::kStatusSuccess);
  EXPECT_EQ(user.count, 8u);
  EXPECT_EQ(SetMask(0xFFFFFF00).count, 4u);  // only the low byte counts: every source
  EXPECT_EQ(Register(10), 0xFF);

  ASSERT_TRUE(host_->RaiseInterrupts(card_, {0x05}, false));
  EXPECT_EQ(Trace(), (std::vector<std::string>{"ZimoUserEvent", names_[0], names_[2]}));
  EXPECT_TRUE(user_.Wait(std::chrono::milliseconds(0)).ok());
  EXPECT_TRUE(events_[0].Wait(std::chrono::milliseconds(0)).ok());
  EXPECT_TRUE(events_[2].Wait(std::chrono::milliseconds(0)).ok());
  EXPECT_FALSE(events_[1].Wait(std::chrono::milliseconds(0)).ok());
  EXPECT_EQ(Register(8), 0);  // acknowledged
}

TEST_F(PciInterruptTest, TwoInterruptsBeforeTheDeferredProcedureLoseNothing) {
  ASSERT_EQ(SetEvents(EventSet32()).status, kernel::kStatusSuccess);
  SetMask(0);
  // The first interrupt's sources are taken and acknowledged before the
  // second comes; the deferred procedure runs after both.
  ASSERT_TRUE(host_->RaiseInterrupts(card_, {0x01, 0x10}, true));
  EXPECT_EQ(Trace(), (std::vector<std::string>{names_[0], names_[4]}));
}

TEST_F(PciInterruptTest, TheMaskDisablesSourcesAndUnclaimedInterruptsAreAcknowledged) {
  ASSERT_EQ(SetEvents(EventSet32()).status, kernel::kStatusSuccess);
  SetMask(0xFE);  // only IN-POSITION
  host_->RaiseInterrupts(card_, {0x02}, false);
  EXPECT_TRUE(Trace().empty());
  host_->RaiseInterrupts(card_, {0x01}, false);
  // The pending BUFFER-REQUEST was not enabled: not reported, yet register 8
  // is written 0 by every pass of the interrupt routine.
  EXPECT_EQ(Trace(), (std::vector<std::string>{names_[0]}));
  EXPECT_EQ(Register(8), 0);
}

TEST_F(PciInterruptTest, EnableCount) {
  SetMask(0x0F);
  EXPECT_EQ(Query(IOCTL_ZIMO_INTR_ENABLE).count, 4u);
  EXPECT_EQ(Query(IOCTL_ZIMO_INTR_ENABLE).count, 4u);
  EXPECT_EQ(Query(IOCTL_ZIMO_INTR_DISABLE).count, 0u);
  EXPECT_EQ(Register(10), 0xF0);  // two enables, one disable: still on
  Query(IOCTL_ZIMO_INTR_DISABLE);
  EXPECT_EQ(Register(10), 0);
  Query(IOCTL_ZIMO_INTR_DISABLE);  // at 0 already: stays off
  EXPECT_EQ(Register(10), 0);
}

TEST_F(PciInterruptTest, TheDriversOwnHandleFormIsTakenToo) {
  uint64_t set[9] = {};
  for (int i = 0; i < 8; ++i) set[i] = 0x100 + 4 * static_cast<uint64_t>(i);
  std::vector<uint8_t> bytes(sizeof(set));
  std::memcpy(bytes.data(), set, sizeof(set));
  Reply r = SetEvents(bytes);
  EXPECT_EQ(r.status, kernel::kStatusSuccess);
  EXPECT_EQ(r.count, 72u);
  SetMask(0);
  host_->RaiseInterrupts(card_, {0x80}, false);
  EXPECT_EQ(Trace(), (std::vector<std::string>{names_[7]}));
}

TEST_F(PciInterruptTest, AFailingHandleStopsTheReferencesAndIsLogged) {
  Reply r = SetEvents(EventSet32(3));
  EXPECT_EQ(r.status, kernel::kStatusInvalidHandle);
  const auto log = host_->kernel().ErrorLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].final_status, kernel::kStatusInvalidHandle);
  EXPECT_EQ(log[0].strings, std::vector<std::string>{"Unable to reference interrupt events\n"});
  // Slots 0 to 2 were referenced; the interrupt routine reports the others
  // to nobody.
  SetMask(0);
  host_->RaiseInterrupts(card_, {0x0F}, false);
  EXPECT_EQ(Trace(), (std::vector<std::string>{names_[0], names_[1], names_[2]}));
}

TEST_F(PciInterruptTest, ReplacedEventsAreReleased) {
  ASSERT_EQ(SetEvents(EventSet32()).status, kernel::kStatusSuccess);
  // Hand over another set in slot 0; once we close the first event too,
  // nobody holds it and it is gone.
  NamedEvent other = NamedEvent::Create("ZIMO0OTHER", platform::EventReset::kAuto, false).value();
  handles_[0x100] = "ZIMO0OTHER";
  ASSERT_EQ(SetEvents(EventSet32()).status, kernel::kStatusSuccess);
  events_[0] = NamedEvent();
  EXPECT_EQ(NamedEvent::Open(names_[0]).status().code(), platform::Code::kNotFound);
  EXPECT_TRUE(NamedEvent::Open(names_[1]).ok());
}

TEST_F(PciInterruptTest, UserEventInputForms) {
  // Neither a handle of the caller nor a name.
  Reply bad = Ioctl(IOCTL_ZIMO_SET_USER_EVENT, std::vector<uint8_t>{1, 2, 3});
  EXPECT_EQ(bad.status, kernel::kStatusUnsuccessful);
  EXPECT_EQ(bad.count, 0u);
  // A name nobody created.
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_SET_USER_EVENT, Text("NoSuchEvent")).status,
            kernel::kStatusObjectNameNotFound);
  // An 8-byte handle the caller never named.
  EXPECT_EQ(Ioctl(IOCTL_ZIMO_SET_USER_EVENT, std::vector<uint8_t>{8, 0, 0, 0, 0, 0, 0, 0}).status,
            kernel::kStatusInvalidHandle);
  // A 4-byte handle of a 32-bit caller.
  handles_[0x200] = "ZimoUserEvent";
  Reply by_handle = Ioctl(IOCTL_ZIMO_SET_USER_EVENT, std::vector<uint8_t>{0, 2, 0, 0}, 0, 0, &handles_);
  EXPECT_EQ(by_handle.status, kernel::kStatusSuccess);
  SetMask(0);
  host_->RaiseInterrupts(card_, {0x01}, false);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"ZimoUserEvent"}));
}

}  // namespace
}  // namespace zimo::drivers::testing
