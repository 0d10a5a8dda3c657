// Which card interfaces the drivers offer on this machine: whether a driver
// device ("\\.\ZIMOUSB0", "\\.\ZIMOPCI1", ...) opens, and what an ISA
// driver reports of its card's resources. The dialogs list what they find;
// tests give their own machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zimo::corvan::dialogs {

// What the ISA driver answers to its resource request (16 bytes).
struct IsaResources {
  std::uint32_t port = 0;
  std::uint32_t interrupt = 0;    // its low four bits are the interrupt number
  std::uint32_t dpr_address = 0;  // 0: the card has no dual-ported RAM
};

// An ISA driver device: whether it opened, and its resources when the
// request worked.
struct IsaProbe {
  bool present = false;
  std::optional<IsaResources> resources;
};

class DeviceProbe {
 public:
  virtual ~DeviceProbe() = default;
  // Whether the driver device of `path` ("\\.\ZIMOUSB0") can be opened; it
  // is closed again at once.
  virtual bool DeviceOpens(std::string_view path) = 0;
  // Opens "\\.\ZIMOISA<unit>" and asks it for its card's resources.
  virtual IsaProbe ProbeIsa(int unit) = 0;
};

// The drivers of this machine, reached through the driver host.
class DriverDeviceProbe : public DeviceProbe {
 public:
  bool DeviceOpens(std::string_view path) override;
  IsaProbe ProbeIsa(int unit) override;
};

// "\\.\ZIMOUSB%d", "\\.\ZIMOPCI%d", "\\.\ZIMOISA%d".
std::string DriverDevicePath(const char* kind, int unit);

// "Port:0x%X, Intr:%d, DPRAM:0x%X", with "Intr:N/A" for interrupt 0 and
// "DPRAM:N/A" for no dual-ported RAM.
std::string FormatIsaResources(const IsaResources& resources);

}  // namespace zimo::corvan::dialogs
