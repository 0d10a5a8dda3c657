#include "registry_tree.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "platform/codepage.h"

namespace zimo::platform::regtree {
namespace {

// True when `text` is well-formed UTF-8: no stray continuation byte, no
// truncated sequence, no overlong form, no surrogate, nothing above U+10FFFF.
bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if ((b & 0xE0) == 0xC0) {
      length = 2, code = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3, code = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4, code = b & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      code = (code << 6) | (c & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kHexBytesPerLine = 24;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = s[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (a != prefix[i]) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text starting at s[0] == '"'; \\ and \" are the escapes.
// On success *rest is what follows the closing quote.
bool ParseQuoted(std::string_view s, std::string* out, std::string_view* rest, std::string* why) {
  out->clear();
  for (size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      *rest = s.substr(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
        out->push_back(s[++i]);
        continue;
      }
      *why = "a backslash in a quoted text must be written \\\\";
      return false;
    }
    out->push_back(c);
  }
  *why = "a quoted text has no closing quote";
  return false;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

bool ParseHexBytes(std::string_view s, std::vector<uint8_t>* out, std::string* why) {
  out->clear();
  s = TrimRight(TrimLeft(s));
  if (s.empty()) return true;
  size_t pos = 0;
  while (true) {
    while (pos < s.size() && IsBlank(s[pos])) ++pos;
    size_t start = pos;
    while (pos < s.size() && HexDigit(s[pos]) >= 0) ++pos;
    size_t len = pos - start;
    if (len == 0 || len > 2) {
      *why = "hex data must be bytes of one or two hex digits separated by commas";
      return false;
    }
    int v = HexDigit(s[start]);
    if (len == 2) v = v * 16 + HexDigit(s[start + 1]);
    out->push_back(static_cast<uint8_t>(v));
    while (pos < s.size() && IsBlank(s[pos])) ++pos;
    if (pos == s.size()) return true;
    if (s[pos] != ',') {
      *why = "hex data must be bytes of one or two hex digits separated by commas";
      return false;
    }
    ++pos;
  }
}

// Whether REG_SZ data can be written as a quoted text and read back the same:
// UTF-16LE with exactly one terminator at the end, no line breaks, no unpaired
// surrogates.
bool IsPlainText(const std::vector<uint8_t>& data) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  size_t n = data.size() / 2;
  std::u16string u;
  u.reserve(n);
  for (size_t i = 0; i < n; ++i)
    u.push_back(static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
  if (u.back() != 0) return false;
  u.pop_back();
  for (size_t i = 0; i < u.size(); ++i) {
    char16_t c = u[i];
    if (c == 0 || c == '\r' || c == '\n') return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= u.size() || u[i + 1] < 0xDC00 || u[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void AppendHex(std::string_view prefix, const std::vector<uint8_t>& data, std::string* out) {
  out->append(prefix);
  size_t column_bytes = 0;
  char buf[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    out->append(buf);
    if (i + 1 < data.size()) {
      out->push_back(',');
      if (++column_bytes == kHexBytesPerLine) {
        out->append("\\\n  ");
        column_bytes = 0;
      }
    }
  }
}

void AppendValue(const RegValue& v, std::string* out) {
  out->append(v.name.empty() ? std::string("@") : Quote(v.name));
  out->push_back('=');
  if (v.type == kRegSz && IsPlainText(v.data)) {
    out->append(Quote(RegSzToUtf8(v.data)));
  } else if (v.type == kRegDword && v.data.size() == 4) {
    uint32_t d =
        v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
    char buf[32];
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    out->append(buf);
  } else if (v.type == kRegBinary) {
    AppendHex("hex:", v.data, out);
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    AppendHex(buf, v.data, out);
  }
  out->push_back('\n');
}

void AppendComments(const std::vector<std::string>& lines, std::string* out) {
  for (const std::string& line : lines) out->append(line).push_back('\n');
}

void AppendKey(const Key& key, const std::string& path, bool is_root, std::string* out) {
  if (!is_root || !key.values.empty() || !key.class_text.empty() || !key.comments.empty()) {
    AppendComments(key.comments, out);
    out->append("[").append(path).append("]\n");
    if (!key.class_text.empty()) out->append(";class=").append(Quote(key.class_text)).append("\n");
    for (const RegValue& v : key.values) {
      auto comments = key.value_comments.find(ToUpperUtf8(v.name));
      if (comments != key.value_comments.end()) AppendComments(comments->second, out);
      AppendValue(v, out);
    }
    out->push_back('\n');
  }
  for (const auto& sub : key.subkeys) AppendKey(*sub, path + "\\" + sub->name, false, out);
}

bool ValidName(std::string_view name) {
  return name.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace

Key* Key::FindSubkey(std::string_view sub) const {
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), sub,
                             [](const std::unique_ptr<Key>& k, std::string_view s) {
                               return CompareNoCase(k->name, s) < 0;
                             });
  if (it != subkeys.end() && CompareNoCase((*it)->name, sub) == 0) return it->get();
  return nullptr;
}

Key* Key::AddSubkey(std::string_view sub, std::string_view class_text, bool* created) {
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), sub,
                             [](const std::unique_ptr<Key>& k, std::string_view s) {
                               return CompareNoCase(k->name, s) < 0;
                             });
  if (it != subkeys.end() && CompareNoCase((*it)->name, sub) == 0) {
    if (created != nullptr) *created = false;
    return it->get();
  }
  auto key = std::make_unique<Key>();
  key->name = std::string(sub);
  key->class_text = std::string(class_text);
  Key* raw = key.get();
  subkeys.insert(it, std::move(key));
  if (created != nullptr) *created = true;
  return raw;
}

bool Key::RemoveSubkey(std::string_view sub) {
  for (auto it = subkeys.begin(); it != subkeys.end(); ++it) {
    if (CompareNoCase((*it)->name, sub) == 0) {
      subkeys.erase(it);
      return true;
    }
  }
  return false;
}

RegValue* Key::FindValue(std::string_view value_name) {
  for (RegValue& v : values) {
    if (CompareNoCase(v.name, value_name) == 0) return &v;
  }
  return nullptr;
}

bool Key::RemoveValue(std::string_view value_name) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (CompareNoCase(it->name, value_name) == 0) {
      value_comments.erase(ToUpperUtf8(it->name));
      values.erase(it);
      return true;
    }
  }
  return false;
}

int32_t SplitPath(std::string_view path, std::vector<std::string>* parts) {
  parts->clear();
  if (path.empty()) return win32::kErrorSuccess;
  if (path.back() == '\\') path.remove_suffix(1);
  if (path.empty() || path.front() == '\\') return win32::kErrorBadPathname;
  size_t start = 0;
  while (true) {
    size_t end = path.find('\\', start);
    std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty()) return win32::kErrorBadPathname;
    if (part.size() > kMaxKeyNameLength * 3 || Utf8ToUtf16(part).size() > kMaxKeyNameLength ||
        !ValidName(part)) {
      return win32::kErrorInvalidParameter;
    }
    parts->emplace_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return win32::kErrorSuccess;
}

Status Parse(std::string_view text, const std::string& file_name, Tree* tree) {
  tree->top = Key{};
  tree->leading.clear();
  tree->trailing.clear();
  std::vector<std::string> comments;  // read, not yet placed
  size_t line_no = 0;
  size_t pos = 0;
  bool seen_header = false;
  Key* current = nullptr;
  std::string why;
  std::unordered_map<const Key*, std::unordered_map<std::string, size_t>> value_index;

  auto fail = [&](size_t line, const std::string& what) {
    char buf[32];
    std::snprintf(buf, sizeof buf, ":%zu: ", line);
    return Status(Code::kBadData, file_name + buf + what);
  };
  auto next_line = [&](std::string_view* line) {
    if (pos >= text.size()) return false;
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    *line = text.substr(pos, end - pos);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    pos = end + 1;
    ++line_no;
    return true;
  };

  std::string_view raw;
  while (next_line(&raw)) {
    // The file is UTF-8 throughout: a byte sequence that is not would be
    // replaced by the next rewrite, so it is a malformation like any other.
    if (!IsUtf8(raw)) return fail(line_no, "the line is not valid UTF-8");
    // A text ends at a NUL: what follows it would be dropped by the rewrite.
    if (raw.find('\0') != std::string_view::npos) {
      return fail(line_no, "the line holds a NUL byte");
    }
    std::string_view line = TrimRight(TrimLeft(raw));
    if (line.empty()) continue;
    if (!seen_header) {
      if (line != "REGEDIT4") return fail(line_no, "the first line must be REGEDIT4");
      seen_header = true;
      continue;
    }
    if (line.front() == ';') {
      if (line.substr(0, 7) == ";class=" && current != nullptr) {
        std::string cls;
        std::string_view rest;
        std::string_view q = line.substr(7);
        if (q.empty() || q.front() != '"' || !ParseQuoted(q, &cls, &rest, &why)) {
          return fail(line_no, "a class line must be ;class=\"text\"");
        }
        current->class_text = cls;
      } else {
        comments.emplace_back(line);
      }
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']') return fail(line_no, "a key line must end with ]");
      std::string_view inner = line.substr(1, line.size() - 2);
      if (!inner.empty() && inner.front() == '-') {
        return fail(line_no, "deleting keys with [-...] is not supported in the registry file");
      }
      size_t slash = inner.find('\\');
      std::string_view root = inner.substr(0, slash);
      std::string_view rest =
          slash == std::string_view::npos ? std::string_view() : inner.substr(slash + 1);
      std::vector<std::string> parts;
      if (EqualsNoCase(root, "HKEY_CLASSES_ROOT")) {
        parts = {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Classes"};
      } else if (EqualsNoCase(root, "HKEY_LOCAL_MACHINE") ||
                 EqualsNoCase(root, "HKEY_CURRENT_USER") || EqualsNoCase(root, "HKEY_USERS")) {
        parts = {ToUpperUtf8(root)};
      } else {
        return fail(line_no, "unknown root key \"" + std::string(root) + "\"");
      }
      std::vector<std::string> sub;
      if (slash != std::string_view::npos && SplitPath(rest, &sub) != win32::kErrorSuccess) {
        return fail(line_no, "bad key path \"" + std::string(inner) + "\"");
      }
      parts.insert(parts.end(), sub.begin(), sub.end());
      const bool first_key = current == nullptr;
      current = &tree->top;
      for (const std::string& p : parts) current = current->AddSubkey(p, "", nullptr);
      std::vector<std::string>& place = first_key ? tree->leading : current->comments;
      place.insert(place.end(), comments.begin(), comments.end());
      comments.clear();
      continue;
    }
    if (line.front() == '"' || line.front() == '@') {
      if (current == nullptr) return fail(line_no, "a value line before the first key line");
      size_t value_line = line_no;
      RegValue value;
      std::string_view rest;
      if (line.front() == '@') {
        rest = line.substr(1);
      } else if (!ParseQuoted(line, &value.name, &rest, &why)) {
        return fail(line_no, why);
      }
      rest = TrimLeft(rest);
      if (rest.empty() || rest.front() != '=')
        return fail(line_no, "a value name must be followed by =");
      rest = TrimLeft(rest.substr(1));
      if (!rest.empty() && rest.front() == '"') {
        std::string text;
        std::string_view after;
        if (!ParseQuoted(rest, &text, &after, &why)) return fail(line_no, why);
        if (!TrimLeft(after).empty()) return fail(line_no, "text after the closing quote");
        value.type = kRegSz;
        value.data = Utf8ToRegSz(text);
      } else if (StartsWithNoCase(rest, "dword:")) {
        std::string_view digits = rest.substr(6);
        if (digits.empty() || digits.size() > 8 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigit(c) >= 0; })) {
          return fail(line_no, "a dword must be 1 to 8 hex digits");
        }
        uint32_t d = 0;
        for (char c : digits) d = d * 16 + static_cast<uint32_t>(HexDigit(c));
        value.type = kRegDword;
        value.data = {static_cast<uint8_t>(d), static_cast<uint8_t>(d >> 8),
                      static_cast<uint8_t>(d >> 16), static_cast<uint8_t>(d >> 24)};
      } else if (StartsWithNoCase(rest, "hex")) {
        std::string_view after = rest.substr(3);
        if (!after.empty() && after.front() == '(') {
          size_t close = after.find(')');
          std::string_view digits =
              close == std::string_view::npos ? std::string_view() : after.substr(1, close - 1);
          if (digits.empty() || digits.size() > 8 ||
              !std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigit(c) >= 0; })) {
            return fail(line_no, "a value type must be written hex(N) with N in hex");
          }
          uint32_t t = 0;
          for (char c : digits) t = t * 16 + static_cast<uint32_t>(HexDigit(c));
          value.type = t;
          after = after.substr(close + 1);
        } else {
          value.type = kRegBinary;
        }
        if (after.empty() || after.front() != ':')
          return fail(line_no, "hex data must follow hex:");
        std::string data(TrimRight(after.substr(1)));
        // A trailing backslash continues the data on the next line.
        while (!data.empty() && data.back() == '\\') {
          data.pop_back();
          std::string_view more;
          if (!next_line(&more))
            return fail(value_line, "hex data continues past the end of the file");
          data += TrimRight(TrimLeft(more));
        }
        if (!ParseHexBytes(data, &value.data, &why)) return fail(value_line, why);
      } else if (rest == "-") {
        return fail(line_no, "deleting values with =- is not supported in the registry file");
      } else {
        return fail(line_no, "unknown value data (expected \"text\", dword:, hex: or hex(N):)");
      }
      // A name given twice keeps its first place and its last data. The index
      // keeps big files from parsing in quadratic time.
      if (!comments.empty()) {
        std::vector<std::string>& place = current->value_comments[ToUpperUtf8(value.name)];
        place.insert(place.end(), comments.begin(), comments.end());
        comments.clear();
      }
      auto& names = value_index[current];
      auto [it, fresh] = names.emplace(ToUpperUtf8(value.name), current->values.size());
      if (fresh) {
        current->values.push_back(std::move(value));
      } else {
        current->values[it->second].type = value.type;
        current->values[it->second].data = std::move(value.data);
      }
      continue;
    }
    return fail(line_no, "expected [key], \"name\"=value, @=value or a ; comment");
  }
  tree->trailing = std::move(comments);
  return Status::Ok();
}

