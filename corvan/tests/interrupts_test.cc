// Interrupt notification against a simulated PCI card behind zimo-drvhost,
// whose control command "raise" makes the card raise interrupt sources:
// each kind of notification fires for an enabled source and not for a
// masked one, a new notification replaces the old without a second thread,
// the waiting thread ends on request, a card whose settings disable
// interrupts gets mask 255 and no thread, and the driver gets the program's
// own event.
#include "corvan/internal/library_calls.h"
#include "corvan/device_api.h"
#include "corvan/interrupt_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "link/interrupts.h"
#include "pci_card_fixture.h"
#include "platform/clock.h"

namespace zimo::corvan {
namespace {

using testing::FinishesWithin;
using testing::PciCardTest;
using namespace std::chrono_literals;

// What the notifications delivered, for the test to wait on.
struct Delivered {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::uint32_t> bits;
  std::vector<std::uint32_t> parameters;
  std::vector<std::string> texts;
  std::int32_t terminate_result = -1;

  void Add(std::uint32_t bit, std::uint32_t parameter, const char* text) {
    std::lock_guard<std::mutex> lock(mutex);
    bits.push_back(bit);
    parameters.push_back(parameter);
    texts.push_back(text != nullptr ? text : "");
    changed.notify_all();
  }
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, 20s, [&] { return bits.size() >= count; });
  }
  std::size_t size() {
    std::lock_guard<std::mutex> lock(mutex);
    return bits.size();
  }
};

Delivered* g_delivered = nullptr;

void OnInterrupt(std::uint32_t parameter, InterruptInfo* info) {
  g_delivered->Add(info->Bit, parameter, info->Data);
}

std::uint32_t OnInterruptThread(void* info) {
  auto* block = static_cast<InterruptInfo*>(info);
  g_delivered->Add(block->Bit, block->Size, block->Data);
  return 0;
}

void TerminateFromInside(std::uint32_t, InterruptInfo* info) {
  g_delivered->terminate_result = ZimoINTRTerminate(0);
  g_delivered->Add(info->Bit, 0, info->Data);
}

void CloseFromInside(std::uint32_t, InterruptInfo* info) {
  g_delivered->terminate_result = CloseZimoDevice(0);
  g_delivered->Add(info->Bit, 0, info->Data);
}

class InterruptsTest : public PciCardTest {
 protected:
  void SetUp() override {
    PciCardTest::SetUp();
    if (HasFatalFailure()) return;
    clock_.set_auto_advance(true);  // the start's settling pause takes no time
    g_delivered = &delivered_;
    block().InterruptsEnabled = 1;
    ASSERT_EQ(CreateInterruptEvents(kLocationPci, 0), 1);
  }
  void TearDown() override {
    ZimoINTRTerminate(0);
    SetWindowMessageSender(nullptr);
    CloseInterruptEvents(kLocationPci, 0);
    g_delivered = nullptr;
    PciCardTest::TearDown();
  }
  void Raise(std::uint32_t bits) { ASSERT_EQ(Host("raise 0 " + std::to_string(bits)), "ok"); }

  platform::FakeClock clock_;
  platform::ScopedClock scoped_clock_{clock_};
  Delivered delivered_;
};

TEST_F(InterruptsTest, EachKindOfNotificationFiresForEnabledSourcesOnly) {
  // A function call, with in-position masked.
  ASSERT_EQ(ZimoINTRFuncCallInit(0, &OnInterrupt, 77, 0x01), 1);
  Raise(0x01);
  Raise(0x02);
  ASSERT_TRUE(delivered_.WaitFor(1));
  EXPECT_EQ(delivered_.bits[0], 0x02u);
  EXPECT_EQ(delivered_.parameters[0], 77u);
  EXPECT_EQ(delivered_.texts[0], "Test Data");

  // A window message replaces it on the same thread.
  std::thread::id waiting_thread;
  {
    std::lock_guard<std::mutex> lock(delivered_.mutex);
    waiting_thread = App().User(0)->Interrupts.IntrThread.get_id();
  }
  struct Message {
    std::uintptr_t window;
    std::uint32_t message;
    std::uintptr_t first;
    std::intptr_t second;
  };
  std::vector<Message> messages;
  SetWindowMessageSender([&](std::uintptr_t w, std::uint32_t m, std::uintptr_t f, std::intptr_t s) {
    messages.push_back({w, m, f, s});
    g_delivered->Add(static_cast<std::uint32_t>(f), m, "message");
  });
  ASSERT_EQ(ZimoINTRWndMsgInit(0, 0x1234, 0x401, 0x01), 1);
  EXPECT_EQ(App().User(0)->Interrupts.IntrThread.get_id(), waiting_thread);
  Raise(0x02);
  ASSERT_TRUE(delivered_.WaitFor(2));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].window, 0x1234u);
  EXPECT_EQ(messages[0].message, 0x401u);
  EXPECT_EQ(messages[0].first, 0x02u);
  EXPECT_EQ(messages[0].second, 0);

  // A new thread per interrupt, with the information block.
  ASSERT_EQ(ZimoINTRRunThreadInit(0, &OnInterruptThread, 0, 0x01), 1);
  Raise(0x10);
  ASSERT_TRUE(delivered_.WaitFor(3));
  EXPECT_EQ(delivered_.bits[2], 0x10u);
  EXPECT_EQ(delivered_.parameters[2], 4u);  // the block's size word

  // The program's own event.
  auto event = platform::NamedEvent::Create("ProgramEvent", platform::EventReset::kAuto, false);
  ASSERT_TRUE(event.ok());
  ASSERT_EQ(ZimoINTRFireEventInit(0, &event.value(), 0x80), 1);
  Raise(0x80);
  EXPECT_EQ(event->Wait(200ms).code(), platform::Code::kTimeout);
  Raise(0x08);
  EXPECT_TRUE(event->Wait(20s).ok());

  // Terminate ends the waiting thread; nothing is heard after it.
  EXPECT_EQ(ZimoINTRTerminate(0), 1);
  EXPECT_FALSE(App().User(0)->Interrupts.IntrThread.joinable());
  Raise(0x08);
  EXPECT_EQ(event->Wait(200ms).code(), platform::Code::kTimeout);
  EXPECT_EQ(ZimoINTRTerminate(0), 1);  // no thread: 1
  EXPECT_EQ(delivered_.size(), 3u);
}

