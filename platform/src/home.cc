#include "platform/home.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace zimo::platform {
namespace {

std::filesystem::path Ensure(std::filesystem::path p) {
  std::error_code ec;
  std::filesystem::create_directories(p, ec);
  return p;
}

}  // namespace

std::filesystem::path ZimoHome() {
  if (const char* home = std::getenv("ZIMO_HOME"); home != nullptr && *home != '\0') {
    return Ensure(home);
  }
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state != '\0') {
    return Ensure(std::filesystem::path(state) / "zimo");
  }
  const char* user_home = std::getenv("HOME");
  return Ensure(std::filesystem::path(user_home != nullptr ? user_home : "/tmp") / ".local" /
                "state" / "zimo");
}

std::filesystem::path RegistryFile() { return ZimoHome() / "registry.reg"; }
std::filesystem::path WindowsDir() { return Ensure(ZimoHome() / "windows"); }
std::filesystem::path SystemDir() { return Ensure(ZimoHome() / "windows" / "system"); }
std::filesystem::path RunDir() { return Ensure(ZimoHome() / "run"); }

std::string HomeHash() {
  std::error_code ec;
  std::filesystem::path home = ZimoHome();
  std::filesystem::path canon = std::filesystem::weakly_canonical(home, ec);
  std::string text = (ec ? home : canon).string();
  uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : text) {
    h ^= c;
    h *= 16777619u;
  }
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08x", h);
  return buf;
}

std::string ObjectName(std::string_view kind, std::string_view name) {
  std::string out = "/zimo-" + HomeHash() + "-";
  out += kind;
  out += '-';
  for (char c : name) out += (c == '/' || c == '\\') ? '_' : c;
  // NAME_MAX for shm_open is 255 including the leading slash.
  if (out.size() > 250) out.resize(250);
  return out;
}

}  // namespace zimo::platform
