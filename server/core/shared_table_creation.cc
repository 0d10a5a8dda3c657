#include "core/shared_table_creation.h"

#include <string>

#include "corvan/internal/shared_table.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"

namespace zimo::server {
namespace {

constexpr char kDriverRoot[] = "SYSTEM\\CurrentControlSet\\Services\\ZIMO";

// A device's registry value; `fallback` when the key or value is missing.
// Reading creates nothing: a device nobody configured must stay absent.
uint32_t DeviceValue(int device, const char* name, uint32_t fallback) {
  std::string path = std::string(kDriverRoot) + "\\Device" + std::to_string(device);
  auto key = platform::RegistryKey::Open(platform::kHkeyLocalMachine, path, platform::kKeyRead);
  if (!key.ok()) return fallback;
  auto v = key->GetDword(name);
  return v.ok() ? *v : fallback;
}

// Whether some live process has the device open. Every open keeps the
// device's command lock open until its close, whatever the transport, and
// the lock's name is free again once no live process holds it; the shared
// transport counts are kept by the serial and Ethernet transports only.
bool DeviceOpenElsewhere(int device) {
  const std::string name = "MutexZimo" + std::to_string(device);
  return platform::NamedMutex::Open(name).ok();
}

}  // namespace

platform::Result<platform::FileMapping> CreateSharedDeviceTable(
    ServerCardState (&cards)[kServerCards]) {
  for (ServerCardState& c : cards) c.Reset();

  auto mapping = platform::FileMapping::Create(corvan::kSharedTableName, corvan::kSharedTableSize);
  if (!mapping.ok()) return mapping.status();
  corvan::SharedDeviceTable* table = corvan::SharedTableAt(mapping->data());
  if (table == nullptr || mapping->size() < corvan::kSharedTableSize) {
    return platform::Status(platform::Code::kInvalidArgument,
                            "the shared device table's view is not usable");
  }

  const bool taken_over = mapping->already_existed();
  const uint32_t users = table->UserCount;
  // The resource module's handle would mean nothing to another process.
  corvan::InitializeTableHeader(*table, 0);
  if (taken_over) table->UserCount = users;

  for (int d = 0; d < kServerCards; ++d) {
    if (taken_over && DeviceOpenElsewhere(d)) continue;  // a live client still uses it
    const uint32_t location = DeviceValue(d, "Location", corvan::kLocationUnknown);
    const uint32_t enumeration = DeviceValue(d, "Enumeration", 0xFFFFFFFFu);
    platform::Status s = corvan::InitializeDeviceSlot(*table, d, location, enumeration);
    if (!s.ok()) return s;
  }
  return mapping;
}

void WriteServerIdentity(platform::FileMapping& mapping, uint32_t process_id) {
  if (corvan::SharedDeviceTable* table = corvan::SharedTableAt(mapping.data())) {
    corvan::WriteServerIdentity(*table, 0, process_id);
  }
}

}  // namespace zimo::server
