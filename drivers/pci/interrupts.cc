// Card interrupts: the interrupt routine takes the pending sources, the
// deferred procedure sets the events user mode handed over.
#include <cstring>

#include "pci/device_extension.h"

namespace zimo::drivers::pci {

namespace {

constexpr unsigned kRegControl = 0;
constexpr unsigned kRegPending = 8;
constexpr unsigned kRegEnable = 10;
constexpr unsigned kRegExtra = 11;

constexpr const char* kSourceLines[kSourceCount] = {
    "ZIMOPCI: *** IN-POSITION Interrupt *** \n",
    "ZIMOPCI: *** BUFFER-REQUEST Interrupt *** \n",
    "ZIMOPCI: *** FOLLOWING ERROR Interrupt *** \n",
    "ZIMOPCI: *** FATAL FOLLOWING ERROR Interrupt *** \n",
    "ZIMOPCI: *** HOST-REQUEST Interrupt *** \n",
    "ZIMOPCI: *** IR5 Interrupt *** \n",
    "ZIMOPCI: *** IR6 Interrupt *** \n",
    "ZIMOPCI: *** IR7 Interrupt *** \n",
};

bool EnableIntsSync(void* context) {
  auto& ext = *static_cast<DeviceExtension*>(context);
  WritePortByte(ext, kRegEnable, ext.stored_mask);
  ext.dpc_queued = false;
  ext.kernel().DbgPrint("ZIMOPCI: EnableInts_Sync():\n");
  return true;
}

bool DisableIntsSync(void* context) {
  auto& ext = *static_cast<DeviceExtension*>(context);
  WritePortByte(ext, kRegEnable, 0);
  ext.kernel().DbgPrint("ZIMOPCI: DisableInts_Sync():\n");
  return true;
}

// One handle of the caller: a handle value whose name came with the
// request.
NTSTATUS ReferenceHandle(DeviceExtension& ext, const kernel::Irp& irp, uint64_t handle,
                         kernel::EventRef* event) {
  return ext.kernel().ReferenceEventByHandle(handle, irp, event);
}

bool KnownHandle(const kernel::Irp& irp, uint64_t handle) {
  return irp.handles != nullptr && irp.handles->count(handle) != 0;
}

// A NUL-terminated printable text: an event's name.
bool LooksLikeName(const uint8_t* in, uint32_t length) {
  if (length < 2 || in[0] < 0x20 || in[0] >= 0x7F) return false;
  for (uint32_t i = 1; i < length; ++i) {
    if (in[i] == 0) return true;
    if (in[i] < 0x20) return false;
  }
  return false;
}

}  // namespace

bool OnInterrupt(kernel::InterruptObject* interrupt, void* context) {
  (void)interrupt;
  auto& ext = *static_cast<DeviceExtension*>(context);
  const uint8_t enable = ReadPortByte(ext, kRegEnable);
  const uint8_t pending = ReadPortByte(ext, kRegPending);
  const uint32_t status = pending & enable;
  if (status == 0) {
    WritePortByte(ext, kRegPending, 0);
    return false;
  }
  // Sources gather until the deferred procedure takes them: a second
  // interrupt before it runs adds its sources instead of replacing the first's.
  ext.pending_status.fetch_or(status);
  if (!ext.dpc_queued.exchange(true)) {
    ext.kernel().InsertQueueDpc(&ext.dpc, nullptr, nullptr);
  }
  WritePortByte(ext, kRegPending, 0);
  return true;
}

void DpcForIsr(kernel::Dpc* dpc, void* context, void* argument1, void* argument2) {
  (void)dpc;
  (void)argument1;
  (void)argument2;
  auto& ext = *static_cast<DeviceExtension*>(context);
  // Cleared before the sources are taken, so an interrupt from here on
  // queues the procedure again rather than leaving its sources behind.
  ext.dpc_queued = false;
  const uint32_t pending = ext.pending_status.exchange(0);
  if (pending == 0) return;  // an earlier run took them
  kernel::EventRef user;
  std::array<kernel::EventRef, kSourceCount> sources;
  {
    std::lock_guard lock(ext.events_mu);
    user = ext.user_event;
    sources = ext.source_events;
  }
  if (user) user->Set();
  for (int i = 0; i < kSourceCount; ++i) {
    if ((pending & (1u << i)) == 0) continue;
    ext.kernel().DbgPrint("%s", kSourceLines[i]);
    if (sources[static_cast<size_t>(i)]) sources[static_cast<size_t>(i)]->Set();
  }
}

void EnableInts(DeviceExtension& ext) {
  // Every request runs at passive level here, so a connected interrupt is
  // always synchronised with.
  if (ext.interrupt) {
    ext.kernel().SynchronizeExecution(ext.interrupt.get(), &EnableIntsSync, &ext);
  } else {
    EnableIntsSync(&ext);
  }
  ext.kernel().DbgPrint("ZIMOPCI: EnableInts():\n");
}

void DisableInts(DeviceExtension& ext, bool direct) {
  if (direct || !ext.interrupt) {
    DisableIntsSync(&ext);
  } else {
    ext.kernel().SynchronizeExecution(ext.interrupt.get(), &DisableIntsSync, &ext);
  }
  ext.kernel().DbgPrint("ZIMOPCI: DisableInts():\n");
}

void InterruptInit(DeviceExtension& ext) {
  for (unsigned reg : {kRegControl, kRegPending, kRegEnable, kRegExtra}) WritePortByte(ext, reg, 0);
  WritePortByte(ext, kRegControl, 0x81);
  ext.kernel().DbgPrint("ZIMOPCI: InterruptInit():\n");
}

NTSTATUS ReferenceIntrEvents(DeviceExtension& ext, const kernel::Irp& irp) {
  InterruptInit(ext);
  // The driver's own 8-byte handles, or a 32-bit caller's 4-byte ones.
  const uint32_t input_length = irp.CurrentStackLocation().input_length;
  const bool narrow = input_length == sizeof(ZimoIntrEventSet32);
  const uint8_t* in = irp.system_buffer.data();
  NTSTATUS status = kernel::kStatusSuccess;
  for (int i = 0; i < kSourceCount; ++i) {
    uint64_t handle = 0;
    if (narrow) {
      uint32_t h32;
      std::memcpy(&h32, in + 4 * i, 4);
      handle = h32;
    } else {
      std::memcpy(&handle, in + 8 * i, 8);
    }
    kernel::EventRef event;
    status = ReferenceHandle(ext, irp, handle, &event);
    if (!kernel::NtSuccess(status) || !event) break;
    event->Clear();
    kernel::EventRef replaced;
    {
      std::lock_guard lock(ext.events_mu);
      replaced = std::exchange(ext.source_events[static_cast<size_t>(i)], std::move(event));
    }
    // `replaced` goes here: an event handed over again is not kept twice.
  }
  ext.kernel().DbgPrint("ZIMOPCI: ReferenceIntrEvents():\n");
  return status;
}

NTSTATUS ReferenceUserIntrEvent(DeviceExtension& ext, const kernel::Irp& irp, bool* accepted) {
  const uint32_t input_length = irp.CurrentStackLocation().input_length;
  const uint8_t* in = irp.system_buffer.data();
  uint64_t handle = 0;
  if (input_length == 8) {
    std::memcpy(&handle, in, 8);
  } else if (input_length == 4) {
    uint32_t h32;
    std::memcpy(&h32, in, 4);
    handle = h32;
  }
  // The driver's own 8-byte handle; from a 32-bit caller a 4-byte handle or
  // the event's name.
  const bool name = LooksLikeName(in, input_length);
  const bool by_handle =
      (input_length == 8 && (KnownHandle(irp, handle) || !name)) ||
      (input_length == 4 && KnownHandle(irp, handle));
  *accepted = by_handle || name;
  if (!*accepted) return kernel::kStatusUnsuccessful;

  ReleaseUserIntrEvent(ext);
  kernel::EventRef event;
  NTSTATUS status;
  if (by_handle) {
    status = ReferenceHandle(ext, irp, handle, &event);
  } else {
    const char* text = reinterpret_cast<const char*>(in);
    status = ext.kernel().ReferenceEventByName(std::string_view(text, strnlen(text, input_length)),
                                               &event);
  }
  if (kernel::NtSuccess(status) && event) {
    event->Clear();
    std::lock_guard lock(ext.events_mu);
    ext.user_event = std::move(event);
  }
  ext.kernel().DbgPrint("ZIMOPCI: ReferenceUserIntrEvent():\n");
  return status;
}

void ReleaseUserIntrEvent(DeviceExtension& ext) {
  kernel::EventRef old;
  std::lock_guard lock(ext.events_mu);
  old = std::move(ext.user_event);
  ext.user_event.reset();
}

void DereferenceIntrEvents(DeviceExtension& ext) {
  std::array<kernel::EventRef, kSourceCount> old;
  {
    std::lock_guard lock(ext.events_mu);
    old = std::move(ext.source_events);
    for (auto& e : ext.source_events) e.reset();
  }
  ext.kernel().DbgPrint("ZIMOPCI: DereferenceIntrEvents():\n");
}

}  // namespace zimo::drivers::pci
