#include "core/card_threads.h"

#include <chrono>
#include <cstdio>

#include "core/card_registry.h"
#include "core/server_trace.h"
#include "corvan/dpr_api.h"
#include "corvan/dpr_channel_api.h"
#include "corvan/status_api.h"
#include "link/device_registry.h"
#include "link/library_app.h"

namespace zimo::server {
namespace {

// The fixed buffers in the card's DPR and their handshakes, per map.
constexpr uint32_t kOlderRealTime = 0x024;  // 516 bytes; bit 0 of its first word: host reading
constexpr uint32_t kOlderRealTimeSize = 516;
constexpr uint32_t kOlderRealTimeReady = 0x026;  // bit 15: new data
constexpr uint32_t kOlderBackground = 0x228;     // 1028 bytes; its first word non-zero: new data
constexpr uint32_t kOlderBackgroundSize = 1028;
constexpr uint32_t kSpranRealTime = 0x068;  // 1548 bytes
constexpr uint32_t kSpranRealTimeSize = 1548;
constexpr uint32_t kSpranRealTimeReady = 0x06E;  // bit 15: new data
constexpr uint32_t kSpranBackground = 0x674;     // 2088 bytes
constexpr uint32_t kSpranBackgroundSize = 2088;
constexpr uint32_t kSpranBackgroundReady = 0x67B;  // byte non-zero: new data

constexpr uint32_t kBridgeHalfPauseMs = 5;
constexpr uint32_t kBridgeIdleMs = 20;

// The card's DPR lock for one copy.
class DprLock {
 public:
  explicit DprLock(int device) : device_(static_cast<uint32_t>(device)) { LockZimoDPR(device_); }
  ~DprLock() { ReleaseZimoDPR(device_); }
  DprLock(const DprLock&) = delete;
  DprLock& operator=(const DprLock&) = delete;

 private:
  uint32_t device_;
};

}  // namespace

CardThreads::CardThreads(ServerCardState (&cards)[kServerCards]) : cards_(cards) {}

CardThreads::~CardThreads() { StopAll(); }

void CardThreads::ApplyCardDprSettings(int device) {
  if (device < 0 || device >= kServerCards) return;
  const uint32_t d = static_cast<uint32_t>(device);
  if (ZimoDPRAvailable(d) == 0) return;
  uint32_t location = 0;
  uint32_t enumeration = 0;
  corvan::GetDeviceRegDword(device, "Location", &location, 0);
  corvan::GetDeviceRegDword(device, "Enumeration", &enumeration, 0);
  uint32_t auto_active = 0;
  uint32_t background_period = 20;
  uint32_t real_time_period = 20;
  uint32_t motor_mask = 255;
  uint32_t monitor_period = 20;
  corvan::GetLocationRegDword(location, enumeration, "DPRAutoActive", &auto_active, 0);
  corvan::GetLocationRegDword(location, enumeration, "DPRBackgroundPeriod", &background_period, 20);
  corvan::GetLocationRegDword(location, enumeration, "DPRRealTimePeriod", &real_time_period, 20);
  corvan::GetLocationRegDword(location, enumeration, "DPRRealTimeMtrMask", &motor_mask, 255);
  corvan::GetLocationRegDword(location, enumeration, "DPRMonitorPeriod", &monitor_period, 20);
  uint32_t coord_systems = 1;
  ReadCardDword(device, "DPRNumCoordSys", &coord_systems, 1);

  if (static_cast<int32_t>(auto_active) > 0) {
    cards_[device].mirror_period_ms = monitor_period;
    if (corvan::SharedDeviceBlock* block = corvan::App().Block(device)) block->DprLastError = 0;
    ZimoDPRRealTimeEx(d, motor_mask, real_time_period, 1);
    ZimoDPRBackgroundEx(d, 1, background_period, coord_systems);
    StartDprAutoUpdating(device);
  } else {
    ZimoDPRRealTimeEx(d, motor_mask, real_time_period, 0);
    ZimoDPRBackgroundEx(d, 0, background_period, coord_systems);
  }
}

bool CardThreads::Start(int device, Worker& worker, void (CardThreads::*body)(int),
                        const char* what) {
  std::thread ended;  // a thread that stopped by itself, still to be joined
  bool running = false;
  {
    std::lock_guard lock(worker.mu);
    if (worker.run) return worker.thread.joinable();
    if (worker.thread.joinable()) ended = std::move(worker.thread);
    // The flag goes up before the thread exists: a second start sees it,
    // and a stop right after this one finds it to clear.
    worker.run = true;
    try {
      worker.thread = std::thread(body, this, device);
      running = true;
      ServerTrace("ZIMO[%d] %s auto updating started.", device, what);
    } catch (const std::system_error&) {
      worker.run = false;
      ServerTrace("ZIMO[%d] %s auto updating FAILED to start.", device, what);
    }
  }
  if (ended.joinable()) ended.join();
  return running;
}

bool CardThreads::Stop(Worker& worker) {
  std::thread thread;
  bool was_running = false;
  {
    std::lock_guard lock(worker.mu);
    was_running = worker.run;
    worker.run = false;
    thread = std::move(worker.thread);
  }
  worker.wake.notify_all();
  // Waited for outside the lock; only the stopper forgets the thread.
  if (thread.joinable()) thread.join();
  return was_running;
}

bool CardThreads::Pause(Worker& worker, uint32_t ms) {
  std::unique_lock lock(worker.mu);
  worker.wake.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !worker.run; });
  return worker.run;
}

