#include "controls/property_bag.h"

#include <strings.h>
#include <charconv>
#include <fstream>
#include <sstream>

namespace zimo::controls {

bool PropertyBag::Less::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

std::optional<std::string> PropertyBag::Read(std::string_view name) const {
  auto it = values_.find(std::string(name));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void PropertyBag::Write(std::string_view name, std::string_view value) {
  values_[std::string(name)] = std::string(value);
}

platform::Result<PropertyBag> PropertyBag::LoadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return platform::Status(platform::Code::kNotFound,
                            "property bag " + path.string() + ": cannot open");
  }
  PropertyBag bag;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) {
      return platform::Status(
          platform::Code::kBadData,
          path.string() + ":" + std::to_string(number) + ": not a name=value line");
    }
    bag.Write(line.substr(0, eq), line.substr(eq + 1));
  }
  return bag;
}

platform::Status PropertyBag::SaveFile(const std::filesystem::path& path) const {
  std::ostringstream out;
  for (const auto& [name, value] : values_) out << name << '=' << value << '\n';
  std::filesystem::path tmp = path;
  tmp += ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << out.str();
    if (!f.flush()) {
      return platform::Status(platform::Code::kOsError,
                              "property bag " + path.string() + ": cannot write");
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    return platform::Status(platform::Code::kOsError,
                            "property bag " + path.string() + ": " + ec.message());
  }
  return platform::Status::Ok();
}

namespace {
bool ParseLong(const std::string& text, int32_t* out) {
  const char* b = text.data();
  const char* e = b + text.size();
  while (b < e && *b == ' ') ++b;
  auto [p, ec] = std::from_chars(b, e, *out);
  return ec == std::errc() && p == e;
}
}  // namespace

void PropExchange::Version(uint32_t* version, uint32_t current) {
  if (!loading_) {
    if (bag_ != nullptr) bag_->Write("_Version", std::to_string(current));
    *version = current;
    return;
  }
  int32_t v = static_cast<int32_t>(current);
  Long("_Version", &v, static_cast<int32_t>(current));
  *version = static_cast<uint32_t>(v);
}

void PropExchange::Long(std::string_view name, int32_t* value, int32_t default_value) {
  if (!loading_) {
    if (bag_ != nullptr) bag_->Write(name, std::to_string(*value));
    return;
  }
  std::optional<std::string> text = bag_ != nullptr ? bag_->Read(name) : std::nullopt;
  int32_t parsed = 0;
  *value = text && ParseLong(*text, &parsed) ? parsed : default_value;
}

void PropExchange::Bool(std::string_view name, int32_t* value, int32_t default_value) {
  Long(name, value, default_value);
}

void PropExchange::Text(std::string_view name, std::string* value, std::string_view default_value) {
  if (!loading_) {
    if (bag_ != nullptr) bag_->Write(name, *value);
    return;
  }
  std::optional<std::string> text = bag_ != nullptr ? bag_->Read(name) : std::nullopt;
  *value = text ? *text : std::string(default_value);
}

}  // namespace zimo::controls
