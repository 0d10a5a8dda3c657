// The kernel layer's own rules, with a small test driver: buffered device
// control, completion routines, the remove lock, interrupts and DPCs.
#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "kernel/bus_driver.h"
#include "kernel/pass_down.h"
#include "kernel/remove_lock.h"

namespace zimo::kernel {
namespace {

using namespace std::chrono_literals;

// One interrupt line the test raises.
struct FakeHardware {
  std::atomic<InterruptLineHandler> handler{nullptr};
  std::atomic<void*> cookie{nullptr};
  static bool Connect(void* self, uint32_t, InterruptLineHandler h, void* c) {
    auto* hw = static_cast<FakeHardware*>(self);
    hw->cookie = c;
    hw->handler = h;
    return true;
  }
  static void Disconnect(void* self, uint32_t) {
    static_cast<FakeHardware*>(self)->handler = nullptr;
  }
  void Raise() { handler.load()(cookie.load()); }
  HardwareAccess Access() {
    HardwareAccess a;
    a.context = this;
    a.connect_interrupt = &Connect;
    a.disconnect_interrupt = &Disconnect;
    return a;
  }
};

// A driver whose device control echoes: the reply count is the first input
// byte, the status the second byte's choice; it writes 'R' at the start of
// the system buffer and records the caller's output buffer's first byte.
uint8_t g_user_byte = 0;
NTSTATUS EchoControl(DeviceObject* device, Irp& irp) {
  const IoStackLocation& l = irp.CurrentStackLocation();
  irp.io_status.information = l.input_length > 0 ? irp.system_buffer[0] : 0;
  irp.io_status.status =
      l.input_length > 1 && irp.system_buffer[1] == 1 ? kStatusUnsuccessful : kStatusSuccess;
  g_user_byte = irp.user_buffer.empty() ? 0 : irp.user_buffer[0];
  irp.system_buffer[0] = 'R';
  device->kernel().CompleteRequest(irp);
  return irp.io_status.status;
}
NTSTATUS Succeed(DeviceObject* device, Irp& irp) {
  irp.io_status.status = kStatusSuccess;
  device->kernel().CompleteRequest(irp);
  return kStatusSuccess;
}
NTSTATUS EchoEntry(DriverObject* driver, std::string_view) {
  driver->major_function[static_cast<size_t>(IrpMajor::kDeviceControl)] = &EchoControl;
  driver->major_function[static_cast<size_t>(IrpMajor::kCreate)] = &Succeed;
  driver->major_function[static_cast<size_t>(IrpMajor::kClose)] = &Succeed;
  driver->major_function[static_cast<size_t>(IrpMajor::kCleanup)] = &Succeed;
  return kStatusSuccess;
}

class KernelTest : public ::testing::Test {
 protected:
  KernelTest() : kernel_(hw_.Access()) {
    kernel_.LoadDriver("Echo", &EchoEntry, "", &driver_);
    kernel_.CreateDevice<int>(driver_, "\\Device\\Echo0", kFileDeviceUnknown, false, &device_);
    device_->flags &= ~kDoDeviceInitializing;
    kernel_.CreateSymbolicLink("\\DosDevices\\Echo0", "\\Device\\Echo0");
    EXPECT_EQ(kernel_.OpenFile("\\\\.\\ECHO0", &file_), kStatusSuccess);  // any case
  }
  FakeHardware hw_;
  Kernel kernel_;
  DriverObject* driver_ = nullptr;
  DeviceObject* device_ = nullptr;
  std::shared_ptr<FileObject> file_;
};

TEST_F(KernelTest, BufferedDeviceControlCopiesBackTheTransferCountOnly) {
  std::vector<uint8_t> in = {3, 0, 7, 7};
  std::vector<uint8_t> out = {'a', 'b', 'c', 'd', 'e', 'f'};
  DeviceIoResult r = kernel_.DeviceIoControl(*file_, 0x1D0000, in, out);
  EXPECT_EQ(r.information, 3u);
  EXPECT_EQ(g_user_byte, 'a');  // the caller's own buffer, as it came
  EXPECT_EQ(out, (std::vector<uint8_t>{'R', 0, 7, 'd', 'e', 'f'}));
  // A count larger than the output copies only the output's size.
  in = {200};
  out.assign(2, 'x');
  kernel_.DeviceIoControl(*file_, 0x1D0000, in, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{'R', 0}));
  // An error copies nothing.
  in = {4, 1};
  out.assign(4, 'x');
  r = kernel_.DeviceIoControl(*file_, 0x1D0000, in, out);
  EXPECT_EQ(r.status, kStatusUnsuccessful);
  EXPECT_EQ(out, std::vector<uint8_t>(4, 'x'));
}

// A function driver above the echo device: input byte 2 'w' passes the
// request down and back, then completes it with its own count of 9; any
// other passes it down unchanged.
DeviceObject* g_lower = nullptr;
NTSTATUS PassDownCreate(DeviceObject* device, Irp& irp) {
  return PassDown(device->kernel(), g_lower, irp);
}
NTSTATUS UpperControl(DeviceObject* device, Irp& irp) {
  const IoStackLocation& l = irp.CurrentStackLocation();
  if (l.input_length > 2 && irp.system_buffer[2] == 'w') {
    const NTSTATUS status = PassDownAndWait(device->kernel(), g_lower, irp);
    irp.io_status.information = 9;
    return CompleteWith(device->kernel(), irp, status);
  }
  return PassDown(device->kernel(), g_lower, irp);
}
NTSTATUS UpperEntry(DriverObject* driver, std::string_view) {
  driver->major_function[static_cast<size_t>(IrpMajor::kDeviceControl)] = &UpperControl;
  driver->major_function[static_cast<size_t>(IrpMajor::kCreate)] = &PassDownCreate;
  return kStatusSuccess;
}

TEST_F(KernelTest, PassingARequestDownAndBack) {
  DriverObject* upper_driver = nullptr;
  DeviceObject* upper = nullptr;
  ASSERT_EQ(kernel_.LoadDriver("Upper", &UpperEntry, "", &upper_driver), kStatusSuccess);
  ASSERT_EQ(kernel_.CreateDevice<int>(upper_driver, "", kFileDeviceUnknown, false, &upper),
            kStatusSuccess);
  g_lower = kernel_.AttachDeviceToDeviceStack(upper, device_);
  ASSERT_EQ(g_lower, device_);
  upper->flags &= ~kDoDeviceInitializing;

  std::shared_ptr<FileObject> file;
  ASSERT_EQ(kernel_.OpenFile("\\\\.\\Echo0", &file), kStatusSuccess);
  struct Case {
    std::vector<uint8_t> in;
    NTSTATUS status;
    uint64_t count;
  } cases[] = {
      {{3, 0, 'p'}, kStatusSuccess, 3},       // down: the echo's own count
      {{3, 1, 'p'}, kStatusUnsuccessful, 3},  // down: the echo's failure
      {{3, 0, 'w'}, kStatusSuccess, 9},       // back up: completed by the upper driver
      {{3, 1, 'w'}, kStatusUnsuccessful, 9},  // back up with the echo's status
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.in[1]) << char(c.in[2]));
    std::vector<uint8_t> out(16, 'x');
    const DeviceIoResult r = kernel_.DeviceIoControl(*file, 0x1D0000, c.in, out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.information, c.count);
  }
}

