#include "logic/device_probe.h"

#include <chrono>
#include <cstdio>

#include "drivers/zimo_ioctl.h"
#include "platform/device_io.h"

namespace zimo::corvan::dialogs {
namespace {

// The driver host answers an open at once; a host that does not is treated
// as no device rather than holding the dialog up.
constexpr std::chrono::milliseconds kOpenTimeout{1000};

}  // namespace

std::string DriverDevicePath(const char* kind, int unit) {
  char path[32];
  std::snprintf(path, sizeof path, "\\\\.\\ZIMO%s%d", kind, unit);
  return path;
}

bool DriverDeviceProbe::DeviceOpens(std::string_view path) {
  auto file = platform::DeviceFile::Open(path, nullptr, kOpenTimeout);
  return file.ok();
}

IsaProbe DriverDeviceProbe::ProbeIsa(int unit) {
  IsaProbe probe;
  auto file = platform::DeviceFile::Open(DriverDevicePath("ISA", unit), nullptr, kOpenTimeout);
  if (!file.ok()) return probe;
  probe.present = true;
  drivers::ZimoIsaResourceInfo info{};
  const platform::IoControlResult result = file->DeviceIoControl(
      drivers::IOCTL_ZIMO_GET_RESOURCES, nullptr, 0, &info, sizeof info);
  if (result.ok && result.bytes_returned == sizeof info) {
    probe.resources = IsaResources{info.port_base, info.interrupt, info.dpr_address};
  }
  return probe;
}

std::string FormatIsaResources(const IsaResources& resources) {
  char text[96];
  int n = std::snprintf(text, sizeof text, "Port:0x%X", resources.port);
  if (resources.interrupt != 0) {
    n += std::snprintf(text + n, sizeof text - n, ", Intr:%d",
                       static_cast<int>(resources.interrupt & 0xF));
  } else {
    n += std::snprintf(text + n, sizeof text - n, ", Intr:N/A");
  }
  if (resources.dpr_address != 0) {
    std::snprintf(text + n, sizeof text - n, ", DPRAM:0x%X", resources.dpr_address);
  } else {
    std::snprintf(text + n, sizeof text - n, ", DPRAM:N/A");
  }
  return text;
}

}  // namespace zimo::corvan::dialogs