bool CardThreads::StartDprAutoUpdating(int device) {
  if (device < 0 || device >= kServerCards) return false;
  return Start(device, card_[device].mirror, &CardThreads::MirrorThread, "Dual ported RAM");
}

void CardThreads::StopDprAutoUpdating(int device) {
  if (device < 0 || device >= kServerCards) return;
  if (Stop(card_[device].mirror)) {
    ServerTrace("ZIMO[%d] Dual ported RAM auto updating stopped.", device);
  }
}

void CardThreads::MirrorThread(int device) {
  Worker& self = card_[device].mirror;
  while (corvan::App().Block(device) != nullptr) {
    if (cards_[device].server_opened) {
      CopyBackground(device);
      CopyRealTime(device);
    }
    const corvan::SharedDeviceBlock* block = corvan::App().Block(device);
    if (block != nullptr && block->RealTimeActive == 0 && block->BackgroundActive == 0 &&
        !card_[device].tamrx_open) {
      // Nothing left to copy: the mirror ends itself (a later application
      // of the card's settings starts it again).
      std::lock_guard lock(self.mu);
      if (self.run) {
        self.run = false;
        ServerTrace("ZIMO[%d] Dual ported RAM auto updating (SELF) stopped.", device);
      }
    }
    if (!Pause(self, cards_[device].mirror_period_ms)) break;
  }
}

void CardThreads::CopyBackground(int device) {
  corvan::SharedDeviceBlock* block = corvan::App().Block(device);
  if (block == nullptr || block->BackgroundActive == 0) return;
  const uint32_t d = static_cast<uint32_t>(device);
  if (block->SpranFlag != 0) {
    uint8_t ready = 0;
    if (ZimoDPRGetMem(d, kSpranBackgroundReady, 1, &ready) == nullptr || ready == 0) return;
    DprLock lock(device);
    ZimoDPRGetMem(d, kSpranBackground, kSpranBackgroundSize, block->SpranBackgroundCopy);
    const uint8_t zero = 0;
    ZimoDPRSetMem(d, kSpranBackgroundReady, 1, &zero);
  } else {
    if (ZimoDPRGetWord(d, kOlderBackground) == 0) return;
    DprLock lock(device);
    ZimoDPRGetMem(d, kOlderBackground, kOlderBackgroundSize, block->BackgroundCopy);
    ZimoDPRSetWord(d, kOlderBackground, 0);
  }
}

