#include "download/firmware_download.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "corvan/bus_api.h"
#include "corvan/command_api.h"
#include "corvan/device_level_api.h"
#include "corvan/errors.h"
#include "corvan/eth_api.h"
#include "corvan/firmware_api.h"
#include "corvan/internal/device_user_handle.h"
#include "corvan/internal/shared_table.h"
#include "corvan/serial_api.h"
#include "download/download_state.h"
#include "drivers/zimo_ioctl.h"
#include "link/card_text.h"
#include "link/device_registry.h"
#include "link/driver_device.h"
#include "link/error_texts.h"
#include "link/identify.h"
#include "link/library_app.h"
#include "link/serial_setup.h"
#include "link/serial_transport.h"
#include "platform/clock.h"
#include "platform/message.h"
#include "platform/win_path.h"

namespace zimo::corvan {
namespace {

constexpr unsigned kPortStatus = 2, kPortLow = 5, kPortMiddle = 6, kPortHigh = 7;
constexpr std::uint8_t kPortTakesWord = 0x02;
constexpr std::uint32_t kReplyLimit = 70;
constexpr std::uint32_t kControlReplyLimit = 100;
constexpr std::size_t kTextSize = 512;
constexpr char kMessageCaption[] = "ZIMO Communications";

// One firmware run: where it goes, whom it tells and where it counts errors.
struct Run {
  int device = 0;
  DownloadMessageCallback message = nullptr;
  DownloadProgressCallback progress = nullptr;
  std::string path;  // as the caller gave it, for the texts
  std::vector<std::uint8_t> image;
  std::function<bool()> aborted;
  std::uint32_t poll_limit = kDefaultPortPollLimit;
  std::function<void(const char*)> count_error;
  // The dialog's loaders check the shared bootstrap flag instead of asking
  // the card, and know the watchdog reply.
  bool dialog = false;

