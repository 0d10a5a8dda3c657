#include "download/download_state.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "link/error_texts.h"

namespace zimo::corvan {

namespace {

constexpr std::size_t kReportSize = 640;

// Control characters would break the report's line.
void StripControl(const char* in, char* out, std::size_t size) {
  std::size_t n = 0;
  for (; in != nullptr && *in != '\0' && n + 1 < size; ++in) {
    if (static_cast<unsigned char>(*in) >= 0x20 && *in != 0x7F) out[n++] = *in;
  }
  out[n] = '\0';
}

}  // namespace

DownloadState& DownloadState::Instance() {
  static DownloadState state;
  return state;
}

void DownloadState::BeginRequest(int device, const DownloadCallbacks& callbacks,
                                 const DownloadOptions& options) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  device_ = device;
  callbacks_ = callbacks;
  options_ = options;
  active_ = true;
  compiler_error_ = false;
}

void DownloadState::BeginRun() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  busy_ = true;
  abort_ = false;
  compiler_error_ = false;
  include_errors_.assign(1, 0);
  include_warnings_.assign(1, 0);
  warnings_ = 0;
  errors_ = 0;
  total_lines_ = 0;
  sequence_ = 0;
  log_.clear();
}

void DownloadState::EndRun() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  log_.clear();
  busy_ = false;
}

// The lock guards the state only; every callback is made after it is let
// go, so a callback may wait for any thread (one that aborts, one that
// reports) without holding the library up.
void DownloadState::ReportDownloadMessage(const char* text) {
  DownloadCallbacks callbacks;
  std::string copy = text != nullptr ? text : "";
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!active_) return;
    ++sequence_;
    log_.push_back(DownloadReport{sequence_, std::string(), copy});
    callbacks = callbacks_;
  }
  callbacks.ReportMessage(copy.c_str());
}

void DownloadState::CheckErrorLimit() {
  if (errors_ < max_errors_) return;
  char report[kReportSize];
  std::snprintf(report, sizeof report, "Download aborted. Errors exceed %u maximum.",
                static_cast<unsigned>(max_errors_));
  ReportDownloadMessage(report);
  abort_ = true;
}

void DownloadState::ReportDownloadError(const char* text, std::uint32_t line) {
  std::uint32_t count = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    count = ++errors_;
    if (line != 0) ++include_errors_.back();
  }
  char report[kReportSize];
  if (line != 0) {
    std::snprintf(report, sizeof report, "Error: %d Line %lu : %s", static_cast<int>(count),
                  static_cast<unsigned long>(line), text != nullptr ? text : "");
  } else {
    std::snprintf(report, sizeof report, "Error: %d : %s", static_cast<int>(count),
                  text != nullptr ? text : "");
  }
  ReportDownloadMessage(report);
  CheckErrorLimit();
}

void DownloadState::ReportDownloadWarning(const char* text, std::uint32_t line) {
  std::uint32_t count = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    count = ++warnings_;
    if (line != 0) ++include_warnings_.back();
  }
  char report[kReportSize];
  if (line != 0) {
    std::snprintf(report, sizeof report, "Warning: %d Line: %lu : %s", static_cast<int>(count),
                  static_cast<unsigned long>(line), text != nullptr ? text : "");
  } else {
    std::snprintf(report, sizeof report, "Warning: %d : %s", static_cast<int>(count),
                  text != nullptr ? text : "");
  }
  ReportDownloadMessage(report);
}

void DownloadState::ReportCardError(const char* file, std::int32_t number, std::uint32_t line,
                                    const char* line_text) {
  DownloadCallbacks callbacks;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ++errors_;
    callbacks = callbacks_;
  }
  char text[kLoadedTextSize];
  std::snprintf(text, sizeof text, "%s", LoadLibraryString(static_cast<std::uint32_t>(number)));
  char report[kReportSize];
  std::snprintf(report, sizeof report, number < 20 ? "**ZIMO Error %ld, %s" : "**Error %ld, %s",
                static_cast<long>(number), text);
  ReportDownloadMessage(report);
  char name[kReportSize / 2];
  StripControl(file, name, sizeof name);
  std::snprintf(report, sizeof report, "  File: %s", name);
  ReportDownloadMessage(report);
  std::snprintf(report, sizeof report, "  Line: %lu, \"%s\"", static_cast<unsigned long>(line),
                line_text != nullptr ? line_text : "");
  char clean[kReportSize];
  StripControl(report, clean, sizeof clean);
  ReportDownloadMessage(clean);
  if (callbacks.sink) {
    callbacks.sink->Error(file != nullptr ? file : "", number, line,
                          line_text != nullptr ? line_text : "");
  } else if (callbacks.error != nullptr) {
    callbacks.error(file != nullptr ? file : "", number, line, text);
  }
  if (compiler_error_) {
    ReportDownloadMessage("Download aborted. PLCC Compiler Error.");
    abort_ = true;
  }
  CheckErrorLimit();
}

bool DownloadState::WriteLog(const char* path, const char* source) const {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  std::fprintf(f, ";Log created by ZIMO Win32 Driver from file: %s\r\n;\r\n",
               source != nullptr ? source : "");
  for (const DownloadReport& r : message_log()) {
    std::fprintf(f, "%06lu: %*s %s\r\n", static_cast<unsigned long>(r.sequence), 10, r.name.c_str(),
                 r.text.c_str());
  }
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

std::vector<DownloadReport> DownloadState::message_log() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return log_;
}

// Takes no lock across anything: the flag is set first, and the report
// goes to the message callback from the caller's thread like any other.
void DownloadState::Abort() {
  abort_ = true;
  if (active_) ReportDownloadMessage("Download aborted at users request.");
}

std::uint32_t DownloadState::SetMaxErrors(std::uint32_t count) {
  max_errors_ = count;
  return count;
}

void DownloadState::PushIncludeLevel() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  include_errors_.push_back(0);
  include_warnings_.push_back(0);
}

void DownloadState::PopIncludeLevel() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (include_errors_.size() > 1) {
    include_errors_.pop_back();
    include_warnings_.pop_back();
  }
}

}  // namespace zimo::corvan

extern "C" std::uint32_t ZimoSetMaxDownloadErrors(std::uint32_t count) {
  return zimo::corvan::DownloadState::Instance().SetMaxErrors(count);
}

extern "C" void ZimoAbortDownload(std::uint32_t) {
  zimo::corvan::DownloadState::Instance().Abort();
}
