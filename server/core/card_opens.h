// The server's own opens of its cards, each on a thread of its own, so that
// a card whose open hangs (its device lock held by a stuck client, a driver
// that never answers) or takes long (a card that does not answer waits out
// its time-outs) holds up neither the other cards nor the server's start:
// a card-open pass waits for each open a bounded time and goes on; an open
// that ends later is handed over then.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

#include "core/shared_table_creation.h"

namespace zimo::server {

class CardOpens {
 public:
  CardOpens();

  // Starts `open` for `device` on a thread of its own; false (nothing
  // started) while an earlier open of the device is still running or its
  // result has not been taken. The
  // thread keeps only what `open` holds and the record of its result.
  bool Start(int device, std::function<bool()> open);
  // Waits until the open of `device` has ended or `limit` has passed.
  void WaitFor(int device, std::chrono::milliseconds limit);
  // Waits until every started open has ended or `limit` has passed.
  void WaitForAll(std::chrono::milliseconds limit);
  // The result of an ended open not taken yet (true: opened), once.
  std::optional<bool> Take(int device);
  bool Running(int device) const;
  // Waits until an ended open's result waits to be taken; false when `stop`
  // was requested.
  bool WaitForEnded(std::stop_token stop);

 private:
  struct Slot {
    bool running = false;
    bool ended = false;  // a result waits to be taken
    bool opened = false;
  };
  struct Board {
    mutable std::mutex mu;
    std::condition_variable_any changed;
    Slot slots[kServerCards];
  };
  std::shared_ptr<Board> board_;
};

}  // namespace zimo::server
