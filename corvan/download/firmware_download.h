// Firmware download into a card in bootstrap mode. The library's export
// (ZimoDownloadFirmwareFile) works on the process-wide download state; the
// firmware dialog's entry (StartFirmwareDownload) works on a context of its
// own and finds its device from the Location and Enumeration under test.
//
// The loaders share one protocol: CTRL-O, the image as 24-bit words, CTRL-R,
// then a status query that must no longer name the bootstrap loader. They
// differ in how the words travel: port registers 5, 6 and 7 (bus), bytes on
// the line (serial), or firmware blocks low byte first (USB, Ethernet).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "corvan/download_api.h"

namespace zimo::corvan {

// Texts the loaders report.
inline constexpr char kFwNotInBootstrap[] = "ZIMO is not in bootstrap mode!";
inline constexpr char kFwCannotSetBus[] = "Cannot set BUS communications!";
inline constexpr char kFwCannotOpen[] = "Unable to open download file!";
inline constexpr char kFwAlreadyRunning[] = "Download thread already running!";
inline constexpr char kFwCtrlD[] = "Issuing a Ctrl-D and waiting up to 10 seconds...";
inline constexpr char kFwCtrlO[] = "Issuing a Ctrl-O and waiting 5 seconds...";
inline constexpr char kFwCtrlR[] =
    "Sent ZIMO a CTRl-R, Waiting 5 seconds before verifying download.";
inline constexpr char kFwStillBootstrap[] =
    "Firmware download failed.  ZIMO still in boostrap mode.  Reset ZIMO and retry.";
inline constexpr char kFwWatchdog[] = "Watchdog Tripped! Firmware Download Failed.";
inline constexpr char kFwSave[] = "Issuing a '$$$***' then a 'Save'. Wait 5 seconds";
inline constexpr char kFwFinished[] = "Firmware Download Finished. Press Done";
inline constexpr char kFwBaudRate[] =
    "Firmware download may have been successful, baudrate jumpers not set to 38400 may be "
    "causing problem.";
inline constexpr char kFwNotOpen[] = "ZIMO device is not open!";
inline constexpr char kFwBadLength[] = "Firmware file length is not a multiple of 3 bytes: %s";
// The message box shown when the dialog's device is not in bootstrap mode.
inline constexpr std::uint32_t kFwNotInBootstrapText = 91;

// Block sizes of the block loaders.
inline constexpr std::uint32_t kFwUsbBlock = 4096;
inline constexpr std::uint32_t kFwEthBlock = 1024;

// The serial form of ZimoDownloadFirmwareFile, also used by the dialog.
std::int32_t DownloadFirmwareSerial(std::uint32_t device, DownloadMessageCallback message,
                                    DownloadProgressCallback progress, const char* path);

// The firmware dialog's download: USB and Ethernet devices get the block
// loaders, serial devices DownloadFirmwareSerial, all others the bus loader.
// 1 when the run ended without an error.
std::int32_t StartFirmwareDownload(std::uint32_t location, std::uint32_t enumeration,
                                   DownloadMessageCallback message,
                                   DownloadProgressCallback progress, const char* path);

// The dialog's own download state.
class FirmwareDownloadContext {
 public:
  static FirmwareDownloadContext& Instance();

  bool busy() const { return busy_; }
  void set_busy(bool busy) { busy_ = busy; }
  std::uint32_t errors() const { return errors_; }
  void clear_errors() { errors_ = 0; }
  void add_error() { ++errors_; }
  std::atomic<bool>& abort() { return abort_; }
  std::uint32_t location() const { return location_; }
  std::uint32_t enumeration() const { return enumeration_; }
  void set_interface(std::uint32_t location, std::uint32_t enumeration) {
    location_ = location;
    enumeration_ = enumeration;
  }

 private:
  std::atomic<bool> busy_{false};
  std::atomic<bool> abort_{false};
  std::atomic<std::uint32_t> errors_{0};
  std::uint32_t location_ = 0;
  std::uint32_t enumeration_ = 0;
};

}  // namespace zimo::corvan
