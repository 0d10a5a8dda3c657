// ZimoUSB, the function driver of the USB card: the card interface of the
// I/O-control codes carried out with the card firmware's vendor requests,
// and the maintenance codes that reach the USB device itself.
#pragma once

#include <string_view>

#include "kernel/device.h"
#include "kernel/ntstatus.h"

namespace zimo::drivers::usb {

// Driver entry for the kernel's LoadDriver.
kernel::NTSTATUS ZimoUsbDriverEntry(kernel::DriverObject* driver, std::string_view registry_path);

}  // namespace zimo::drivers::usb