TEST_F(InterruptsTest, TheWaitingThreadCannotStopItself) {
  ASSERT_EQ(ZimoINTRFuncCallInit(0, &TerminateFromInside, 0, 0), 1);
  Raise(0x04);
  ASSERT_TRUE(delivered_.WaitFor(1));
  EXPECT_EQ(delivered_.terminate_result, 0);
  EXPECT_EQ(ZimoINTRTerminate(0), 1);
}

// A handler that closes its device (1.106, 1.102): the waiting thread's
// wait ends after the handler returns; after a reopen a new thread hears
// the card, and Terminate returns.
TEST_F(InterruptsTest, AHandlerThatClosesItsDeviceEndsItsThreadsWait) {
  ASSERT_EQ(ZimoINTRFuncCallInit(0, &CloseFromInside, 0, 0), 1);
  Raise(0x04);
  ASSERT_TRUE(delivered_.WaitFor(1));
  EXPECT_EQ(delivered_.terminate_result, 1);
  opener_ = std::make_unique<testing::BusDeviceOpener>(0, kLocationPci, 0);
  ASSERT_TRUE(opener_->Open());
  ASSERT_EQ(CreateInterruptEvents(kLocationPci, 0), 1);
  FinishesWithin(20s, "interrupts after a handler closed its device", [&] {
    ASSERT_EQ(ZimoINTRFuncCallInit(0, &OnInterrupt, 5, 0), 1);
    Raise(0x01);
    EXPECT_TRUE(delivered_.WaitFor(2));
    EXPECT_EQ(ZimoINTRTerminate(0), 1);
  });
}

TEST_F(InterruptsTest, ACardWithInterruptsDisabledGetsNoThread) {
  block().InterruptsEnabled = 0;
  EXPECT_EQ(ZimoINTRFuncCallInit(0, &OnInterrupt, 0, 0), 0);
  EXPECT_FALSE(App().User(0)->Interrupts.IntrThread.joinable());
  Raise(0xFF);
  EXPECT_EQ(ZimoINTRTerminate(0), 0);
  EXPECT_EQ(delivered_.size(), 0u);
  // The driver got mask 255: the user event hears no source.
  ASSERT_EQ(ZimoINTRSetupInterruptEvent(0, "AnyInterrupt"), 1);
  auto any = platform::NamedEvent::Open("AnyInterrupt");
  ASSERT_TRUE(any.ok());
  Raise(0x01);
  EXPECT_EQ(any->Wait(200ms).code(), platform::Code::kTimeout);
}

TEST_F(InterruptsTest, TheDriverSetsTheProgramsEventOnAnyInterrupt) {
  ASSERT_EQ(ZimoINTRSetupMask(0, 0), 1);
  ASSERT_EQ(ZimoINTRSetupInterruptEvent(0, "AnyInterrupt"), 1);
  auto any = platform::NamedEvent::Open("AnyInterrupt");
  ASSERT_TRUE(any.ok());
  Raise(0x20);
  EXPECT_TRUE(any->Wait(20s).ok());

  EXPECT_EQ(ZimoINTRSetupInterruptEvent(0, ""), 0);
  EXPECT_EQ(ZimoINTRSetupInterruptEvent(0, nullptr), 0);
  EXPECT_EQ(ZimoINTRSetupInterruptEvent(1, "AnyInterrupt"), 0);  // not open here
  EXPECT_EQ(ZimoINTRSetupMask(1, 0), 0);
  EXPECT_EQ(ZimoINTRFuncCallInit(9, &OnInterrupt, 0, 0), 0);
}

// Lines of this process's memory map: every event is a mapping.
std::size_t MappedRegions() {
  std::ifstream maps("/proc/self/maps");
  std::size_t lines = 0;
  for (std::string line; std::getline(maps, line);) ++lines;
  return lines;
}

TEST_F(InterruptsTest, TheEventsOfALocationCloseWithIt) {
  CloseInterruptEvents(kLocationPci, 0);
  ASSERT_EQ(CreateInterruptEvents(kLocationPci, 0), 1);
  CloseInterruptEvents(kLocationPci, 0);
  const std::size_t before = MappedRegions();
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(CreateInterruptEvents(kLocationPci, 0), 1);
    CloseInterruptEvents(kLocationPci, 0);
  }
  EXPECT_LT(MappedRegions(), before + 10);  // nine per round would be 180

  // Locations without interrupts, and one whose driver is not there.
  EXPECT_EQ(CreateInterruptEvents(kLocationUsb, 0), 0);
  EXPECT_EQ(CreateInterruptEvents(kLocationPci, 3), 1);
  ASSERT_EQ(CreateInterruptEvents(kLocationPci, 0), 1);
}

}  // namespace
}  // namespace zimo::corvan
