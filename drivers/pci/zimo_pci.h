// ZimoPCI, the function driver of the PCI card, and the same driver serving
// ISA cards ("\\.\ZimoISA%d"): the ISA card's own driver lies outside this
// system, so the host answers its devices with the PCI driver's answers.
#pragma once

#include <string_view>

#include "kernel/device.h"
#include "kernel/ntstatus.h"

namespace zimo::drivers::pci {

// Driver entries for the kernel's LoadDriver.
kernel::NTSTATUS ZimoPciDriverEntry(kernel::DriverObject* driver, std::string_view registry_path);
kernel::NTSTATUS ZimoIsaDriverEntry(kernel::DriverObject* driver, std::string_view registry_path);

}  // namespace zimo::drivers::pci