void CardThreads::CopyRealTime(int device) {
  corvan::SharedDeviceBlock* block = corvan::App().Block(device);
  if (block == nullptr || block->RealTimeActive == 0) return;
  const uint32_t d = static_cast<uint32_t>(device);
  uint32_t fresh = 0;
  if (block->SpranFlag != 0) {
    if (ZimoDPRGetMemBit(d, kSpranRealTimeReady, 15, &fresh) == 0 || fresh == 0) return;
    DprLock lock(device);
    ZimoDPRGetMem(d, kSpranRealTime, kSpranRealTimeSize, block->SpranRealTimeCopy);
    ZimoDPRSetMemBit(d, kSpranRealTimeReady, 15, 0);
  } else {
    if (ZimoDPRGetMemBit(d, kOlderRealTimeReady, 15, &fresh) == 0 || fresh == 0) return;
    ZimoDPRSetMemBit(d, kOlderRealTime, 0, 1);  // the host is reading
    DprLock lock(device);
    ZimoDPRGetMem(d, kOlderRealTime, kOlderRealTimeSize, block->RealTimeCopy);
    ZimoDPRSetMemBit(d, kOlderRealTime, 0, 0);
    ZimoDPRSetMemBit(d, kOlderRealTimeReady, 15, 0);
  }
}

void CardThreads::OpenTamrxDevices() {
  for (int d = 0; d < kServerCards; ++d) {
    Card& card = card_[d];
    if (card.tamrx_open) continue;
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\TAMRX%d", d);
    auto opened = platform::DeviceFile::Open(path, nullptr, std::chrono::seconds(2));
    if (!opened.ok()) continue;  // no such device: no bridge, nothing said
    card.tamrx = std::move(*opened);
    card.tamrx_open = true;
    StartTamrxUpdating(d);
  }
}

bool CardThreads::StartTamrxUpdating(int device) {
  if (device < 0 || device >= kServerCards) return false;
  // The bridge runs at the highest priority the system grants this process;
  // an ordinary user gets none above normal, so it runs at normal priority.
  return Start(device, card_[device].bridge, &CardThreads::BridgeThread, "TAMRX");
}

void CardThreads::StopTamrxUpdating(int device) {
  if (device < 0 || device >= kServerCards) return;
  if (Stop(card_[device].bridge)) ServerTrace("ZIMO[%d] TAMRX auto updating stopped.", device);
}

void CardThreads::BridgeThread(int device) {
  Card& card = card_[device];
  const uint32_t d = static_cast<uint32_t>(device);
  uint8_t input[kTamrxInputSize] = {};
  uint8_t output[kTamrxOutputSize] = {};
  while (card.bridge.run) {
    if (cards_[device].server_opened && card.tamrx_open) {
      // The results are not looked at: the next cycle tries again.
      card.tamrx.DeviceIoControl(IOCTL_TAMRX_READ, nullptr, 0, input, sizeof input);
      ZimoDPRSetMem(d, kTamrxInputOffset, sizeof input, input);
      if (!Pause(card.bridge, kBridgeHalfPauseMs)) break;
      ZimoDPRGetMem(d, kTamrxOutputOffset, sizeof output, output);
      card.tamrx.DeviceIoControl(IOCTL_TAMRX_WRITE, output, sizeof output, nullptr, 0);
    } else if (!Pause(card.bridge, kBridgeIdleMs)) {
      break;
    }
  }
}

void CardThreads::StopAll() {
  for (int d = 0; d < kServerCards; ++d) {
    StopTamrxUpdating(d);
    StopDprAutoUpdating(d);
  }
}

bool CardThreads::mirror_running(int device) const {
  return device >= 0 && device < kServerCards && card_[device].mirror.run;
}
bool CardThreads::MirrorEndedByItself(int device) {
  if (device < 0 || device >= kServerCards) return false;
  Worker& worker = card_[device].mirror;
  std::lock_guard lock(worker.mu);
  return !worker.run && worker.thread.joinable();
}
bool CardThreads::bridge_running(int device) const {
  return device >= 0 && device < kServerCards && card_[device].bridge.run;
}
bool CardThreads::tamrx_linked(int device) const {
  return device >= 0 && device < kServerCards && card_[device].tamrx_open;
}

}  // namespace zimo::server
