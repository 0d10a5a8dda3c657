// The state of a program download in this process and the reporters every
// step of a download (preprocessor, compiler, senders, firmware loader)
// reports through: numbered report lines kept for the log and passed to
// the caller's callback, counted warnings and errors, card and compiler
// errors, and the abort that the error limit or the caller requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "corvan/download_api.h"

namespace zimo::corvan {

inline constexpr char kDownloadFallbackLog[] = "ZIMODNLD.LOG";
inline constexpr std::uint32_t kDefaultMaxDownloadErrors = 10;
inline constexpr std::uint32_t kDefaultPortPollLimit = 500;

struct DownloadOptions {
  std::int32_t macro = 0;
  std::int32_t map = 0;
  std::int32_t log = 0;
  std::int32_t download = 0;
};

// Takes one request's reports with a context of its own (the server hands
// each request's reports to the client that asked for it). When a request
// has a sink, messages, progress and card errors go to it instead of the
// plain callbacks; card errors carry the refused line's text.
class DownloadReportSink {
 public:
  virtual ~DownloadReportSink() = default;
  virtual void Message(const char* text, std::int32_t new_line) = 0;
  virtual void Progress(std::int32_t percent) = 0;
  virtual void Error(const char* file, std::int32_t number, std::uint32_t line,
                     const char* line_text) = 0;
};

struct DownloadCallbacks {
  DownloadMessageCallback message = nullptr;
  DownloadLineSourceCallback line_source = nullptr;
  DownloadProgressCallback progress = nullptr;
  DownloadErrorCallback error = nullptr;
  std::shared_ptr<DownloadReportSink> sink;

  void ReportMessage(const char* text) const {
    if (sink) {
      sink->Message(text, 1);
    } else if (message != nullptr) {
      message(text, 1);
    }
  }
  void ReportProgress(std::int32_t percent) const {
    if (sink) {
      sink->Progress(percent);
    } else if (progress != nullptr) {
      progress(percent);
    }
  }
  bool has_progress() const { return sink != nullptr || progress != nullptr; }
};

struct DownloadReport {
  std::uint32_t sequence = 0;
  std::string name;  // always empty
  std::string text;
};

class DownloadState {
 public:
  // The process's one download state.
  static DownloadState& Instance();

  DownloadState() = default;
  DownloadState(const DownloadState&) = delete;
  DownloadState& operator=(const DownloadState&) = delete;

  // A new request: device, callbacks and switches; reports are kept from
  // now on and the compiler-error flag is cleared.
  void BeginRequest(int device, const DownloadCallbacks& callbacks, const DownloadOptions& options);
  // The start of a run: counts, sequence, message log, include levels and
  // the abort and compiler-error flags are reset; busy is set.
  void BeginRun();
  // The end of a run: the message log is discarded and busy cleared.
  void EndRun();

  // Reporters.
  void ReportDownloadMessage(const char* text);
  void ReportDownloadError(const char* text, std::uint32_t line);
  void ReportDownloadWarning(const char* text, std::uint32_t line);
  void ReportCardError(const char* file, std::int32_t number, std::uint32_t line,
                       const char* line_text);

  // Writes the kept reports to `path` (CR LF text) under a header naming
  // `source`. False when the file cannot be written.
  bool WriteLog(const char* path, const char* source) const;

  void Abort();  // ZimoAbortDownload
  std::uint32_t SetMaxErrors(std::uint32_t count);

  // Include levels of the preprocessor, each with its own counts.
  void PushIncludeLevel();
  void PopIncludeLevel();
  std::size_t include_level() const { return include_errors_.size() - 1; }
  std::uint32_t level_errors() const { return include_errors_.back(); }
  std::uint32_t level_warnings() const { return include_warnings_.back(); }

  int device() const { return device_; }
  // A copy: a report may outlive the request that set them.
  DownloadCallbacks callbacks() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return callbacks_;
  }
  const DownloadOptions& options() const { return options_; }
  std::string& source_path() { return source_path_; }
  std::vector<std::string>& output_paths() { return output_paths_; }

  bool busy() const { return busy_; }
  void set_busy(bool busy) { busy_ = busy; }
  // Marks a download busy unless one already is: false when it was.
  bool TryMarkBusy() {
    bool expected = false;
    return busy_.compare_exchange_strong(expected, true);
  }
  bool aborted() const { return abort_; }
  bool active() const { return active_; }
  void set_active(bool active) { active_ = active; }
  bool compiler_error() const { return compiler_error_; }
  void set_compiler_error(bool set) { compiler_error_ = set; }
  std::uint32_t errors() const { return errors_; }
  std::uint32_t warnings() const { return warnings_; }
  std::uint32_t sequence() const { return sequence_; }
  std::uint32_t max_errors() const { return max_errors_; }
  std::uint32_t total_lines() const { return total_lines_; }
  void add_total_lines(std::uint32_t n) { total_lines_ += n; }
  std::int32_t checksum_mode() const { return checksum_mode_; }
  void set_checksum_mode(std::int32_t mode) { checksum_mode_ = mode; }
  std::uint32_t port_poll_limit() const { return kDefaultPortPollLimit; }
  std::vector<DownloadReport> message_log() const;

 private:
  void CheckErrorLimit();

  mutable std::recursive_mutex mutex_;  // reports may come from several threads
  int device_ = 0;
  DownloadCallbacks callbacks_;
  DownloadOptions options_;
  std::string source_path_;
  std::vector<std::string> output_paths_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> abort_{false};
  std::atomic<bool> active_{false};
  std::atomic<bool> compiler_error_{false};
  std::uint32_t total_lines_ = 0;
  std::uint32_t warnings_ = 0;
  std::uint32_t errors_ = 0;
  std::uint32_t sequence_ = 0;
  std::atomic<std::uint32_t> max_errors_{kDefaultMaxDownloadErrors};
  std::int32_t checksum_mode_ = 0;
  std::vector<std::uint32_t> include_errors_{0};
  std::vector<std::uint32_t> include_warnings_{0};
  std::vector<DownloadReport> log_;
};

}  // namespace zimo::corvan
