// The registry in memory, and its REGEDIT4 text form. Internal to the
// platform library.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/status.h"

namespace zimo::platform::regtree {

struct Key {
  std::string name;                           // UTF-8, the case it was created with
  std::string class_text;                     // UTF-8
  std::vector<RegValue> values;               // in the order first set
  std::vector<std::unique_ptr<Key>> subkeys;  // sorted by CompareNoCase of name
  // Hand-written "; ..." lines, kept so that a rewrite does not lose them:
  // those above the key's [line], and those above a value's line (by the
  // value's upper-case name; they go when the value goes).
  std::vector<std::string> comments;
  std::map<std::string, std::vector<std::string>> value_comments;

  Key* FindSubkey(std::string_view sub) const;
  // The existing subkey, or a new one (with class_text) in sorted place.
  Key* AddSubkey(std::string_view sub, std::string_view class_text, bool* created);
  bool RemoveSubkey(std::string_view sub);
  RegValue* FindValue(std::string_view value_name);
  bool RemoveValue(std::string_view value_name);
};

// The top node's subkeys are the roots: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
// HKEY_USERS (HKEY_CLASSES_ROOT is stored under HKLM\SOFTWARE\Classes).
struct Tree {
  Key top;
  std::vector<std::string> leading;   // comments above the first key
  std::vector<std::string> trailing;  // comments below the last value
};

// Splits "a\b\c" into components. Leading or doubled backslashes give
// kBadPathname, a component longer than 255 characters or one with a line
// break kInvalidParameter; a trailing backslash is ignored.
int32_t SplitPath(std::string_view path, std::vector<std::string>* parts);

// Parses a whole file; errors name `file_name` and the line.
Status Parse(std::string_view text, const std::string& file_name, Tree* tree);
std::string Serialize(const Tree& tree);

// UTF-16LE bytes (with one terminator) of a UTF-8 text, and back (stops at the
// first NUL; an odd last byte is ignored).
std::vector<uint8_t> Utf8ToRegSz(std::string_view text);
std::string RegSzToUtf8(const std::vector<uint8_t>& data);
// REG_MULTI_SZ data: each text and its NUL, then a final NUL.
std::vector<uint8_t> Utf8ToRegMultiSz(const std::vector<std::string>& texts);
std::vector<std::string> RegMultiSzToUtf8(const std::vector<uint8_t>& data);

}  // namespace zimo::platform::regtree
