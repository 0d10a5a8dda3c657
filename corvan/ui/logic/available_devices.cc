#include "logic/available_devices.h"

#include <cctype>
#include <cstdio>

#include "corvan/internal/shared_table.h"
#include "link/device_registry.h"
#include "link/location_settings.h"
#include "logic/dialog_messages.h"
#include "platform/registry.h"

namespace zimo::corvan::dialogs {
namespace {

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

bool Registered(std::uint32_t location, std::uint64_t enumeration) {
  if (enumeration > 0xFFFFFFFFu) return false;
  return FindDeviceByLocation(location, static_cast<std::uint32_t>(enumeration), nullptr) != 0;
}

std::string UnitLine(const char* kind, int unit) {
  char line[32];
  std::snprintf(line, sizeof line, "Zimo %s%d", kind, unit);
  return line;
}

std::string IpText(std::uint32_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF);
  return text;
}

// The port names the system records, in the order of its values.
std::vector<std::string> SerialPortNames() {
  std::vector<std::string> names;
  auto key = platform::RegistryKey::Open(platform::kHkeyLocalMachine, kSerialCommKey);
  if (!key.ok()) return names;
  auto values = key->Values();
  if (!values.ok()) return names;
  for (const platform::RegValue& value : *values) {
    auto text = key->GetString(value.name);
    if (text.ok()) names.push_back(*text);
  }
  return names;
}

}  // namespace

LineChoice ParseSelectionLine(std::string_view line) {
  LineChoice choice;
  size_t at = 0;
  while (at < line.size() && !std::isdigit(static_cast<unsigned char>(line[at]))) ++at;
  if (at == line.size()) return choice;
  choice.has_number = true;
  while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at]))) {
    // Past any Enumeration the exact size no longer matters; stop growing.
    if (choice.number < 0xFFFFFFFFFFull) choice.number = choice.number * 10 + (line[at] - '0');
    ++at;
  }
  struct Kind {
    const char* text;
    std::uint32_t location;
  };
  static constexpr Kind kKinds[] = {{"USB", kLocationUsb},
                                    {"PCI", kLocationPci},
                                    {"ISA", kLocationIsa},
                                    {"COM", kLocationSerial},
                                    {"ETH", kLocationEthernet}};
  for (const Kind& kind : kKinds) {
    if (line.find(kind.text) != std::string_view::npos) {
      choice.location = kind.location;
      break;
    }
  }
  return choice;
}

void AvailableDevices::Fill() {
  const int remembered = lines_.empty() ? -1 : selection_;
  lines_.clear();

  struct DriverKind {
    const char* path_kind;
    const char* line_kind;
    std::uint32_t location;
  };
  static constexpr DriverKind kPlugAndPlay[] = {{"USB", "USB", kLocationUsb},
                                                {"PCI", "PCI", kLocationPci}};
  for (const DriverKind& kind : kPlugAndPlay) {
    for (int unit = 0; unit < static_cast<int>(kEnumerationsPerLocation); ++unit) {
      if (!probe_.DeviceOpens(DriverDevicePath(kind.path_kind, unit))) continue;
      if (!Registered(kind.location, unit)) lines_.push_back(UnitLine(kind.line_kind, unit));
    }
  }

  for (int unit = 0; unit < static_cast<int>(kEnumerationsPerLocation); ++unit) {
    const IsaProbe isa = probe_.ProbeIsa(unit);
    if (!isa.present || Registered(kLocationIsa, unit)) continue;
    std::string line = UnitLine("ISA", unit);
    if (isa.resources) line += ", " + FormatIsaResources(*isa.resources);
    lines_.push_back(line);
  }

  for (const std::string& port : SerialPortNames()) {
    const LineChoice named = ParseSelectionLine(port);
    if (!Registered(kLocationSerial, named.number)) lines_.push_back(port);
  }

  for (int unit = 0; unit < static_cast<int>(kEnumerationsPerLocation); ++unit) {
    if (LocationKeyExists(kLocationEthernet, unit) == 0 || Registered(kLocationEthernet, unit)) {
      continue;
    }
    std::uint32_t address = kDefaultIpAddress;
    GetLocationRegDword(kLocationEthernet, unit, "IPAddress", &address, kDefaultIpAddress);
    lines_.push_back(UnitLine("ETH", unit) + ", IP " + IpText(address));
  }

  if (lines_.empty()) {
    selection_ = -1;
  } else if (remembered >= 0 && remembered < static_cast<int>(lines_.size())) {
    selection_ = remembered;
  } else {
    selection_ = 0;
  }
}

void AvailableDevices::Select(int index) {
  selection_ = index >= 0 && index < static_cast<int>(lines_.size()) ? index : -1;
}

bool AvailableDevices::TakeChoice(bool* has_number) {
  choice_ = DeviceChoice{};
  *has_number = false;
  if (selection_ < 0) return true;
  const std::string& line = lines_[selection_];
  const LineChoice parsed = ParseSelectionLine(line);
  *has_number = parsed.has_number;
  if (!parsed.has_number) return true;
  if (parsed.number >= kEnumerationsPerLocation) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "\"%s\" cannot be registered as a ZIMO device: its number must be 0 to %u.",
                  line.c_str(), kEnumerationsPerLocation - 1);
    ShowMessage(text, platform::kMbOk | platform::kMbIconExclamation);
    return false;
  }
  choice_.location = parsed.location;
  choice_.enumeration = static_cast<std::uint32_t>(parsed.number);
  return true;
}

AvailableDevices::Outcome AvailableDevices::Ok() {
  bool has_number = false;
  return TakeChoice(&has_number) ? Outcome::kEndOk : Outcome::kStay;
}

AvailableDevices::Outcome AvailableDevices::DoubleClick() {
  bool has_number = false;
  if (!TakeChoice(&has_number)) return Outcome::kStay;
  return has_number ? Outcome::kEndOk : Outcome::kStay;
}

AvailableDevices::Outcome AvailableDevices::New() {
  const std::optional<int> index = ui_.SelectCommType();
  if (!index) return Outcome::kStay;
  choice_.location = static_cast<std::uint32_t>(*index + 2);
  return Outcome::kEndOk;
}

}  // namespace zimo::corvan::dialogs
