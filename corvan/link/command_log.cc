#include "link/command_log.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "link/library_app.h"
#include "platform/debug.h"

namespace zimo::corvan {
namespace {

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

// The text up to its first control character (the terminator counts as
// one), at most `max` characters.
std::size_t EntryLength(const char* text, std::size_t max) {
  std::size_t n = 0;
  while (n < max && text[n] != '\0' && !IsControl(text[n])) ++n;
  return n;
}

const char* LogFileName(const DeviceUserHandle& user) {
  return user.CommandLogName[0] != '\0' ? user.CommandLogName : kDefaultCommandLogName;
}

// The path each device's log file was opened under, made absolute then:
// the size test must look at the open file even after the process has
// changed its working directory.
std::filesystem::path& OpenedLogPath(int device) {
  static std::array<std::filesystem::path, kRealDevices> paths;
  return paths[static_cast<std::size_t>(device)];
}

// Writes the prefix, the text up to its first control character and the
// line end (the file is written in text mode: CR LF).
bool WriteEntry(DeviceUserHandle& user, const char* prefix, const char* text,
                std::size_t max_text) {
  std::string entry(prefix);
  entry.append(text, EntryLength(text, max_text));
  entry.push_back('\n');
  return user.CommandLogFile.Write(entry).ok() && user.CommandLogFile.Flush().ok();
}

}  // namespace

int LogCommandEntry(int device, const char* text, bool is_command) {
  DeviceUserHandle* user = IsRealDevice(device) ? App().User(device) : nullptr;
  if (user == nullptr || user->CommandLogging == 0) return 0;
  if (text == nullptr || text[0] == '\0') return 0;
  // A file that is not open counts as full.
  if (!user->CommandLogFile.is_open()) return 0;
  std::error_code ec;
  const auto size = std::filesystem::file_size(OpenedLogPath(device), ec);
  if (ec || size >= kCommandLogLimit) return 0;
  const bool ok = is_command ? WriteEntry(*user, "", text, kCommandEntryMaxText)
                             : WriteEntry(*user, ";", text, kReplyEntryMaxText);
  return ok ? 1 : 0;
}

int WriteCommandLogAlways(int device, const char* text) {
  DeviceUserHandle* user = IsRealDevice(device) ? App().User(device) : nullptr;
  if (user == nullptr) return 0;
  if (user->CommandLogFile.is_open()) {
    WriteEntry(*user, "", text != nullptr ? text : "", kCommandEntryMaxText);
  }
  return 1;
}

int SetCommandLogging(int device, bool on, const char* name) {
  DeviceUserHandle* user = IsRealDevice(device) ? App().User(device) : nullptr;
  if (user == nullptr) return 0;
  if (name != nullptr && name[0] != '\0') {
    const std::size_t length = std::strlen(name);
    if (length >= kCommandLogNameSize) {
      platform::DebugPrintf("Command log name of %zu characters refused\n", length);
      return 0;
    }
    std::memcpy(user->CommandLogName, name, length + 1);
  }
  (void)user->CommandLogFile.Close();
  user->CommandLogFile = platform::TextFileWriter();
  if (on) {
    user->CommandLogging = 1;
    auto opened = platform::TextFileWriter::Open(LogFileName(*user),
                                                 platform::TextFileWriter::Mode::kTruncate);
    if (opened.ok()) {
      user->CommandLogFile = std::move(opened.value());
      std::error_code ec;
      OpenedLogPath(device) = std::filesystem::absolute(LogFileName(*user), ec);
    } else {
      platform::DebugPrintf("Command log: %s\n", opened.status().ToString().c_str());
    }
  } else {
    user->CommandLogging = 0;
  }
  return 1;
}

void CloseCommandLog(int device) {
  DeviceUserHandle* user = IsRealDevice(device) ? App().User(device) : nullptr;
  if (user == nullptr) return;
  (void)user->CommandLogFile.Close();
  user->CommandLogFile = platform::TextFileWriter();
  user->CommandLogging = 0;
}

}  // namespace zimo::corvan
