// The progress dialog over a threaded program download: report lines go to
// a list, the percent to a text, Abort stops the run, DONE closes. The
// download's callbacks arrive on its worker thread; the screen side turns
// them into calls on its own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace zimo::corvan::dialogs {

inline constexpr int kDownloadProgressTemplate = 115;
inline constexpr int kProgressListId = 1034;
inline constexpr int kProgressPercentId = 1030;
inline constexpr int kProgressAbortId = 2;
inline constexpr int kProgressDoneId = 1;

// What the dialog shows; the view implements it.
class ProgressScreen {
 public:
  virtual ~ProgressScreen() = default;
  virtual void InsertLine(int index, const std::string& text) = 0;
  virtual void ShowPercent(const std::string& text) = 0;
  virtual void EnableAbort(bool on) = 0;
  virtual void EnableDone(bool on) = 0;  // also gives DONE the focus when on
  virtual void Close(int result) = 0;
};

struct ProgressRequest {
  std::int32_t checksum_mode = 0;
  std::int32_t stay_open = 0;
  std::uint32_t device = 0;
  std::string source;
  std::int32_t macro = 0;
  std::int32_t map = 0;
  std::int32_t log = 0;
  std::int32_t download = 0;
};

class DownloadProgress {
 public:
  DownloadProgress(ProgressRequest request, ProgressScreen& screen);
  ~DownloadProgress();
  DownloadProgress(const DownloadProgress&) = delete;
  DownloadProgress& operator=(const DownloadProgress&) = delete;

  // The dialog was shown: starts the download the first time only. The
  // result of the threaded start (1 started).
  std::int32_t Start();
  std::int32_t start_result() const { return start_result_; }

  void Abort();
  void Done() { screen_.Close(1); }
  void EndSession() { screen_.Close(2); }

  // The download's callbacks.
  void OnMessage(const char* text);
  void OnPercent(std::int32_t percent);

 private:
  ProgressRequest request_;
  ProgressScreen& screen_;
  std::atomic<bool> started_{false};
  std::int32_t start_result_ = 0;
  int index_ = 0;
  std::int32_t last_percent_ = -1;
};

}  // namespace zimo::corvan::dialogs