std::string Serialize(const Tree& tree) {
  std::string out = "REGEDIT4\n\n";
  if (!tree.leading.empty()) {
    AppendComments(tree.leading, &out);
    out.push_back('\n');
  }
  for (const auto& root : tree.top.subkeys) AppendKey(*root, root->name, true, &out);
  AppendComments(tree.trailing, &out);
  return out;
}

std::vector<uint8_t> Utf8ToRegSz(std::string_view text) {
  std::u16string u = Utf8ToUtf16(text);
  std::vector<uint8_t> out;
  out.reserve(u.size() * 2 + 2);
  for (char16_t c : u) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::string RegSzToUtf8(const std::vector<uint8_t>& data) {
  std::u16string u;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    u.push_back(c);
  }
  return Utf16ToUtf8(u);
}

std::vector<uint8_t> Utf8ToRegMultiSz(const std::vector<std::string>& texts) {
  std::vector<uint8_t> out;
  for (const std::string& t : texts) {
    std::vector<uint8_t> one = Utf8ToRegSz(t);
    out.insert(out.end(), one.begin(), one.end());
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::vector<std::string> RegMultiSzToUtf8(const std::vector<uint8_t>& data) {
  std::vector<std::string> out;
  std::u16string cur;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c != 0) {
      cur.push_back(c);
      continue;
    }
    if (cur.empty()) break;  // the empty string ends the list
    out.push_back(Utf16ToUtf8(cur));
    cur.clear();
  }
  if (!cur.empty()) out.push_back(Utf16ToUtf8(cur));
  return out;
}

}  // namespace zimo::platform::regtree
