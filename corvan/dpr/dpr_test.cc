// The DPR memory test. The card writes 0xAAAA into both halves of every
// word of its DPR through memory commands and the host reads them back;
// the host fills the DPR with 0x55 bytes and the card reads every half
// back; the host clears the DPR. A word counts one error per half the host
// finds wrong, and one when the card's reading of either half is wrong.
//
// Everything runs on the caller's thread under the device's command lock;
// the card's loops that write DPR are switched off first (they stay off),
// and I5 and I3 are put back at the end.
#include "dpr/dpr_test.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_level_api.h"
#include "corvan/dpr_api.h"
#include "corvan/dpr_test_api.h"
#include "corvan/rings_api.h"
#include "corvan/variables_api.h"
#include "drivers/zimo_ioctl.h"
#include "link/driver_device.h"
#include "link/library_app.h"
#include "platform/message.h"

namespace zimo::corvan {
namespace {

using namespace std::chrono_literals;

constexpr char kNotEnabled[] = "Dual Ported RAM not enabled!";
constexpr char kAlreadyRunning[] = "Dual Ported RAM Testing thread already running!";
constexpr char kSettingUp[] = "Setting up for Dual Ported Ram Test";
constexpr char kCannotSetBus[] = "Cannot set communications mode to BUS.";
constexpr char kCardWrites[] = "Writing to DPR address (via ZIMO)";
constexpr char kHostVerifies[] = "Reading/Verifying DPR (via PC)";
constexpr char kHostWrites[] = "Writing to DPR Address (via PC)";
constexpr char kCardVerifies[] = "Reading/Verifying DPR (via ZIMO)";
constexpr char kClearing[] = "Clearing all Dual Ported Ram";
constexpr char kNotResponding[] = "ZIMO not responding...";
constexpr char kNoSize[] = "ZIMO reported no valid DPRAM size.";
constexpr char kHostAccessFailed[] = "The DPRAM could not be reached from the PC.";
constexpr char kCompleted[] = "DPRAM test completed successfully";
constexpr char kBoxCaption[] = "DPRAM Test";

constexpr std::uint32_t kOlderBase = 0xD000;
constexpr std::uint32_t kSpranBase = 0x60000;
constexpr std::uint32_t kWindowBytes = 16384;
constexpr std::uint16_t kCardPattern = 0xAAAA;
constexpr std::uint8_t kHostPattern = 0x55;
constexpr auto kReplyTimeout = 5000ms;
constexpr std::uint32_t kLineSize = 256;  // 255 characters and the terminator

std::atomic<bool> g_running{false};
std::atomic<bool> g_abort{false};
std::atomic<platform::Clock*> g_clock{nullptr};

platform::Clock& TestClock() {
  platform::Clock* clock = g_clock.load();
  return clock != nullptr ? *clock : platform::CurrentClock();
}

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

std::string RestoreLine(long i5, long i3) {
  char text[64];
  std::snprintf(text, sizeof text, "I5 = %ld I3= %ld", i5, i3);
  return text;
}

std::string FailedText(std::uint32_t errors, std::uint32_t address) {
  char text[160];
  std::snprintf(text, sizeof text,
                "DPRAM test failed. Total number of errors: %ld \n ZIMO Address of last error: $%X",
                static_cast<long>(errors), address);
  return text;
}

std::string AbortedText(std::uint32_t errors) {
  char text[80];
  std::snprintf(text, sizeof text, "DPRAM test Aborted. Total number of errors: %ld",
                static_cast<long>(errors));
  return text;
}

class DprTestRun {
 public:
  DprTestRun(std::uint32_t device, DprTestCallback callback, DprTestProgress progress)
      : device_(device), callback_(callback), progress_(progress) {}

  void Run() {
    Report(0, kSettingUp, 0);
    const std::int32_t saved_channel = ZimoGetAsciiComm(device_);
    if (ZimoSetAsciiComm(device_, 0) != 1) {
      Report(0, kCannotSetBus, 0);
      Halt(kCannotSetBus);
      Finish();
      return;
    }
    LockZimo(device_);
    saved_i5_ = ZimoGetIVariableLong(device_, 5, 0);
    saved_i3_ = ZimoGetIVariableLong(device_, 3, 2);
    ZimoFlush(device_);
    Test();
    ReleaseZimo(device_);
    Finish();
    if (card_changed_) {
      char reply[kLineSize];
      const std::string restore = RestoreLine(saved_i5_, saved_i3_);
      ZimoGetResponseA(device_, reply, sizeof reply, restore.c_str());
      ChangeStore(device_, restore.c_str());
    }
    ZimoSetAsciiComm(device_, saved_channel);
  }

