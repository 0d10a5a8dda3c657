// A stand-in for the communications library with the 40 functions the
// control binds (ZimoSelect left out in one build), answering from
// FakeCorvanState and recording each call as "Name(arguments)".
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_corvan.h"

namespace {
FakeCorvanState state;

// A process that cannot reach the state (the test container) sets the
// reply and the device count through the environment.
[[maybe_unused]] const bool kFromEnvironment = [] {
  if (const char* reply = std::getenv("FAKE_CORVAN_REPLY")) state.reply = reply;
  if (const char* count = std::getenv("FAKE_CORVAN_DEVICES")) state.device_count = std::atoi(count);
  return true;
}();

void Record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Record(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  state.calls.emplace_back(text);
}

uint32_t CopyReply(char* buffer, uint32_t size) {
  size_t n = std::min<size_t>(state.reply.size(), size);
  std::memcpy(buffer, state.reply.data(), n);
  buffer[n] = '\0';
  return state.reply_count >= 0 ? static_cast<uint32_t>(state.reply_count)
                                : static_cast<uint32_t>(n);
}
}  // namespace

#include <algorithm>
#include <cstdarg>

using DownloadMessageFn = int32_t (*)(const char*, int32_t);
using DownloadLineSourceFn = int32_t (*)(int32_t, char*, int32_t);
using DownloadProgressFn = int32_t (*)(int32_t);

