#include "core/comm_library.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "corvan/command_api.h"
#include "corvan/identify_api.h"
#include "corvan/tuning_api.h"
#include "download/download_state.h"
#include "link/library_app.h"

namespace zimo::server {
namespace {

using corvan::kErrorBits;
using corvan::kStatusAck;
using corvan::kStatusFailure;

// One line of a reply as GetBuffer and GetResponseBuffered read it.
constexpr uint32_t kLineBuffer = 255;

// Formats into a buffer of kMaxCommandLength + 1 bytes; false when the
// text would not fit (or the format is bad), so that a cut command is
// never sent.
bool FormatCommand(char (&line)[kMaxCommandLength + 1], const char* format, va_list args) {
  if (format == nullptr) return false;
  const int n = std::vsnprintf(line, sizeof line, format, args);
  return n >= 0 && n <= kMaxCommandLength;
}

}  // namespace

int32_t CommLibrary::SendCommand(uint32_t device, const char* format, ...) {
  char line[kMaxCommandLength + 1];
  va_list args;
  va_start(args, format);
  const bool fits = FormatCommand(line, format, args);
  va_end(args);
  if (!fits) return 0;
  return ZimoSendCommandA(device, line);
}

uint32_t CommLibrary::GetResponse(uint32_t device, char* buffer, uint32_t size, const char* format,
                                  ...) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  char line[kMaxCommandLength + 1];
  va_list args;
  va_start(args, format);
  const bool fits = FormatCommand(line, format, args);
  va_end(args);
  if (!fits) return kStatusFailure;
  return ZimoGetResponseExA(device, buffer, size, line);
}

int32_t CommLibrary::GetControlValues(uint32_t device, int32_t control,
                                      double values[kControlValueCount]) {
  if (control != kCtrlPositions && control != kCtrlVelocities && control != kCtrlFollowing) {
    return 0;
  }
  char reply[kLineBuffer + 1] = {};
  const uint32_t word = ZimoGetControlResponseExA(device, reply, kLineBuffer, static_cast<char>(control));
  if ((word & kErrorBits) != 0) return 0;
  const char* p = reply;
  for (int i = 0; i < kControlValueCount; ++i) {
    char* end = nullptr;
    const double v = std::strtod(p, &end);
    if (end == p) {
      values[i] = 0.0;  // no number here: this and the rest read as 0
    } else {
      values[i] = v;
      p = end;
    }
  }
  return 1;
}

uint32_t CommLibrary::CollectLines(uint32_t device, bool add_lf, std::string* answer,
                                   bool* any_line) {
  *any_line = false;
  answer->clear();
  for (;;) {
    char line[kLineBuffer + 1] = {};
    const uint32_t word = ZimoGetLineExA(device, line, kLineBuffer);
    // An error status is kept before the end bit is looked at: a time-out
    // or card error has bit 31 set too. A word with neither a line nor a
    // status (nothing read) ends the reply as well: the loop never waits
    // on a device that cannot answer.
    if ((word & kErrorBits) != 0 || (word & kStatusAck) != 0 || word == 0) return word;
    szStripUnquotedSpaceA(line);
    *any_line = true;
    answer->append(line);
    if (add_lf) answer->push_back('\n');
  }
}

uint32_t CommLibrary::GetResponseBuffered(uint32_t device, const char* question, bool add_lf,
                                          std::string* answer, bool* any_line) {
  LockZimo(device);
  ZimoFlush(device);
  ZimoSendLineA(device, question);
  const uint32_t word = CollectLines(device, add_lf, answer, any_line);
  ReleaseZimo(device);
  return word;
}

int32_t CommLibrary::GetFirmwareType(uint32_t device) {
  if (ZimoGetZimoType(device) == 0) return 0;
  const corvan::SharedDeviceBlock* block = corvan::App().Block(static_cast<int>(device));
  return block != nullptr ? static_cast<int32_t>(block->BoardVariant) : 0;
}

int32_t CommLibrary::max_download_errors() {
  return static_cast<int32_t>(corvan::DownloadState::Instance().max_errors());
}

void CommLibrary::set_max_download_errors(int32_t count) {
  corvan::DownloadState::Instance().SetMaxErrors(static_cast<uint32_t>(count));
}

}  // namespace zimo::server
