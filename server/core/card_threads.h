// The server's threads per card: the DPR mirror, which keeps the host
// copies of the card's fixed real-time and background buffers fresh in the
// shared device table for every client process, and the TAMRX bridge, which
// links the outside device "\\.\TAMRX%d" to the card of the same number
// (20 bytes from the device into DPR 0x3F40, 11 bytes from DPR 0x3F60 back
// to the device).
//
// Starting and stopping are safe from any thread (the main thread, the USB
// watchdog, the shutdown). A card's run flag and thread are changed only
// under that card's lock: the starter sets the flag before it creates the
// thread, so two quick starts make one thread and a stop that comes right
// after a start always finds the flag; the stopper takes the thread out
// under the lock, waits for it with the lock released (the mirror takes the
// card's DPR lock for its copies), and alone forgets it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/shared_table_creation.h"
#include "platform/device_io.h"

namespace zimo::server {

// The DPR windows the bridge copies, and their sizes.
inline constexpr uint32_t kTamrxInputOffset = 0x3F40;
inline constexpr uint32_t kTamrxInputSize = 20;
inline constexpr uint32_t kTamrxOutputOffset = 0x3F60;
inline constexpr uint32_t kTamrxOutputSize = 11;
// The bridge device's two I/O controls.
inline constexpr uint32_t IOCTL_TAMRX_READ = 0x2220C8;   // 20 bytes from the device
inline constexpr uint32_t IOCTL_TAMRX_WRITE = 0x2220CC;  // 11 bytes to the device

class CardThreads {
 public:
  // `cards` is the server's per-card state (server-opened flag, mirror
  // period), which outlives this object.
  explicit CardThreads(ServerCardState (&cards)[kServerCards]);
  // Stops every thread still running.
  ~CardThreads();
  CardThreads(const CardThreads&) = delete;
  CardThreads& operator=(const CardThreads&) = delete;

  // Reads the card's DPR settings (Device%d's Location, Enumeration and
  // DPRNumCoordSys; the location key's DPRAutoActive, periods and motor
  // mask) and switches both fixed buffers on and starts the mirror when
  // DPRAutoActive is above 0, else switches both off. Nothing when the
  // card's DPR is not usable.
  void ApplyCardDprSettings(int device);

  // True when the card's mirror runs afterwards.
  bool StartDprAutoUpdating(int device);
  void StopDprAutoUpdating(int device);

  // Opens "\\.\TAMRX%d" for each card number that has none yet and starts
  // the card's bridge for each one that opened.
  void OpenTamrxDevices();
  bool StartTamrxUpdating(int device);
  void StopTamrxUpdating(int device);

  // Stops every card's bridge and mirror (the shutdown's order per card).
  void StopAll();

  bool mirror_running(int device) const;
  // Whether the card's mirror was started and has ended by itself (both
  // fixed buffers switched off, no bridge), so that only applying the
  // card's settings again starts it.
  bool MirrorEndedByItself(int device);
  bool bridge_running(int device) const;
  bool tamrx_linked(int device) const;

 private:
  // One thread of a card: its run flag and the thread, changed under `mu`.
  struct Worker {
    std::mutex mu;
    std::condition_variable wake;  // a stop cuts the thread's pause short
    std::atomic<bool> run{false};
    std::thread thread;
  };
  struct Card {
    Worker mirror;
    Worker bridge;
    // The bridge device; opened once, used by the bridge thread only.
    platform::DeviceFile tamrx;
    std::atomic<bool> tamrx_open{false};
  };

  bool Start(int device, Worker& worker, void (CardThreads::*body)(int), const char* what);
  // True when the thread was running (its stopped line is then printed).
  bool Stop(Worker& worker);
  // Pauses for `ms` unless the worker is asked to end first; false then.
  static bool Pause(Worker& worker, uint32_t ms);

  void MirrorThread(int device);
  void CopyBackground(int device);
  void CopyRealTime(int device);
  void BridgeThread(int device);

  ServerCardState (&cards_)[kServerCards];
  Card card_[kServerCards];
};

}  // namespace zimo::server
