#include "link/variables.h"

#include <cctype>
#include <charconv>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "corvan/command_api.h"
#include "corvan/variables_api.h"
#include "link/ascii_channel.h"
#include "link/library_app.h"
#include "platform/codepage.h"

namespace zimo::corvan {

namespace {

class CommandApiPath final : public CardCommandPath {
 public:
  std::uint32_t GetResponseEx(int device, char* buffer, std::uint32_t size,
                              const char* command) override {
    return ExchangeResponse(device, buffer, size, command);
  }
  std::uint32_t GetLine(int device, char* buffer, std::uint32_t size) override {
    return ZimoGetLineA(static_cast<std::uint32_t>(device), buffer, size);
  }
  void SendCommand(int device, const char* command) override {
    ZimoSendCommandA(static_cast<std::uint32_t>(device), command);
  }
  void ChangeStore(int device, const char* text) override {
    App().rings().ChangeStore(static_cast<std::uint32_t>(device), text);
  }
  void Lock(int device) override { LockZimo(static_cast<std::uint32_t>(device)); }
  void Unlock(int device) override { ReleaseZimo(static_cast<std::uint32_t>(device)); }
};

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Copies the first line of `text` that holds anything (line ends before it
// skipped), without its line end, at most kVariableTextSize - 1 characters.
void CopyValueLine(const char* text, char* out) {
  while (IsLineEnd(*text)) ++text;
  std::size_t n = 0;
  while (n + 1 < kVariableTextSize && text[n] != '\0' && !IsLineEnd(text[n])) {
    out[n] = text[n];
    ++n;
  }
  out[n] = '\0';
}

// The value of the hexadecimal digits after '$' (at most 64 bits: longer
// numbers are held at the largest).
std::uint64_t HexValue(const char* digits) { return std::strtoull(digits, nullptr, 16); }

void SendAssignment(CardCommandPath& path, int device, const char* text, bool echo) {
  path.SendCommand(device, text);
  if (echo) path.ChangeStore(device, text);
}

}  // namespace

CardCommandPath& LibraryCommandPath() {
  static CommandApiPath path;
  return path;
}

int QueryVariableText(CardCommandPath& path, int device, char letter, std::uint32_t number,
                      char* out) {
  char query[32];
  std::snprintf(query, sizeof query, "%c%u", letter, number);
  char reply[kVariableTextSize] = {};
  bool replied = false;
  for (int attempt = 0; attempt < kVariableQueryTries && !replied; ++attempt) {
    reply[0] = '\0';
    const std::uint32_t word = path.GetResponseEx(device, reply, sizeof reply, query);
    const std::uint32_t status = word & kStatusMask;
    if (status == kStatusCardError) return 0;
    // A try that timed out or failed brought no usable answer, even when some
    // characters came before it broke off.
    if (status == kStatusTimeout || status == kStatusBadAck || status == kStatusFailure) continue;
    replied = (word & kCountMask) >= 1 && reply[0] != '\0';
  }
  if (!replied) return 0;
  reply[sizeof reply - 1] = '\0';
  const char* value = std::strchr(reply, '=');
  if (value != nullptr) {
    ++value;
  } else {
    if (std::strstr(reply, "ERR") != nullptr) return 0;
    value = reply;
  }
  CopyValueLine(value, out);
  return 1;
}

std::int32_t VariableTextToLong(const char* text) {
  if (text == nullptr) return 0;
  if (text[0] == '$') {
    const std::uint64_t value = HexValue(text + 1);
    const std::uint32_t bits = value > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(value);
    return static_cast<std::int32_t>(bits);
  }
  const long long value = std::strtoll(text, nullptr, 0);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

double VariableTextToDouble(const char* text) {
  if (text == nullptr) return 0.0;
  if (text[0] == '$') return static_cast<double>(HexValue(text + 1));
  // The card writes '.', so the number is read without the locale.
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  if (*text == '+') ++text;
  const std::string_view digits(text);
  double value = 0.0;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return result.ec == std::errc() ? value : 0.0;
}

std::int16_t GetVariable16(CardCommandPath& path, int device, char letter, std::uint32_t number,
                           std::int16_t default_value) {
  char text[kVariableTextSize];
  if (!QueryVariableText(path, device, letter, number, text)) return default_value;
  return static_cast<std::int16_t>(VariableTextToLong(text));
}

std::int32_t GetVariable32(CardCommandPath& path, int device, char letter, std::uint32_t number,
                           std::int32_t default_value) {
  char text[kVariableTextSize];
  if (!QueryVariableText(path, device, letter, number, text)) return default_value;
  return VariableTextToLong(text);
}

double GetVariableDouble(CardCommandPath& path, int device, char letter, std::uint32_t number,
                         double default_value) {
  char text[kVariableTextSize];
  if (!QueryVariableText(path, device, letter, number, text)) return default_value;
  return VariableTextToDouble(text);
}

void SetVariable16(CardCommandPath& path, int device, char letter, std::uint32_t number,
                   std::int16_t value, bool echo) {
  char text[48];
  std::snprintf(text, sizeof text, "%c%u=%d", letter, number, value);
  SendAssignment(path, device, text, echo);
}

void SetVariable32(CardCommandPath& path, int device, char letter, std::uint32_t number,
                   std::int32_t value, bool echo) {
  char text[48];
  std::snprintf(text, sizeof text, "%c%u=%" PRId32, letter, number, value);
  SendAssignment(path, device, text, echo);
}

void SetVariableDouble(CardCommandPath& path, int device, char letter, std::uint32_t number,
                       double value, bool echo) {
  // Six decimals as "%lf" gives them, but always with '.': the card reads no
  // other decimal sign. The largest double takes 316 characters this way.
  char text[400];
  const int head = std::snprintf(text, sizeof text, "%c%u=", letter, number);
  char* end = text + sizeof text - 1;
  const auto result = std::to_chars(text + head, end, value, std::chars_format::fixed, 6);
  *(result.ec == std::errc() ? result.ptr : text + head) = '\0';
  SendAssignment(path, device, text, echo);
}

int ZimoGetIVariableStrA(std::uint32_t device, char* text, std::uint32_t number) {
  if (text == nullptr) return 0;
  return QueryVariableText(LibraryCommandPath(), IndexFromDeviceNumber(device), 'I', number, text);
}

}  // namespace zimo::corvan

using zimo::corvan::IndexFromDeviceNumber;
using zimo::corvan::LibraryCommandPath;

extern "C" {

std::int32_t ZimoGetVariableStrA(std::uint32_t device, char letter, char* text,
                                 std::uint32_t number) {
  if (text == nullptr) return 0;
  return zimo::corvan::QueryVariableText(LibraryCommandPath(), IndexFromDeviceNumber(device),
                                         letter, number, text);
}

std::int32_t ZimoGetVariableStrW(std::uint32_t device, char16_t letter, char16_t* text,
                                 std::uint32_t number) {
  if (text == nullptr) return 0;
  char narrow[zimo::corvan::kVariableTextSize + 1] = {};
  const std::int32_t done =
      ZimoGetVariableStrA(device, zimo::platform::Utf16ToCp1252Char(letter), narrow, number);
  if (done) zimo::platform::WidenInto(narrow, text, zimo::corvan::kVariableTextSize);
  return done;
}

std::int16_t ZimoGetVariable(std::uint32_t device, char letter, std::uint32_t number,
                             std::int16_t default_value) {
  return zimo::corvan::GetVariable16(LibraryCommandPath(), IndexFromDeviceNumber(device), letter,
                                     number, default_value);
}

std::int16_t ZimoGetIVariable(std::uint32_t device, std::uint32_t number,
                              std::int16_t default_value) {
  return ZimoGetVariable(device, 'I', number, default_value);
}

std::int32_t ZimoGetVariableLong(std::uint32_t device, char letter, std::uint32_t number,
                                 std::int32_t default_value) {
  return zimo::corvan::GetVariable32(LibraryCommandPath(), IndexFromDeviceNumber(device), letter,
                                     number, default_value);
}

std::int32_t ZimoGetIVariableLong(std::uint32_t device, std::uint32_t number,
                                  std::int32_t default_value) {
  return ZimoGetVariableLong(device, 'I', number, default_value);
}

double ZimoGetVariableDouble(std::uint32_t device, char letter, std::uint32_t number,
                             double default_value) {
  return zimo::corvan::GetVariableDouble(LibraryCommandPath(), IndexFromDeviceNumber(device),
                                         letter, number, default_value);
}

double ZimoGetIVariableDouble(std::uint32_t device, std::uint32_t number, double default_value) {
  return ZimoGetVariableDouble(device, 'I', number, default_value);
}

void ZimoSetVariable(std::uint32_t device, char letter, std::uint32_t number, std::int16_t value) {
  zimo::corvan::SetVariable16(LibraryCommandPath(), IndexFromDeviceNumber(device), letter, number,
                              value,
                              /*echo=*/false);
}

void ZimoSetIVariable(std::uint32_t device, std::uint32_t number, std::int16_t value) {
  zimo::corvan::SetVariable16(LibraryCommandPath(), IndexFromDeviceNumber(device), 'I', number,
                              value,
                              /*echo=*/true);
}

void ZimoSetVariableLong(std::uint32_t device, char letter, std::uint32_t number,
                         std::int32_t value) {
  zimo::corvan::SetVariable32(LibraryCommandPath(), IndexFromDeviceNumber(device), letter, number,
                              value,
                              /*echo=*/true);
}

void ZimoSetIVariableLong(std::uint32_t device, std::uint32_t number, std::int32_t value) {
  ZimoSetVariableLong(device, 'I', number, value);
}

void ZimoSetVariableDouble(std::uint32_t device, char letter, std::uint32_t number, double value) {
  zimo::corvan::SetVariableDouble(LibraryCommandPath(), IndexFromDeviceNumber(device), letter,
                                  number, value,
                                  /*echo=*/true);
}

void ZimoSetIVariableDouble(std::uint32_t device, std::uint32_t number, double value) {
  ZimoSetVariableDouble(device, 'I', number, value);
}

}  // extern "C"
