// Network tests' addresses and waits: a loopback address of the test's own,
// and how long to wait for what must come and for what must not.
#pragma once

#include <unistd.h>

#include <atomic>
#include <string>

namespace zimo::cardsim {

// Generous for what must come, short for what must not.
inline constexpr int kAnswerMs = 5000;
inline constexpr int kSilenceMs = 150;

// A loopback address no other test process uses: 127.<pid>.<n>.
inline std::string UniqueAddress() {
  static std::atomic<int> next{1};
  const int pid = static_cast<int>(::getpid());
  return "127." + std::to_string((pid >> 8) & 0xFF) + "." + std::to_string(pid & 0xFF) + "." +
         std::to_string(next++ % 250 + 1);
}

}  // namespace zimo::cardsim
