// A legacy ISA card's dual-ported RAM as the host's memory bus sees it: the
// card decodes its 16384-byte window at the address in X:$E009 (bits 16-19)
// and X:$E00A (bits 12-15 in its bits 4-7), which it loads from X:$786/$787
// at power-up. The window is the named shared mapping "ZimoIsaDpr%05X" of
// that address (a host maps it by the same name, before or after the card
// decodes there). While the card decodes somewhere, a thread on real time
// keeps the mapping and the card's DPR memory the same both ways and runs
// the mailbox firmware, so the host needs no bus access to be answered.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cardsim/attach_bus.h"
#include "platform/file_mapping.h"

namespace zimo::cardsim {

class IsaDprWindow {
 public:
  // The mapping's name for a window at `physical`.
  static std::string WindowName(uint32_t physical);

  // Powers the card's decoder up (X:$786/$787 into X:$E009/$E00A) and
  // starts the thread.
  explicit IsaDprWindow(BusAttachment& bus,
                        std::chrono::microseconds period = std::chrono::microseconds(200));
  ~IsaDprWindow();
  IsaDprWindow(const IsaDprWindow&) = delete;
  IsaDprWindow& operator=(const IsaDprWindow&) = delete;

  // Where the card decodes now (0: nowhere).
  uint32_t decode_address() const { return decode_.load(); }

 private:
  void Run();
  void Attach(uint32_t address);
  void Sync();

  BusAttachment& bus_;
  const std::chrono::microseconds period_;
  std::atomic<uint32_t> decode_{0};
  platform::FileMapping mapping_;
  std::vector<uint32_t> seen_;  // the window as last agreed by both sides
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zimo::cardsim