TEST_F(KernelTest, LinksAndOpens) {
  std::shared_ptr<FileObject> f;
  EXPECT_EQ(kernel_.OpenFile("\\\\.\\Echo1", &f), kStatusObjectNameNotFound);
  EXPECT_EQ(kernel_.CreateSymbolicLink("\\DosDevices\\ECHO0", "\\Device\\Echo0"),
            kStatusObjectNameCollision);
  std::vector<std::string> seen;
  const int id = kernel_.AddLinkObserver([&seen](const std::string& link, bool created) {
    seen.push_back((created ? "+" : "-") + link);
  });
  kernel_.DeleteSymbolicLink("\\dosdevices\\echo0");
  kernel_.RemoveLinkObserver(id);
  EXPECT_EQ(seen, std::vector<std::string>{"-\\DosDevices\\Echo0"});
  EXPECT_EQ(kernel_.OpenFile("\\\\.\\Echo0", &f), kStatusObjectNameNotFound);
  // A deleted device lives on while a handle holds it.
  kernel_.DeleteDevice(device_);
  std::vector<uint8_t> in = {1}, out(1);
  EXPECT_EQ(kernel_.DeviceIoControl(*file_, 0x1D0000, in, out).information, 1u);
}

TEST(RemoveLockTest, RemovalWaitsForEveryHolder) {
  RemoveLock lock;
  ASSERT_EQ(lock.Acquire(), kStatusSuccess);  // an open handle
  ASSERT_EQ(lock.Acquire(), kStatusSuccess);  // the removal's own request
  auto removal = std::async(std::launch::async, [&lock] { lock.ReleaseAndWait(); });
  EXPECT_EQ(removal.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(lock.Acquire(), kStatusDeletePending);
  lock.Release();  // the handle closes
  EXPECT_EQ(removal.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(lock.holders(), 0);
}

struct IsrState {
  Kernel* kernel;
  InterruptObject* interrupt = nullptr;
  Dpc dpc;
  std::atomic<int> isr_runs{0};
  std::atomic<int> dpc_runs{0};
  std::atomic<bool> inside_sync{false};
  std::atomic<bool> overlapped{false};
};

bool CountingIsr(InterruptObject*, void* context) {
  auto* s = static_cast<IsrState*>(context);
  if (s->inside_sync) s->overlapped = true;
  ++s->isr_runs;
  s->kernel->InsertQueueDpc(&s->dpc, nullptr, nullptr);
  return true;
}

void CountingDpc(Dpc*, void* context, void*, void*) { ++static_cast<IsrState*>(context)->dpc_runs; }

TEST_F(KernelTest, ALineRaisedUnderTheInterruptLockIsServicedAfterIt) {
  IsrState state;
  state.kernel = &kernel_;
  kernel_.InitializeDpc(&state.dpc, &CountingDpc, &state);
  std::unique_ptr<InterruptObject> interrupt;
  ASSERT_EQ(kernel_.ConnectInterrupt(&interrupt, &CountingIsr, &state, 0x30, 5, 5,
                                     InterruptMode::kLevelSensitive, false, 1),
            kStatusSuccess);
  // A second exclusive claim on the vector is refused.
  std::unique_ptr<InterruptObject> other;
  EXPECT_EQ(kernel_.ConnectInterrupt(&other, &CountingIsr, &state, 0x30, 5, 5,
                                     InterruptMode::kLevelSensitive, false, 1),
            kStatusInvalidParameter);

  struct Sync {
    IsrState* state;
    FakeHardware* hw;
  } sync{&state, &hw_};
  kernel_.SynchronizeExecution(
      interrupt.get(),
      [](void* c) {
        auto* s = static_cast<Sync*>(c);
        s->state->inside_sync = true;
        s->hw->Raise();  // as a register write that unmasks a pending source
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        s->state->inside_sync = false;
        return true;
      },
      &sync);
  kernel_.FlushInterrupts();
  kernel_.FlushDpcs();
  EXPECT_EQ(state.isr_runs, 1);
  EXPECT_EQ(state.dpc_runs, 1);
  EXPECT_FALSE(state.overlapped);

  // Held DPCs: two interrupts queue the procedure once.
  kernel_.HoldDpcs(true);
  hw_.Raise();
  kernel_.FlushInterrupts();
  hw_.Raise();
  kernel_.FlushInterrupts();
  EXPECT_EQ(state.isr_runs, 3);
  kernel_.HoldDpcs(false);
  kernel_.FlushDpcs();
  EXPECT_EQ(state.dpc_runs, 2);  // one after the first, one for the held pair
  kernel_.DisconnectInterrupt(&interrupt);
  EXPECT_EQ(hw_.handler.load(), nullptr);
}

}  // namespace
}  // namespace zimo::kernel