 private:
  SharedDeviceBlock* Block() const {
    const int d = IndexFromDeviceNumber(device_);
    return IsRealDevice(d) ? App().Block(d) : nullptr;
  }

  void Report(std::uint32_t errors, const char* text, std::uint32_t offset) const {
    if (callback_ != nullptr) callback_(errors, text, offset);
  }
  void Progress(std::uint32_t offset) const {
    if (progress_ == nullptr) return;
    progress_(last_offset_ == 0 ? 100 : static_cast<std::int32_t>(offset * 100ull / last_offset_));
  }
  void Halt(const std::string& text) {
    comm_error_ = true;
    comm_text_ = text;
  }
  // Between steps: true when the caller asked the test to stop.
  bool Aborted(std::uint32_t offset) {
    current_address_ = base_ + offset / 4;
    if (!g_abort.load()) return false;
    aborted_ = true;
    return true;
  }
  void CountError(std::uint32_t address) {
    ++errors_;
    last_error_address_ = address;
  }

  // The DPR's size in bytes and the card address of its first word; false
  // (with the reason kept) when the card does not give a usable size.
  bool MeasureDpr() {
    const SharedDeviceBlock* block = Block();
    if (block == nullptr) return false;
    if (block->SpranFlag == 0) {
      size_ = kWindowBytes;
      base_ = kOlderBase;
      return true;
    }
    const std::int32_t saved_i9 = ZimoGetIVariableLong(device_, 9, 0);
    ZimoSetVariableLong(device_, 'I', 9, 2);
    char first[kLineSize] = {}, second[kLineSize] = {};
    ZimoGetResponseA(device_, first, sizeof first, "rhx$320f");
    ZimoGetResponseA(device_, second, sizeof second, "rhx$3210");
    ZimoSetVariableLong(device_, 'I', 9, saved_i9);
    std::int64_t size = 0;
    if (IsHexDigit(first[0]) && IsHexDigit(second[0])) {
      size = (static_cast<std::int64_t>(std::strtoul(second, nullptr, 16)) -
              static_cast<std::int64_t>(std::strtoul(first, nullptr, 16))) *
             4;
      if (size != 0 && block->Location == kLocationIsa) size = kWindowBytes;
    }
    if (size <= 0 || size % 4 != 0 || size > kWindowBytes) return false;
    size_ = static_cast<std::uint32_t>(size);
    const std::int32_t i24 = ZimoGetVariableLong(device_, 'I', 24, 0);
    base_ = i24 != 0 ? static_cast<std::uint32_t>(i24) : kSpranBase;
    return true;
  }

  // Switches off everything on the card that writes its DPR and brings its
  // communication settings to a known state.
  void QuietCard() {
    for (const char* line : {"close", "i2=0", "i48..49=0endgat", "i55..58=0"}) {
      ZimoSendCommandA(device_, line);
    }
    if (SharedDeviceBlock* block = Block()) {
      block->DprAsciiEnabled = 0;
      block->DprAutoActive = 0;
      block->BackgroundActive = 0;
      block->RealTimeActive = 0;
      block->ControlPanelOn = 0;
      block->BinaryRotaryMode = 0;
    }
    ZimoSendCommandA(device_, "i5=0 i3=2 I6=1 I63=1 I64=1");
  }

  // Takes the card's reply to the line just sent; false (halted) when the
  // card stays silent or answers an error.
  bool TakeReply() {
    platform::Clock& clock = TestClock();
    const platform::Micros start = clock.Now();
    while (ZimoReadReady(device_) == 0) {
      if (clock.Now() - start >= kReplyTimeout) {
        Halt(kNotResponding);
        return false;
      }
      clock.Sleep(1ms);
    }
    for (;;) {
      char line[kLineSize];
      const std::uint32_t count = ZimoGetLineA(device_, line, sizeof line);
      if (ZimoGetError(device_) > 0) {
        char text[kLineSize] = {};
        ZimoGetErrorStrA(device_, text, sizeof text);
        Halt(text);
        return false;
      }
      if (count < 1) return true;
    }
  }

  // One card half read back: it must be a hexadecimal reply holding the
  // host's pattern after its first two digits.
  bool CardHalfGood(const char* command) {
    char reply[kLineSize] = {};
    ZimoGetResponseA(device_, reply, sizeof reply, command);
    if (ZimoGetError(device_) > 0) {
      char text[kLineSize] = {};
      ZimoGetErrorStrA(device_, text, sizeof text);
      Halt(text);
      return false;
    }
    return IsHexDigit(reply[0]) && std::strlen(reply) > 2 &&
           std::strstr(reply + 2, "5555") != nullptr;
  }

