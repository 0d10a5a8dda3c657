// The NC settings of one controller in the machine registry: the key
// "SYSTEM\CurrentControlSet\Services\ZIMO\Device<d>\Nc<c>" with one subkey
// per section, created when missing (class "Motion Drivers"). Reads never
// fail toward the caller: a missing key or value, or one of another type,
// gives the default. Doubles are stored as text "%lf" and read in the C
// locale whatever the process's locale is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace zimo::nc {

inline constexpr std::string_view kNcKeyClass = "Motion Drivers";

class NcSettings {
 public:
  // server_file: the server's own program path (Windows or host form), whose
  // drive and directory complete relative paths; empty: the running program.
  NcSettings(int device, int control, std::string server_file = {});
  ~NcSettings();
  NcSettings(const NcSettings&) = delete;
  NcSettings& operator=(const NcSettings&) = delete;

  // The key path of a section below HKEY_LOCAL_MACHINE ("" or null: the
  // controller's own key).
  std::string KeyPath(std::string_view section) const;

  // Each returns 0 when the stored value was used, else an error number
  // (2 for a missing key or value, or a value of another type); *out always
  // receives a value.
  int GetLong(std::string_view section, std::string_view name, uint32_t* out,
              uint32_t default_value) const;
  int GetBool(std::string_view section, std::string_view name, bool* out,
              bool default_value) const;
  // A stored text that does not fit `size` (with its terminator) gives the
  // default and the registry's "more data" number.
  int GetText(std::string_view section, std::string_view name, std::string* out,
              std::size_t size, std::string_view default_value) const;
  int GetDouble(std::string_view section, std::string_view name, double* out,
                double default_value) const;
  // As GetText; then a missing drive or directory comes from the server's
  // own file.
  int GetPath(std::string_view section, std::string_view name, std::string* out,
              std::size_t size, std::string_view default_value) const;

  int SetLong(std::string_view section, std::string_view name, uint32_t value);
  // 87 and nothing written for an empty text.
  int SetText(std::string_view section, std::string_view name, std::string_view text);
  int SetDouble(std::string_view section, std::string_view name, double value);

  // With a section: starts enumerating its value names (ending any earlier
  // enumeration of this store); without: continues. Gives the next name and
  // true; false and the enumeration ended after the last.
  bool EnumValueNames(const char* section, std::string* name);

  // "%lf" of a value, whatever the locale.
  static std::string FormatDouble(double value);
  // The C conversion of a text: leading blanks, sign, digits, point,
  // fraction, exponent; false when no number starts the text.
  static bool ParseDouble(std::string_view text, double* value);

 private:
  int OpenSection(std::string_view section, platform::HKey* key) const;

  int device_;
  int control_;
  std::string server_file_;
  platform::HKey enum_key_ = 0;
  uint32_t enum_index_ = 0;
};

}  // namespace zimo::nc
