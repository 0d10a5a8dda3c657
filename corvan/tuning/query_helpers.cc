// The small helpers the tuning programs talk to a card with, and the
// conversions of card replies and card words they share with clients.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "corvan/command_api.h"
#include "corvan/errors.h"
#include "corvan/tuning_api.h"
#include "corvan/variables_api.h"
#include "corvan/word_formats_api.h"
#include "link/card_text.h"
#include "link/library_app.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A double held inside the 32-bit range (NaN gives 0).
std::int32_t ClampToInt32(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

// Whether `line` begins (after blanks) with `word`, in any case, followed
// by a blank, a digit or its end.
bool StartsWithWord(const char* line, const char* word) {
  while (IsSpace(*line)) ++line;
  std::size_t i = 0;
  for (; word[i] != '\0'; ++i) {
    const char c = line[i];
    if (c == '\0' || (c & ~0x20) != word[i]) return false;
  }
  const char next = line[i];
  return next == '\0' || IsSpace(next) || (next >= '0' && next <= '9');
}

}  // namespace

std::uint32_t ParseHexDigits(const char* text, std::int32_t count) {
  std::uint32_t value = 0;
  if (text == nullptr) return 0;
  for (std::int32_t i = 0; i < count && text[i] != '\0'; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      value = (value << 4) | static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      value = (value << 4) | static_cast<std::uint32_t>(c - 'A' + 10);
    }
  }
  return value;
}

bool ComposeCommand(char* out, const char* format, va_list args) {
  out[0] = '\0';
  if (format == nullptr) return false;
  const int n = std::vsnprintf(out, kCommandSize, format, args);
  if (n < 0 || static_cast<std::size_t>(n) >= kCommandSize) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool ProgramWriter::Line(const char* format, ...) {
  if (!ok_) return false;
  char command[kCommandSize];
  va_list args;
  va_start(args, format);
  const bool composed = ComposeCommand(command, format, args);
  va_end(args);
  reply_[0] = '\0';
  if (!composed) {
    ok_ = false;
    return false;
  }
  // An OPEN line may have reached the card even when its answer is lost.
  const bool opens = StartsWithWord(command, "OPEN");
  const bool closes = StartsWithWord(command, "CLOSE") || StartsWithWord(command, "CLS");
  if (opens) buffer_open_ = true;
  status_ = path_.GetResponseEx(device_, reply_, kReplyMax, command);
  szStripUnquotedSpaceA(reply_);
  const std::uint32_t kind = status_ & kStatusMask;
  if (kind == kStatusTimeout || kind == kStatusFailure) ok_ = false;
  if (closes && ok_) buffer_open_ = false;
  return ok_;
}

ProgramWriter::~ProgramWriter() {
  if (!buffer_open_) return;
  char reply[kReplyMax + 1] = {};
  path_.GetResponseEx(device_, reply, kReplyMax, "CLOSE");
}

int InBufferedMode(CardCommandPath& path, int device, int card_type) {
  char status[20] = {};
  path.GetResponseEx(device, status, 19, "???");
  szStripControlCharA(status);
  // The newer cards flag a mode here that the older status bits miss.
  if (card_type > 4 && getBitValue(status, 20) != 0) return 0;
  return getBitValue(status, 17) != 0 || getBitValue(status, 18) != 0 ||
                 getBitValue(status, 19) != 0
             ? 1
             : 0;
}

}  // namespace zimo::corvan::tuning

namespace {

using zimo::corvan::IndexFromDeviceNumber;
using zimo::corvan::tuning::ClampToInt32;
using zimo::corvan::tuning::ParseHexDigits;

// The 48-bit word's value: signed upper half times 2^24 plus the lower half.
double WordValue(const char* word) {
  if (word == nullptr) return 0.0;
  const std::size_t length = ::strnlen(word, 12);
  double high = ParseHexDigits(word, 6);
  if (high >= 8388608.0) high -= 16777216.0;
  const double low = length > 6 ? ParseHexDigits(word + 6, 6) : 0.0;
  return high * 16777216.0 + low;
}

}  // namespace

extern "C" {

void FormatAndGetResponse(std::uint32_t device, char* reply, std::uint32_t size, const char* format,
                          ...) {
  char command[zimo::corvan::tuning::kCommandSize];
  va_list args;
  va_start(args, format);
  const bool composed = zimo::corvan::tuning::ComposeCommand(command, format, args);
  va_end(args);
  if (reply != nullptr && size > 0) reply[0] = '\0';
  if (!composed || reply == nullptr) return;
  ZimoGetResponseA(device, reply, size, command);
  szStripUnquotedSpaceA(reply);
}

std::int32_t FormatAndSendLine(std::uint32_t device, const char* format, ...) {
  char command[zimo::corvan::tuning::kCommandSize];
  va_list args;
  va_start(args, format);
  const bool composed = zimo::corvan::tuning::ComposeCommand(command, format, args);
  va_end(args);
  if (!composed) return -1;
  return static_cast<std::int32_t>(ZimoSendLineA(device, command));
}

void szStripUnquotedSpaceA(char* text) {
  if (text == nullptr) return;
  bool quoted = false;
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    const char c = *in;
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (zimo::corvan::tuning::IsSpace(c) || c == zimo::corvan::kAck)) {
      continue;
    }
    *out++ = c;
  }
  *out = '\0';
}

std::int32_t GetIVariableLongOrZero(std::uint32_t device, std::uint32_t number) {
  return ZimoGetIVariableLong(device, number, 0);
}

std::int32_t InBufferedMode(std::uint32_t device) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  const SharedDeviceBlock* block = IsRealDevice(d) ? App().Block(d) : nullptr;
  return tuning::InBufferedMode(LibraryCommandPath(), d, block != nullptr ? block->CardType : 0);
}

std::int32_t Round(const char* text) {
  const double value = text != nullptr ? std::strtod(text, nullptr) : 0.0;
  const double whole = std::trunc(value);
  std::int32_t result = ClampToInt32(whole);
  if (value - whole >= 0.5 && result < std::numeric_limits<std::int32_t>::max()) ++result;
  return result;
}

std::int32_t ConvertToLong(const char* text) {
  return ClampToInt32(text != nullptr ? std::strtod(text, nullptr) : 0.0);
}

char* ConvertToHex(std::int32_t value, char* out) {
  if (out != nullptr) std::snprintf(out, 9, "%X", static_cast<unsigned>(value));
  return out;
}

std::int32_t CompareIvar(std::uint32_t device, std::uint32_t number, const char* text) {
  const float card = static_cast<float>(ZimoGetIVariable(device, number, 0));
  const double wanted = text != nullptr ? std::strtod(text, nullptr) : 0.0;
  return static_cast<double>(card) == wanted ? 1 : 0;
}

std::int64_t ConvertWordToLong(const char* word) {
  return static_cast<std::int64_t>(WordValue(word));
}

char* ConvertWordToStringFloat(const char* word, char* out) {
  if (out != nullptr) std::snprintf(out, 32, "%lf", WordValue(word));
  return out;
}

std::int16_t ConvertWordToShort(const char* text, std::int16_t offset) {
  if (text == nullptr || offset < 0 ||
      ::strnlen(text, static_cast<std::size_t>(offset)) < static_cast<std::size_t>(offset)) {
    return 0;
  }
  std::int32_t word = static_cast<std::int32_t>(ParseHexDigits(text + offset, 6));
  if (word >= 0x800000) word -= 0x1000000;
  return static_cast<std::int16_t>(word >> 8);
}

}  // extern "C"
