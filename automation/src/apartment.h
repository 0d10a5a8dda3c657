// An apartment: one thread that executes the calls arriving for the objects
// it owns, one at a time, in the order they came. In the server that is the
// main thread; in a client process a thread of the runtime's own.
//
// The apartment's thread also reads its connections itself whenever it has
// nothing to run (one epoll set over their sockets), so a call that arrives
// at an idle server runs without a hand-over between threads. While that
// thread waits for the reply to a call it made itself (an event fired at a
// client, a call into another server), it keeps reading and executing the
// calls that arrive, so a client that calls back while handling an event
// does not deadlock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "automation/hresult.h"

namespace zimo::automation::internal {

class Connection;

// An eventfd that wakes a thread's waits. Shared, so that a thread that
// completes a call can still wake its waiter after the waiter has gone.
class WakeFd {
 public:
  WakeFd();
  ~WakeFd();
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;
  int fd() const { return fd_; }
  void Wake() const;
  void Drain() const;

 private:
  int fd_;
};

// The calling thread's: the apartment's own when the thread runs one, else
// one of the thread's own.
std::shared_ptr<WakeFd> CurrentWake();

// One outstanding call: completed by whichever thread reads its reply,
// awaited by the caller.
struct PendingCall {
  std::atomic<bool> done{false};
  HRESULT failure = S_OK;  // RPC_E_DISCONNECTED when no reply can come
  std::vector<uint8_t> reply;
  std::shared_ptr<WakeFd> wake;  // the waiter's
  std::thread::id waiter;

  // Stores the outcome and wakes the waiter (unless it is the caller).
  void Complete(std::vector<uint8_t> body, HRESULT hr);
};

class Apartment {
 public:
  // `run` is false when the apartment stopped before the task could run:
  // the task then refuses its call instead of executing it.
  using Task = std::function<void(bool run)>;

  Apartment();
  ~Apartment();
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

  // The apartment whose thread is calling, or null.
  static Apartment* Current();

  // Queues a task; false once Stop() was called, and then `task` is left
  // to the caller (who refuses its call).
  bool Post(Task&& task);
  // Executes tasks and reads the connections on the calling thread until
  // Quit().
  void Run();
  // Makes Run() return once the task in progress is done. Any thread.
  void Quit();
  // Refuses every queued and later task. Call after Run() returned.
  void Stop();

  // Runs tasks and reads connections until `done` holds. Only on the
  // apartment's own thread (inside Run or a task).
  void Loop(const std::function<bool()>& done);
  // Runs one queued task; false when there was none.
  bool RunOneTask();
  // Reads the connections whose sockets are ready, waiting up to
  // `timeout_ms` (-1: until something happens) for the first.
  void PollOnce(int timeout_ms);

  const std::shared_ptr<WakeFd>& wake() const { return wake_; }
  int epoll_fd() const { return epoll_fd_; }

  // The connections whose sockets this apartment reads: Add gives the id,
  // Register puts the socket in the set (after the connection knows its id),
  // not yet watched; SetWatched turns the watching on and off.
  uint64_t Add(const std::shared_ptr<Connection>& c);
  bool Register(uint64_t id, int fd);
  void SetWatched(uint64_t id, int fd, bool watched);
  void Remove(uint64_t id, int fd);

 private:
  int epoll_fd_ = -1;
  std::shared_ptr<WakeFd> wake_;
  std::mutex mu_;
  std::deque<Task> tasks_;
  std::atomic<bool> quit_{false};
  bool stopped_ = false;
  std::mutex connections_mu_;
  std::unordered_map<uint64_t, std::weak_ptr<Connection>> connections_;
  uint64_t next_id_ = 1;  // 0 is the wake descriptor
};

}  // namespace zimo::automation::internal
