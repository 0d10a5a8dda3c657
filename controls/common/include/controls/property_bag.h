// What a container keeps of a control between sessions: named values, saved
// as a text file of "name=value" lines, and the exchange through which a
// control loads its properties from it (with defaults for what is missing)
// or saves them into it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace zimo::controls {

class PropertyBag {
 public:
  // Names compare without regard to case, as containers treat them.
  std::optional<std::string> Read(std::string_view name) const;
  void Write(std::string_view name, std::string_view value);
  bool empty() const { return values_.empty(); }
  size_t size() const { return values_.size(); }

  // Lines "name=value"; blank lines and lines starting with ';' are skipped.
  // A line without '=' is refused with its number, and nothing is kept.
  static platform::Result<PropertyBag> LoadFile(const std::filesystem::path& path);
  platform::Status SaveFile(const std::filesystem::path& path) const;

 private:
  struct Less {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  std::map<std::string, std::string, Less> values_;
};

// One load or save pass over a control's persisted properties. Loading from
// no bag (a new control) gives every property its default.
class PropExchange {
 public:
  PropExchange(PropertyBag* bag, bool loading) : bag_(bag), loading_(loading) {}
  bool loading() const { return loading_; }

  // The version of the stored layout; loading keeps what was stored.
  void Version(uint32_t* version, uint32_t current);
  // Integers and booleans are decimal text; a stored text that is not a
  // number gives the default.
  void Long(std::string_view name, int32_t* value, int32_t default_value);
  void Bool(std::string_view name, int32_t* value, int32_t default_value);
  void Text(std::string_view name, std::string* value, std::string_view default_value);

 private:
  PropertyBag* bag_;
  bool loading_;
};

}  // namespace zimo::controls