extern "C" {

FakeCorvanState* FakeCorvan() { return &state; }

int32_t DrvNumberOfDevices() { return state.device_count; }
int32_t OpenZimoDevice(uint32_t d) {
  Record("OpenZimoDevice(%u)", d);
  return state.open_result;
}
int32_t CloseZimoDevice(uint32_t d) {
  Record("CloseZimoDevice(%u)", d);
  return state.close_result;
}
int32_t ZimoGetDpramAvailable(uint32_t d) {
  Record("ZimoGetDpramAvailable(%u)", d);
  return state.dpram_available;
}
int32_t ZimoGetError(uint32_t d) {
  Record("ZimoGetError(%u)", d);
  return state.error_code;
}
int32_t ZimoGetErrorStrA(uint32_t d, char* buffer, uint32_t size) {
  Record("ZimoGetErrorStrA(%u,%u)", d, size);
  std::snprintf(buffer, size + 1, "%s", state.error_text.c_str());
  return state.error_code;
}
void ZimoAbortDownload(uint32_t d) { Record("ZimoAbortDownload(%u)", d); }
int32_t ZimoDownloadA(uint32_t d, DownloadMessageFn message, DownloadLineSourceFn lines,
                      DownloadProgressFn progress, const char* file, int32_t macro, int32_t map,
                      int32_t log, int32_t download) {
  Record("ZimoDownloadA(%u,%s,%s,%s,%s,%d,%d,%d,%d)", d, message ? "msg" : "null",
         lines ? "lines" : "null", progress ? "progress" : "null", file, macro, map, log, download);
  for (const auto& m : state.download_messages) {
    if (message != nullptr) message(m.c_str(), 1);
  }
  for (int32_t p : state.download_progress) {
    if (progress != nullptr) progress(p);
  }
  return state.download_result;
}
int32_t ZimoFlush(uint32_t d) {
  Record("ZimoFlush(%u)", d);
  return 1;
}
uint32_t LockZimo(uint32_t d) {
  Record("LockZimo(%u)", d);
  return 0;
}
int32_t ReleaseZimo(uint32_t d) {
  Record("ReleaseZimo(%u)", d);
  return 1;
}
uint32_t ZimoReadReady(uint32_t d) {
  Record("ZimoReadReady(%u)", d);
  return 1;
}
uint32_t ZimoSendLineA(uint32_t d, const char* text) {
  Record("ZimoSendLineA(%u,%s)", d, text);
  return state.send_line_result;
}
uint32_t ZimoGetLineA(uint32_t d, char* buffer, uint32_t size) {
  if (state.next_line >= state.lines.size()) {
    buffer[0] = '\0';
    return 0;
  }
  const std::string& line = state.lines[state.next_line++];
  std::snprintf(buffer, size + 1, "%s", line.c_str());
  return static_cast<uint32_t>(std::min<size_t>(line.size(), size));
}
uint32_t ZimoSetMaxDownloadErrors(uint32_t count) {
  Record("ZimoSetMaxDownloadErrors(%u)", count);
  return count;
}
uint32_t ZimoGetControlResponseExA(uint32_t d, char* buffer, uint32_t size, char c) {
  Record("ZimoGetControlResponseExA(%u,%u,%d)", d, size, c);
  return CopyReply(buffer, size);
}
uint32_t ZimoGetBufferA(uint32_t d, char* buffer, uint32_t size) {
  Record("ZimoGetBufferA(%u,%u)", d, size);
  return CopyReply(buffer, size);
}
uint32_t ZimoGetResponseExA(uint32_t d, char* buffer, uint32_t size, const char* command) {
  Record("ZimoGetResponseExA(%u,%u,%s)", d, size, command);
  return CopyReply(buffer, size);
}
uint32_t ZimoSendCharA(uint32_t d, char c) {
  Record("ZimoSendCharA(%u,%d)", d, c);
  return 1;
}
#ifndef FAKE_CORVAN_WITHOUT_SELECT
int32_t ZimoSelect(uint32_t window) {
  Record("ZimoSelect(%u)", window);
  return state.select_result;
}
#endif
int32_t GetUSResponse(uint32_t d, char* buffer, uint32_t limit) {
  Record("GetUSResponse(%u,%u)", d, limit);
  state.unsolicited_buffer_was_empty =
      std::all_of(buffer, buffer + limit + 1, [](char c) { return c == '\0'; });
  // Like a ring take stopped by its limit: bytes, no terminator.
  size_t n = std::min<size_t>(state.unsolicited.size(), limit);
  std::memcpy(buffer, state.unsolicited.data(), n);
  return state.unsolicited_result;
}
int32_t USReadReady(uint32_t d) {
  Record("USReadReady(%u)", d);
  return 1;
}
double ZimoDPRFloat(const uint32_t* w, double scale) {
  Record("ZimoDPRFloat(%u,%u)", w[0], w[1]);
  return 1.5 * scale;
}
double ZimoDPRLFixed(const uint32_t* w, double scale) {
  Record("ZimoDPRLFixed(%u,%u)", w[0], w[1]);
  return 2.5 * scale;
}
uint16_t ZimoDPRGetWord(uint32_t d, uint32_t offset) {
  Record("ZimoDPRGetWord(%u,%u)", d, offset);
  return state.word;
}
void ZimoDPRSetWord(uint32_t d, uint32_t offset, uint16_t v) {
  Record("ZimoDPRSetWord(%u,%u,%u)", d, offset, v);
}
uint32_t ZimoDPRGetDWord(uint32_t d, uint32_t offset) {
  Record("ZimoDPRGetDWord(%u,%u)", d, offset);
  return state.dword;
}
void ZimoDPRSetDWord(uint32_t d, uint32_t offset, uint32_t v) {
  Record("ZimoDPRSetDWord(%u,%u,%u)", d, offset, v);
}
double ZimoDPRGetFloat(uint32_t d, uint32_t offset) {
  Record("ZimoDPRGetFloat(%u,%u)", d, offset);
  return 0.25;
}
void ZimoDPRSetFloat(uint32_t d, uint32_t offset, double v) {
  Record("ZimoDPRSetFloat(%u,%u,%g)", d, offset, v);
}
int32_t ZimoDPRDWordBitSet(uint32_t d, uint32_t offset, uint16_t bit) {
  Record("ZimoDPRDWordBitSet(%u,%u,%u)", d, offset, bit);
  return 1;
}
void ZimoDPRResetDWordBit(uint32_t d, uint32_t offset, uint16_t bit) {
  Record("ZimoDPRResetDWordBit(%u,%u,%u)", d, offset, bit);
}
void ZimoDPRSetDWordBit(uint32_t d, uint32_t offset, uint16_t bit) {
  Record("ZimoDPRSetDWordBit(%u,%u,%u)", d, offset, bit);
}
int32_t ZimoDPRAsciiStrToRotA(uint32_t d, char* text, uint16_t n) {
  Record("ZimoDPRAsciiStrToRotA(%u,%s,%u)", d, text, n);
  return 0;
}
void ZimoDPRRotBufClr(uint32_t d, uint16_t n) { Record("ZimoDPRRotBufClr(%u,%u)", d, n); }
int32_t ZimoDPRRotBuf(uint32_t d, int32_t on) {
  Record("ZimoDPRRotBuf(%u,%d)", d, on);
  return on;
}
int32_t ZimoDPRRotBufChange(uint32_t d, uint16_t n, uint16_t size) {
  Record("ZimoDPRRotBufChange(%u,%u,%u)", d, n, size);
  return 0;
}
int32_t ZimoDPRRotBufInit(uint32_t d, uint16_t n) {
  Record("ZimoDPRRotBufInit(%u,%u)", d, n);
  return 0;
}
int32_t ZimoDPRBufLast(uint32_t d) {
  Record("ZimoDPRBufLast(%u)", d);
  return 3;
}
int32_t ZimoDPRRotBufRemove(uint32_t d, uint16_t n) {
  Record("ZimoDPRRotBufRemove(%u,%u)", d, n);
  return 0;
}

}  // extern "C"