  void Test() {
    if (!MeasureDpr()) {
      Halt(kNoSize);
      return;
    }
    last_offset_ = size_ - 4;
    QuietCard();
    card_changed_ = true;
    g_abort = false;
    errors_ = 0;

    Report(0, kCardWrites, 0);
    for (std::uint32_t i = 0; i <= last_offset_; i += 4) {
      if (Aborted(i)) return;
      char line[64];
      std::snprintf(line, sizeof line, "wl$%X,$AAAAAAAAAAAA", current_address_);
      ZimoSendLineA(device_, line);
      Report(errors_, nullptr, i);
      Progress(i);
      if (!TakeReply()) return;
    }

    Report(errors_, kHostVerifies, last_offset_);
    std::vector<std::uint8_t> image(size_);
    if (ZimoDPRGetMem(device_, 0, size_, image.data()) == nullptr) {
      Halt(kHostAccessFailed);
      return;
    }
    for (std::uint32_t i = 0; i <= last_offset_; i += 4) {
      if (Aborted(i)) return;
      for (std::uint32_t half : {0u, 2u}) {
        std::uint16_t word;
        std::memcpy(&word, image.data() + i + half, sizeof word);
        if (word != kCardPattern) CountError(current_address_);
      }
      Report(errors_, nullptr, i);
      Progress(i);
    }

    Report(errors_, kHostWrites, last_offset_);
    std::fill(image.begin(), image.end(), kHostPattern);
    if (ZimoDPRSetMem(device_, 0, size_, image.data()) == nullptr) {
      Halt(kHostAccessFailed);
      return;
    }

    Report(errors_, kCardVerifies, last_offset_);
    for (std::uint32_t i = 0; i <= last_offset_; i += 4) {
      if (Aborted(i)) return;
      char y[32], x[32];
      std::snprintf(y, sizeof y, "rhy$%X", current_address_);
      std::snprintf(x, sizeof x, "rhx$%X", current_address_);
      const bool y_good = CardHalfGood(y);
      if (comm_error_) return;
      const bool x_good = CardHalfGood(x);
      if (comm_error_) return;
      if (!y_good || !x_good) CountError(current_address_);
      Report(errors_, nullptr, i);
      Progress(i);
    }

    Report(errors_, kClearing, 0);
    std::fill(image.begin(), image.end(), 0);
    if (ZimoDPRSetMem(device_, 0, size_, image.data()) == nullptr) Halt(kHostAccessFailed);
  }

  // The final text, also shown in a box unless the test passed.
  void Finish() {
    std::string text;
    if (aborted_ && errors_ > 0) {
      text = FailedText(errors_, current_address_ - 1);
    } else if (aborted_) {
      text = AbortedText(errors_);
    } else if (comm_error_) {
      text = std::string("DPRAM test halted. Communication error: ") + comm_text_;
    } else if (errors_ > 0) {
      text = FailedText(errors_, last_error_address_);
    } else {
      text = kCompleted;
    }
    if (text != kCompleted) platform::ShowMessageBox(text, kBoxCaption, platform::kMbOk);
    Report(errors_, text.c_str(), 0);
  }

  std::uint32_t device_;
  DprTestCallback callback_;
  DprTestProgress progress_;
  std::int32_t saved_i5_ = 0;
  std::int32_t saved_i3_ = 2;
  std::uint32_t size_ = 0;
  std::uint32_t base_ = kOlderBase;
  std::uint32_t last_offset_ = 0;
  std::uint32_t current_address_ = kOlderBase;
  std::uint32_t last_error_address_ = 0;
  std::uint32_t errors_ = 0;
  bool comm_error_ = false;
  bool aborted_ = false;
  bool card_changed_ = false;
  std::string comm_text_;
};

}  // namespace

void SetDprTestClock(platform::Clock* clock) { g_clock = clock; }

}  // namespace zimo::corvan

extern "C" {

int32_t ZimoDPRTest(uint32_t device, DprTestCallback callback, DprTestProgress progress) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  const DeviceUserHandle* user = IsRealDevice(d) ? App().User(d) : nullptr;
  if (user == nullptr || user->DprAvailable == 0) {
    if (callback != nullptr) callback(0, kNotEnabled, 0);
    return 0;
  }
  bool idle = false;
  if (!g_running.compare_exchange_strong(idle, true)) {
    if (callback != nullptr) callback(0, kAlreadyRunning, 0);
    return 1;
  }
  DprTestRun(device, callback, progress).Run();
  g_running = false;
  return 1;
}

void ZimoAbortDPRTest(void) { zimo::corvan::g_abort = true; }

int32_t ZimoDPRPCITest(uint32_t device) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  if (!IsRealDevice(d)) return 0;
  return DriverIoctl(d, zimo::drivers::IOCTL_ZIMO_DPR_TEST, nullptr, 0, nullptr, 0).ok ? 1 : 0;
}

}  // extern "C"
