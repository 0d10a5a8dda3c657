// The transport and DPR settings of one location instance, between its
// per-location registry key ("Zimo%s%d") and the in-memory DeviceConfigBlock
// (one per device in the shared table; the handle opener fills a private one).
//
// Each settings field is the REG_DWORD value of the same name. Which fields a
// block reads and writes depends on its Location:
//   serial (2):         SerialPortNumber, SerialBaudrate, SerialParity,
//                       SerCharTimeout, SerFlushTimeout
//   Ethernet (3):       IPAddress, then the common set
//   ISA, PCI, USB (1, 4, 5): the common set: BUSCharTimeout, BUSFlushTimeout,
//                       DualPortRamRot1..8, DualPortRamVar, DPRBackTimeout,
//                       DPRRTTimeout, DPRCharTimeout, DPRFlushTimeout,
//                       DPRAutoActive, DPRRealTimeActive, DPRBackgroundActive,
//                       DPRRealTimePeriod, DPRBackgroundPeriod, EnableInterrupts
// Fields outside the Location's set keep what the block held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "corvan/internal/shared_table.h"

namespace zimo::corvan {

// The card address an Ethernet location gets when its key has no
// "IPAddress": 192.168.0.200 (first octet in the most significant byte).
inline constexpr std::uint32_t kDefaultIpAddress = 0xC0A800C8;

// One settings value: its registry name, its byte offset in the
// DeviceConfigBlock and the default a reader uses when it is missing.
struct LocationSetting {
  const char* name;
  std::size_t offset;
  std::uint32_t default_value;
};

// The values a Location reads and writes, in the order they are read. Empty
// for Locations without settings (0, 6 and above).
std::span<const LocationSetting> SettingsOfLocation(std::uint32_t location);

// Fills the block from the per-location key (each read creates the key when
// it is missing; a missing value gives its default). A Location outside 1 to
// 5 or an Enumeration outside 0 to 7 reads nothing and leaves the block as it
// was.
void ReadLocationSettings(std::uint32_t location, std::uint32_t enumeration,
                          DeviceConfigBlock& block);

// Writes the block's fields of the Location's set into the per-location key
// (creating it). 1 when every value was written, also for a Location or
// Enumeration that has no settings (nothing to write); 0 when a write failed.
int WriteLocationSettings(std::uint32_t location, std::uint32_t enumeration,
                          DeviceConfigBlock block);

// The documented range of each timing setting (milliseconds; see
// docs/configuration.md, "Ranges"): a value outside it fails the device's
// open, naming the key, rather than a wait of weeks.
struct SettingRange {
  const char* name;
  std::uint32_t least;
  std::uint32_t most;
};
std::span<const SettingRange> TimingSettingRanges();

// Whether every timing setting the Location reads for `enumeration` lies in
// its range; on false *bad_key names the first that does not (a missing
// value counts as its default, which is in range).
bool CheckLocationSettings(std::uint32_t location, std::uint32_t enumeration,
                           const char** bad_key);

// Loads the settings of device 0..7 into `block`. With a non-null `table`
// the Location/Enumeration pair is taken from the device's shared block (and
// Location is copied into `block`); otherwise from the device key, default
// 0. The rest comes from ReadLocationSettings. Out-of-range devices are
// ignored.
void LoadDeviceSettings(int device, DeviceConfigBlock& block, const SharedDeviceTable* table);

// Saves `block` under the location key named by the device key's Location
// and Enumeration (both default 0). Returns what WriteLocationSettings
// returns, or 0 if device is not 0..7.
int WriteDeviceSettings(int device, DeviceConfigBlock block);

}  // namespace zimo::corvan
