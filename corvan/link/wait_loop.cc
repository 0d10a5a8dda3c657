#include "link/wait_loop.h"

#include <atomic>
#include <chrono>

#include "corvan/device_api.h"
#include "platform/clock.h"
#include "platform/debug.h"

namespace zimo::corvan {

bool CalibrateWaits(std::uint32_t milliseconds, std::uint32_t* count) {
  if (!platform::TimerResolutionAvailable(std::chrono::milliseconds(1))) {
    platform::DebugOutput("MultiMedia Timer Error");
    return false;
  }
  // Each calibration has its own expiry flag, so calibrations on several
  // threads of one process do not disturb each other.
  std::atomic<bool> expired{false};
  platform::Timer timer(std::chrono::milliseconds(milliseconds), platform::Timer::Kind::kOneShot,
                        [&expired] { expired.store(true); });
  std::uint32_t waits = 1;  // the first wait returns at once
  while (!expired.load()) {
    platform::SleepMs(1);
    ++waits;
  }
  timer.Cancel();
  if (count != nullptr) *count = waits;
  return true;
}

}  // namespace zimo::corvan

extern "C" std::int32_t CalibrateWaitLoop(std::uint32_t milliseconds, std::uint32_t* count) {
  return zimo::corvan::CalibrateWaits(milliseconds, count) ? 1 : 0;
}