  void Message(const char* text) const {
    if (message != nullptr) message(text, 1);
  }
  void Error(const char* text) const {
    if (count_error) count_error(text);
  }
  void Progress(std::size_t position) const {
    if (progress == nullptr || image.empty()) return;
    progress(static_cast<std::int32_t>(position * 100 / image.size()));
  }
  bool Aborted() const { return aborted && aborted(); }
  void SetBootstrapFlag(std::uint32_t value) const {
    if (SharedDeviceBlock* block = App().Block(device)) block->BootstrapFlag = value;
  }
};

void WaitMs(std::int64_t ms) { platform::CurrentClock().Sleep(platform::Micros(ms * 1000)); }

std::string Response(int device, const char* command) {
  char reply[kReplyLimit + 2] = {};
  ZimoGetResponseA(static_cast<std::uint32_t>(device), reply, kReplyLimit, command);
  reply[kReplyLimit] = 0;
  return reply;
}

bool HoldsBootstrap(const std::string& reply) {
  return reply.find("BOOTSTRAP") != std::string::npos;
}

// The version the card reports, without white space.
std::string CardVersion(int device) {
  std::string reply = Response(device, "ver");
  szStripWhiteSpaceA(reply.data());
  return reply.c_str();
}

// Ctrl-X, then "?": the card must answer from its bootstrap loader.
bool AskBootstrap(const Run& run) {
  char reply[kControlReplyLimit + 2] = {};
  ZimoGetControlResponseA(static_cast<std::uint32_t>(run.device), reply, kControlReplyLimit,
                          kCtrlX);
  return HoldsBootstrap(Response(run.device, "?"));
}

// The start every loader shares. False when the run must end.
bool CheckBootstrap(const Run& run) {
  const bool in_bootstrap = run.dialog ? GetBootstrapFlag(run.device) != 0 : AskBootstrap(run);
  if (in_bootstrap) return true;
  run.Message(kFwNotInBootstrap);
  run.Error(kFwNotInBootstrap);
  if (run.dialog) {
    const char* text = LibraryText(kFwNotInBootstrapText);
    platform::ShowMessageBox(text != nullptr ? text : "", kMessageCaption, platform::kMbOk);
  }
  return false;
}

void ReportStillInBootstrap(const Run& run) {
  run.SetBootstrapFlag(1);
  run.Error(kFwStillBootstrap);
  run.Message(kFwStillBootstrap);
}

void ReportVersion(const Run& run, const char* format) {
  char text[kTextSize];
  std::snprintf(text, sizeof text, format, CardVersion(run.device).c_str());
  run.Message(text);
}

void DownloadingMessage(const Run& run) {
  char text[kTextSize];
  std::snprintf(text, sizeof text, "Downloading Firmware: %s", run.path.c_str());
  DownloadState::Instance().ReportDownloadMessage(text);
}

// The image through port registers 5, 6 and 7, then the verification.
void BusLoader(Run& run) {
  const auto d = static_cast<std::uint32_t>(run.device);
  // The dialog refuses on the shared bootstrap flag before it sends
  // anything. The library's entry asks the card, and the bootstrap loader
  // serves no mailbox: a device on the DPR mailbox is switched to the bus
  // port first.
  if (run.dialog && !CheckBootstrap(run)) return;
  const SharedDeviceBlock* block = App().Block(run.device);
  const bool bus_port = block != nullptr && (!run.dialog || block->Location == kLocationIsa ||
                                             block->Location == kLocationPci);
  if (!bus_port || (ZimoGetAsciiComm(d) == 1 && ZimoSetAsciiComm(d, 0) == 0)) {
    run.Message(kFwCannotSetBus);
    run.Error(kFwCannotSetBus);
    return;
  }
  if (!run.dialog && !CheckBootstrap(run)) return;
  LockZimo(d);
  run.Message(kFwCtrlD);
  ZimoSendCharA(d, kCtrlD);
  WaitMs(250);
  ZimoSendCharA(d, kCr);
  const platform::Micros deadline = platform::CurrentClock().Now() + platform::Micros(10000000);
  while (ZimoReadReady(d) == 0 && platform::CurrentClock().Now() < deadline) WaitMs(1);
  (void)Inp(d, kPortHigh);

  run.Message(kFwCtrlO);
  ZimoSendCharA(d, kCtrlO);
  WaitMs(5000);
  DownloadingMessage(run);
  for (std::size_t at = 0; at + 3 <= run.image.size() && !run.Aborted(); at += 3) {
    // A card that does not signal readiness within the poll limit gets the
    // word anyway; the verification decides.
    for (std::uint32_t poll = 0; poll < run.poll_limit; ++poll) {
      if ((Inp(d, kPortStatus) & kPortTakesWord) != 0) break;
    }
    Outp(d, kPortLow, run.image[at + 2]);
    Outp(d, kPortMiddle, run.image[at + 1]);
    Outp(d, kPortHigh, run.image[at]);
    run.Progress(at + 3);
  }
  Outp(d, kPortLow, 0);
  Outp(d, kPortMiddle, 0);
  ZimoSendCharA(d, kCtrlR);
  run.Message(kFwCtrlR);
  WaitMs(5000);

  ZimoFlush(d);
  const std::string reply = Response(run.device, "?");
  if (run.dialog && !reply.empty() && static_cast<unsigned char>(reply[0]) == 0xFF) {
    run.Error(kFwWatchdog);
    run.SetBootstrapFlag(0);
    run.Message(kFwWatchdog);
  } else if (HoldsBootstrap(reply) || reply.size() < 11) {
    ReportStillInBootstrap(run);
  } else {
    if (run.message != nullptr) {
      ReportVersion(run, "Download of firmware version %s successful");
      Response(run.device, "$$$***");
      Response(run.device, "SAVE");
      run.Message(kFwSave);
      WaitMs(5000);
      run.Message(kFwFinished);
    }
    run.SetBootstrapFlag(0);
  }
  ReleaseZimo(d);
}

bool WriteFirmwareBlockUsb(int device, const std::uint8_t* data, std::uint32_t length,
                           std::uint32_t first) {
  std::uint32_t value = first;
  return DriverIoctl(device, drivers::IOCTL_ZIMO_VALUE_BLOCK, data, length, &value, sizeof value)
      .ok;
}

// The image in firmware blocks (USB or Ethernet), low byte first, then the
// verification.
void BlockLoader(Run& run, bool usb) {
  const auto d = static_cast<std::uint32_t>(run.device);
  if (!CheckBootstrap(run)) return;
  LockZimo(d);
  auto port = [&](std::uint8_t offset, std::uint8_t value) {
    if (usb) {
      Outp(d, offset, value);
    } else {
      EthOutp(d, offset, value);
    }
  };
  const std::uint32_t size = usb ? kFwUsbBlock : kFwEthBlock;
  std::vector<std::uint8_t> block;
  block.reserve(size);
  std::uint32_t first = 1;
  auto send = [&] {
    if (block.empty()) return;
    if (usb) {
      WriteFirmwareBlockUsb(run.device, block.data(), static_cast<std::uint32_t>(block.size()),
                            first);
    } else {
      EthWriteFirmwareBlock(d, static_cast<std::uint16_t>(first), block.data(),
                            static_cast<std::uint32_t>(block.size()));
    }
    first = 0;
    block.clear();
  };

  port(kPortHigh, kCtrlO);
  WaitMs(5000);
  DownloadingMessage(run);
  for (std::size_t at = 0; at + 3 <= run.image.size() && !run.Aborted(); at += 3) {
    for (int i = 2; i >= 0; --i) {
      block.push_back(run.image[at + static_cast<std::size_t>(i)]);
      if (block.size() == size) send();
    }
    run.Progress(at + 3);
  }
  send();
  port(kPortLow, 0);
  port(kPortMiddle, 0);
  port(kPortHigh, kCtrlR);
  run.Message(kFwCtrlR);
  WaitMs(5000);

  const std::string reply = Response(run.device, "I3=2I63=1I64=1?");
  if (HoldsBootstrap(reply) || reply.size() < 11) {
    ReportStillInBootstrap(run);
  } else {
    if (run.message != nullptr) {
      ReportVersion(run, "Download of firmware version %s successful");
      run.Message(kFwFinished);
    }
    run.SetBootstrapFlag(0);
  }
  ReleaseZimo(d);
}

// Switches the line's output flow control for the verification; gives back
// the settings to restore.
std::uint32_t SetVerificationFlowControl(int device) {
  SharedDeviceBlock* block = App().Block(device);
  platform::SerialPort* port = SerialPortOf(device);
  if (block == nullptr) return 0;
  const std::uint32_t saved = block->SerialDcb.Flags;
  block->SerialDcb.Flags = (saved & ~kDcbOutxCtsFlow) | kDcbOutX | kDcbInX;
  if (port != nullptr) ApplySerialState(*block, *port);
  return saved;
}

void RestoreFlowControl(int device, std::uint32_t saved) {
  SharedDeviceBlock* block = App().Block(device);
  platform::SerialPort* port = SerialPortOf(device);
  if (block == nullptr) return;
  block->SerialDcb.Flags = saved;
  if (port != nullptr) ApplySerialState(*block, *port);
}

// The image byte by byte on the serial line, then the verification.
void SerialLoader(Run& run) {
  const auto d = static_cast<std::uint32_t>(run.device);
  run.dialog = false;  // the serial loader always asks the card
  if (!CheckBootstrap(run)) return;
  LockZimo(d);
  run.Message(kFwCtrlO);
  ZimoSERSendCharA(d, kCtrlO);
  WaitMs(5000);
  char text[kTextSize];
  std::snprintf(text, sizeof text, "Downloading Firmware: %s", run.path.c_str());
  run.Message(text);

  for (std::size_t at = 0; at < run.image.size(); ++at) {
    ZimoSERSendCharA(d, static_cast<char>(run.image[at]));
    run.Progress(at + 1);
  }
  const std::uint32_t saved = SetVerificationFlowControl(run.device);
  ZimoSERSendCharA(d, kCtrlR);
  run.Message(kFwCtrlR);
  WaitMs(5000);
  ZimoSERFlush(d);
  ZimoSERSendCharA(d, kCtrlZ);
  ZimoSERSendLineA(d, "?");
  for (int lines = 0; lines < 5; ++lines) {
    char line[256] = {};
    std::uint32_t count = 0;
    ZimoSERGetLineA(d, line, 255, &count);
    if (std::strlen(line) >= 3) break;
  }
  RestoreFlowControl(run.device, saved);
  ZimoSERFlush(d);

  const std::string reply = Response(run.device, "?");
  if (reply.size() <= 1) {
    run.Message(kFwBaudRate);
  } else if (HoldsBootstrap(reply) || reply.size() < 11) {
    ReportStillInBootstrap(run);
  } else {
    if (run.message != nullptr) {
      ReportVersion(run, "Download of firmware version %s successful. Press Done");
    }
    run.SetBootstrapFlag(0);
  }
  ReleaseZimo(d);
}

bool DeviceOpenHere(int device) {
  const DeviceUserHandle* user = App().User(device);
  return user != nullptr && user->OpenCount > 0 && user->Transport != nullptr;
}

// Reads the image. On failure the text names the cause, as a program
// download reports a file it cannot read.
bool ReadImage(const char* path, std::vector<std::uint8_t>* image, char* text, std::size_t size) {
  const char* shown = path != nullptr ? path : "";
  const std::filesystem::path host = platform::ToHostPath(shown);
  std::error_code ec;
  if (path == nullptr || *path == 0 || !std::filesystem::exists(host, ec)) {
    std::snprintf(text, size, "File not found: %s", shown);
    return false;
  }
  if (::access(host.c_str(), R_OK) != 0 && errno == EACCES) {
    std::snprintf(text, size, "Access permission denied to: %s", shown);
    return false;
  }
  std::ifstream in(host, std::ios::binary);
  if (!in || std::filesystem::is_directory(host, ec)) {
    std::snprintf(text, size, "Unable to locate file: %s", shown);
    return false;
  }
  image->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (image->size() % 3 != 0) {
    std::snprintf(text, size, kFwBadLength, shown);
    return false;
  }
  return true;
}

// Prepares a run on the process-wide state; false (with the error counted,
// reported and logged) when the image cannot be used.
bool BeginProcessRun(Run& run, std::uint32_t device, DownloadMessageCallback message,
                     DownloadProgressCallback progress, const char* path) {
  DownloadState& state = DownloadState::Instance();
  state.set_active(false);  // the loaders talk to the caller's callbacks only
  state.BeginRun();
  run.device = static_cast<int>(device);
  run.message = message;
  run.progress = progress;
  run.path = path != nullptr ? path : "";
  run.count_error = [&state](const char* text) { state.ReportDownloadError(text, 0); };
  run.aborted = [&state] { return state.aborted(); };
  char text[kTextSize];
  if (!DeviceOpenHere(run.device)) {
    run.Message(kFwNotOpen);
    run.Error(kFwNotOpen);
    return false;
  }
  if (!ReadImage(path, &run.image, text, sizeof text)) {
    run.Message(text);
    state.ReportDownloadError(text, 1);
    state.WriteLog(kDownloadFallbackLog, run.path.c_str());
    return false;
  }
  return true;
}

std::int32_t EndProcessRun() {
  DownloadState& state = DownloadState::Instance();
  const std::uint32_t errors = state.errors();
  state.EndRun();
  return errors == 0 ? 1 : 0;
}

}  // namespace

FirmwareDownloadContext& FirmwareDownloadContext::Instance() {
  static FirmwareDownloadContext context;
  return context;
}

std::int32_t DownloadFirmwareSerial(std::uint32_t device, DownloadMessageCallback message,
                                    DownloadProgressCallback progress, const char* path) {
  if (DownloadState::Instance().busy()) {
    if (message != nullptr) message(kFwAlreadyRunning, 1);
    return 0;
  }
  Run run;
  if (!BeginProcessRun(run, device, message, progress, path)) return EndProcessRun();
  SerialLoader(run);
  return EndProcessRun();
}

std::int32_t StartFirmwareDownload(std::uint32_t location, std::uint32_t enumeration,
                                   DownloadMessageCallback message,
                                   DownloadProgressCallback progress, const char* path) {
  FirmwareDownloadContext& context = FirmwareDownloadContext::Instance();
  context.set_interface(location, enumeration);
  // The device under test, found from its interface: never another card
  // this process happens to have open.
  int device = 0;
  if (FindDeviceByLocation(location, enumeration, &device) == 0 || !DeviceOpenHere(device)) {
    if (message != nullptr) message(kFwNotOpen, 1);
    return 0;
  }
  if (location == kLocationSerial) {
    return DownloadFirmwareSerial(static_cast<std::uint32_t>(device), message, progress, path);
  }
  if (context.busy() || DownloadState::Instance().busy()) {
    if (message != nullptr) message(kFwAlreadyRunning, 1);
    return 0;
  }
  context.clear_errors();
  Run run;
  run.device = device;
  run.message = message;
  run.progress = progress;
  run.path = path != nullptr ? path : "";
  run.aborted = [&context] { return context.abort().load(); };
  run.dialog = true;
  run.count_error = [&context](const char*) { context.add_error(); };
  char text[kTextSize];
  if (!ReadImage(path, &run.image, text, sizeof text)) {
    run.Message(text);
    context.add_error();
    DownloadState& state = DownloadState::Instance();
    state.set_active(false);  // no program download's callbacks hear of it
    state.ReportDownloadError(text, 1);
    state.WriteLog(kDownloadFallbackLog, run.path.c_str());
    return 0;
  }
  context.set_busy(true);
  context.abort() = false;
  if (location == kLocationUsb) {
    BlockLoader(run, true);
  } else if (location == kLocationEthernet) {
    BlockLoader(run, false);
  } else {
    BusLoader(run);
  }
  context.set_busy(false);
  return context.errors() == 0 ? 1 : 0;
}

}  // namespace zimo::corvan

extern "C" std::int32_t ZimoDownloadFirmwareFile(std::uint32_t device,
                                                 DownloadMessageCallback message,
                                                 DownloadProgressCallback progress,
                                                 const char* path) {
  using namespace zimo::corvan;
  const SharedDeviceBlock* block = App().Block(static_cast<int>(device));
  if (block != nullptr && block->Location == kLocationSerial) {
    return DownloadFirmwareSerial(device, message, progress, path);
  }
  if (DownloadState::Instance().busy()) {
    if (message != nullptr) message(kFwAlreadyRunning, 1);
    return 0;
  }
  Run run;
  if (!BeginProcessRun(run, device, message, progress, path)) return EndProcessRun();
  // The port registers of an Ethernet card lie behind its requests: its image
  // goes in Ethernet firmware blocks.
  if (block != nullptr && block->Location == kLocationEthernet) {
    BlockLoader(run, false);
  } else {
    BusLoader(run);
  }
  return EndProcessRun();
}
