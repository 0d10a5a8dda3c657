#include "logic/device_list.h"

#include <cstdio>
#include <optional>

#include "corvan/internal/shared_table.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "logic/dialog_messages.h"

namespace zimo::corvan::dialogs {
namespace {

constexpr std::uint32_t kTopmost = platform::kMbTopmost;

const char* ParityName(std::uint32_t parity) {
  static constexpr const char* kNames[] = {"None", "Odd", "Even"};
  return kNames[parity <= 2 ? parity : 0];
}

}  // namespace

void DeviceList::Start() {
  for (int n = 1; n <= 2; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "UserApp%dName", n);
    std::string caption;
    GetRootRegString(name, &caption, "");
    user_buttons_[n - 1] = UserButton{!caption.empty(), caption};
  }
  Fill();
}

std::string DeviceList::LineOf(int device) {
  char head[16];
  std::snprintf(head, sizeof head, "ZIMO %02d - ", device);
  std::string line = head;
  locations_[device] = kLocationUnknown;
  configured_[device] = false;
  if (DeviceKeyExists(device) == 0) return line + "NA";
  std::uint32_t location = kLocationUnknown;
  std::uint32_t enumeration = 0;
  GetDeviceRegDword(device, kLocationValue, &location, 0);
  GetDeviceRegDword(device, kEnumerationValue, &enumeration, 0);
  if (location < kLocationIsa || location > kLocationUsb) return line + "NA";
  locations_[device] = location;
  configured_[device] = true;

  char text[160];
  std::snprintf(text, sizeof text, "%s%d - ", LocationShortName(location),
                static_cast<int>(enumeration));
  line += text;
  switch (location) {
    case kLocationIsa: {
      const IsaProbe isa = probe_.ProbeIsa(static_cast<int>(enumeration));
      line += isa.present && isa.resources ? FormatIsaResources(*isa.resources)
                                           : std::string("Unable to determine resources ");
      break;
    }
    case kLocationSerial: {
      std::uint32_t port = enumeration - 1;
      std::uint32_t baud = 38400;
      std::uint32_t parity = 0;
      GetLocationRegDword(kLocationSerial, enumeration, "SerialPortNumber", &port, enumeration - 1);
      GetLocationRegDword(kLocationSerial, enumeration, "SerialBaudrate", &baud, 38400);
      GetLocationRegDword(kLocationSerial, enumeration, "SerialParity", &parity, 0);
      std::snprintf(text, sizeof text, "COM%d, Baudrate:%d, Parity:%s", static_cast<int>(port + 1),
                    static_cast<int>(baud), ParityName(parity));
      line += text;
      break;
    }
    case kLocationEthernet: {
      std::uint32_t address = 0;
      GetLocationRegDword(kLocationEthernet, enumeration, "IPAddress", &address, 0);
      std::snprintf(text, sizeof text, "IP:%u.%u.%u.%u", (address >> 24) & 0xFF,
                    (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
      line += text;
      break;
    }
    default:  // PCI, USB
      line += "Plug and play";
      break;
  }
  return line;
}

void DeviceList::Fill() {
  if (current_ < 0 || current_ >= kRealDevices) current_ = 0;
  lines_.clear();
  for (int device = 0; device < kRealDevices; ++device) lines_.push_back(LineOf(device));
}

void DeviceList::SelectionChanged(int index) {
  current_ = index;
  Fill();
}

void DeviceList::Insert() {
  const int device = current_;
  if (DeviceKeyExists(device) != 0) {
    std::uint32_t location = kLocationUnknown;
    GetDeviceRegDword(device, kLocationValue, &location, 0);
    if (location >= kLocationIsa && location <= kLocationUsb) {
      ShowLibraryText(kTextRemoveCurrentFirst, platform::kMbOk | kTopmost);
      Fill();
      return;
    }
  }
  if (const std::optional<DeviceChoice> choice = ui_.SelectAvailableDevice()) {
    if (choice->location != kLocationUnknown &&
        RegisterDevice(device, choice->location, choice->enumeration, App().table()) == 0) {
      ShowMessage(kUnableToRegisterText, platform::kMbOk | platform::kMbIconExclamation);
    }
  }
  Fill();
}

void DeviceList::Remove() {
  const int device = current_;
  if (DeviceKeyExists(device) == 0) return;
  std::uint32_t location = kLocationUnknown;
  GetDeviceRegDword(device, kLocationValue, &location, 0);
  CommLibraryApp& app = App();
  if (location >= kLocationIsa && location <= kLocationUsb) {
    const SharedDeviceBlock* block = app.Block(device);
    if (!app.server_build() && block != nullptr && block->FirstOpenDone != 0) {
      ShowLibraryText(kTextCannotRemove, platform::kMbOk | kTopmost);
      return;
    }
    if (ShowLibraryText(kTextRemoveDevice, platform::kMbOkCancel | kTopmost) != platform::kIdOk) {
      return;
    }
  }
  UnregisterDevice(device, app.table());
  Fill();
}

void DeviceList::Test() {
  tester_.TestDevice(current_, nullptr);
  Fill();
}

void DeviceList::Properties() {
  if (configured_[current_]) ConfigureDeviceSettings(ui_, current_, locations_[current_]);
  Fill();
}

int DeviceList::UserApp(int n) { return LaunchUserApp(n, current_, start_); }

}  // namespace zimo::corvan::dialogs
