// The firmware download dialog (template 135, "Downloading Firmware"): the
// percentage, the last message of the loader, and Begin and Done. Begin
// runs one download for the device interface under test; afterwards only
// Done is left. The loader reports through the process-wide dialog that is
// running, so its callbacks stay plain C functions.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace zimo::corvan::dialogs {

inline constexpr int kFirmwareDialogTemplate = 135;
inline constexpr int kFirmwarePercentId = 1030;
inline constexpr int kFirmwareStatusId = 1034;
inline constexpr int kFirmwareBeginId = 1026;
inline constexpr int kFirmwareDoneId = 1;
inline constexpr char kFirmwareDialogTitle[] = "Downloading Firmware";
inline constexpr char kFirmwareStartText[] = "Press Begin to initiate firmware download";

class FirmwareDownloadDialogModel {
 public:
  FirmwareDownloadDialogModel(std::uint32_t location, std::uint32_t enumeration, std::string path);
  ~FirmwareDownloadDialogModel();
  FirmwareDownloadDialogModel(const FirmwareDownloadDialogModel&) = delete;
  FirmwareDownloadDialogModel& operator=(const FirmwareDownloadDialogModel&) = delete;

  // Runs the download and the pause after it; blocks until both are over.
  // Any thread may run it; `on_change` follows every change from that thread.
  void Begin();

  std::string percent_text() const;
  std::string status_text() const;
  bool begin_enabled() const;
  bool done_enabled() const;
  bool running() const;
  void set_on_change(std::function<void()> on_change);

  // The loader's callbacks: the text for control 1034, the percentage for
  // control 1030, both for the dialog that runs a download.
  static std::int32_t ReportText(const char* text, std::int32_t new_line);
  static std::int32_t ReportPercent(std::int32_t percent);

 private:
  void Changed();

  const std::uint32_t location_;
  const std::uint32_t enumeration_;
  const std::string path_;
  mutable std::mutex mutex_;
  std::string percent_ = "0";
  std::string status_ = kFirmwareStartText;
  bool begin_enabled_ = true;
  bool done_enabled_ = false;
  bool running_ = false;
  std::function<void()> on_change_;
};

}  // namespace zimo::corvan::dialogs
