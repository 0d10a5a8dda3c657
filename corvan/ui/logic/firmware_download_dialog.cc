#include "logic/firmware_download_dialog.h"

#include <cstdio>
#include <utility>

#include "download/firmware_download.h"
#include "platform/clock.h"

namespace zimo::corvan::dialogs {
namespace {

// The dialog whose download runs now.
std::mutex g_current_mutex;
FirmwareDownloadDialogModel* g_current = nullptr;

// How long the dialog waits after the loader before Done is offered.
constexpr platform::Micros kAfterDownload{5000000};

}  // namespace

FirmwareDownloadDialogModel::FirmwareDownloadDialogModel(std::uint32_t location,
                                                         std::uint32_t enumeration,
                                                         std::string path)
    : location_(location), enumeration_(enumeration), path_(std::move(path)) {}

FirmwareDownloadDialogModel::~FirmwareDownloadDialogModel() {
  std::lock_guard<std::mutex> lock(g_current_mutex);
  if (g_current == this) g_current = nullptr;
}

void FirmwareDownloadDialogModel::Begin() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!begin_enabled_ || running_) return;
    running_ = true;
    begin_enabled_ = false;
  }
  Changed();
  {
    std::lock_guard<std::mutex> lock(g_current_mutex);
    g_current = this;
  }
  StartFirmwareDownload(location_, enumeration_, &ReportText, &ReportPercent, path_.c_str());
  platform::CurrentClock().Sleep(kAfterDownload);
  {
    std::lock_guard<std::mutex> lock(g_current_mutex);
    if (g_current == this) g_current = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    done_enabled_ = true;
  }
  Changed();
}

std::int32_t FirmwareDownloadDialogModel::ReportText(const char* text, std::int32_t) {
  std::lock_guard<std::mutex> current(g_current_mutex);
  if (g_current == nullptr) return 0;
  {
    std::lock_guard<std::mutex> lock(g_current->mutex_);
    g_current->status_ = text != nullptr ? text : "";
  }
  g_current->Changed();
  return 1;
}

std::int32_t FirmwareDownloadDialogModel::ReportPercent(std::int32_t percent) {
  std::lock_guard<std::mutex> current(g_current_mutex);
  if (g_current == nullptr) return 0;
  char text[16];
  std::snprintf(text, sizeof text, "%d%%", static_cast<int>(percent));
  {
    std::lock_guard<std::mutex> lock(g_current->mutex_);
    g_current->percent_ = text;
  }
  g_current->Changed();
  return 1;
}

void FirmwareDownloadDialogModel::Changed() {
  std::function<void()> notify;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    notify = on_change_;
  }
  if (notify) notify();
}

std::string FirmwareDownloadDialogModel::percent_text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return percent_;
}

std::string FirmwareDownloadDialogModel::status_text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

bool FirmwareDownloadDialogModel::begin_enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return begin_enabled_;
}

bool FirmwareDownloadDialogModel::done_enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_enabled_;
}

bool FirmwareDownloadDialogModel::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

void FirmwareDownloadDialogModel::set_on_change(std::function<void()> on_change) {
  std::lock_guard<std::mutex> lock(mutex_);
  on_change_ = std::move(on_change);
}

}  // namespace zimo::corvan::dialogs
