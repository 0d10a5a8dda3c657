// The events user mode hands to a USB device: a list of at most 20,
// referenced and released, never set (the card has no interrupt line).
#include <cstring>
#include <utility>

#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace {

// The handle in the input: the driver's own 8-byte form, or a 32-bit
// caller's 4-byte one.
NTSTATUS Reference(DeviceExtension& ext, const kernel::Irp& irp, kernel::EventRef* event) {
  const uint32_t length = irp.CurrentStackLocation().input_length;
  uint64_t handle = 0;
  if (length >= 8) {
    std::memcpy(&handle, irp.system_buffer.data(), 8);
  } else if (length >= 4) {
    uint32_t h32;
    std::memcpy(&h32, irp.system_buffer.data(), 4);
    handle = h32;
  } else {
    return kernel::kStatusInvalidHandle;
  }
  return ext.kernel().ReferenceEventByHandle(handle, irp, event);
}

}  // namespace

NTSTATUS AddEvent(DeviceExtension& ext, const kernel::Irp& irp) {
  std::lock_guard lock(ext.events_mu);
  if (ext.event_count >= kMaxEvents) return kernel::kStatusSuccess;
  kernel::EventRef event;
  const NTSTATUS status = Reference(ext, irp, &event);
  // The entry is used even when the reference failed; it then stays empty.
  if (kernel::NtSuccess(status) && event) {
    event->Clear();
    ext.kernel().DbgPrint("ZIMOUSB: ReferenceIntrEvents SUCCESS\n");
  } else {
    event.reset();
    ext.kernel().DbgPrint("ZIMOUSB: ReferenceIntrEvents NO SUCCESS\n");
  }
  ext.events[static_cast<size_t>(ext.event_count++)] = std::move(event);
  return status;
}

NTSTATUS RemoveEvent(DeviceExtension& ext, const kernel::Irp& irp) {
  kernel::EventRef event;
  const NTSTATUS status = Reference(ext, irp, &event);
  if (!kernel::NtSuccess(status) || !event) return status;
  kernel::EventRef released;
  std::lock_guard lock(ext.events_mu);
  for (int i = 0; i < ext.event_count; ++i) {
    // References of one event share its name.
    const kernel::EventRef& entry = ext.events[static_cast<size_t>(i)];
    if (!entry || entry->name() != event->name()) continue;
    released = std::move(ext.events[static_cast<size_t>(i)]);
    for (int j = i; j + 1 < ext.event_count; ++j) {
      ext.events[static_cast<size_t>(j)] = std::move(ext.events[static_cast<size_t>(j + 1)]);
    }
    ext.events[static_cast<size_t>(--ext.event_count)].reset();
    break;
  }
  return status;
}

void ReleaseEvents(DeviceExtension& ext) {
  std::array<kernel::EventRef, kMaxEvents> old;
  {
    std::lock_guard lock(ext.events_mu);
    old = std::move(ext.events);
    for (auto& e : ext.events) e.reset();
    ext.event_count = 0;
  }
}

}  // namespace zimo::drivers::usb
