#include "logic/download_progress.h"

#include <cstdio>

#include "corvan/download_api.h"
#include "download/download_state.h"

namespace zimo::corvan::dialogs {

namespace {

// The dialog the download's callbacks reach (one download per process).
std::mutex g_current_mutex;
DownloadProgress* g_current = nullptr;

std::int32_t ListCallback(const char* text, std::int32_t) {
  std::lock_guard<std::mutex> lock(g_current_mutex);
  if (g_current != nullptr) g_current->OnMessage(text);
  return 0;
}

std::int32_t PercentCallback(std::int32_t percent) {
  std::lock_guard<std::mutex> lock(g_current_mutex);
  if (g_current != nullptr) g_current->OnPercent(percent);
  return 0;
}

}  // namespace

DownloadProgress::DownloadProgress(ProgressRequest request, ProgressScreen& screen)
    : request_(std::move(request)), screen_(screen) {}

DownloadProgress::~DownloadProgress() {
  std::lock_guard<std::mutex> lock(g_current_mutex);
  if (g_current == this) g_current = nullptr;
}

std::int32_t DownloadProgress::Start() {
  // A second show notification must not start the download again.
  if (started_.exchange(true)) return start_result_;
  {
    std::lock_guard<std::mutex> lock(g_current_mutex);
    g_current = this;
  }
  DownloadState::Instance().set_checksum_mode(request_.checksum_mode);
  start_result_ = ZimoThreadDownloadA(request_.device, ListCallback, nullptr, PercentCallback,
                                      request_.source.c_str(), request_.macro, request_.map,
                                      request_.log, request_.download);
  if (start_result_ == 0) {
    // Nothing runs (refused, or the source is missing): the reports are in
    // the list and the user closes the dialog.
    screen_.EnableAbort(false);
    screen_.EnableDone(true);
  }
  return start_result_;
}

void DownloadProgress::Abort() {
  ZimoAbortDownload(request_.device);
  screen_.EnableAbort(false);
  screen_.EnableDone(true);
}

void DownloadProgress::OnMessage(const char* text) {
  screen_.InsertLine(index_++, text != nullptr ? text : "");
}

void DownloadProgress::OnPercent(std::int32_t percent) {
  if (percent != last_percent_) {
    char text[16];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(percent));
    screen_.ShowPercent(text);
    last_percent_ = percent;
  }
  DownloadState& state = DownloadState::Instance();
  if (percent != 100 || state.busy()) return;
  screen_.EnableAbort(false);
  screen_.EnableDone(true);
  if (state.warnings() == 0 && state.errors() == 0 && request_.stay_open == 0) screen_.Close(1);
}

}  // namespace zimo::corvan::dialogs
