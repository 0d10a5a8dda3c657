// Helpers behind the exported Drv registry functions (corvan/registry_api.h)
// that the library itself uses.
#pragma once

#include <cstdint>
#include <string>

#include "link/device_registry.h"

namespace zimo::corvan {

// "Device%d\Nc%d\<section>" or "Device%d\Nc%d" (no section); empty for a
// device number outside 0 to 7.
std::string NcKeyPath(std::uint32_t device, std::uint32_t nc, const char* section);

// Lists the value names of one NC key, one per call.
class NcValueNames {
 public:
  // Longest name handed out (characters).
  static constexpr std::uint32_t kMaxName = 127;

  NcValueNames() = default;
  ~NcValueNames() = default;
  NcValueNames(const NcValueNames&) = delete;
  NcValueNames& operator=(const NcValueNames&) = delete;

  // With a section (not null), starts over on "Device%d\Nc%d\<section>"
  // (dropping a listing in progress); without one, continues the current
  // listing. Stores the next value name in *name and returns 1; at the end
  // closes the key and returns 0 (also when nothing is being listed or the
  // key does not exist). A name longer than kMaxName is skipped.
  int Next(std::uint32_t device, std::uint32_t nc, const char* section, std::string* name);
  // Drops an unfinished listing.
  void Close();

 private:
  RegKey key_;
  std::uint32_t index_ = 0;
};

}  // namespace zimo::corvan
