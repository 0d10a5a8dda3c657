#include "apartment.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "connection.h"

namespace zimo::automation::internal {
namespace {

thread_local Apartment* current_apartment = nullptr;

[[noreturn]] void Fatal(const char* what) {
  std::fprintf(stderr, "automation: %s failed (errno %d)\n", what, errno);
  std::abort();
}

}  // namespace

WakeFd::WakeFd() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) Fatal("eventfd");
}

WakeFd::~WakeFd() { ::close(fd_); }

void WakeFd::Wake() const {
  const uint64_t one = 1;
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void WakeFd::Drain() const {
  uint64_t count;
  while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

std::shared_ptr<WakeFd> CurrentWake() {
  if (Apartment* a = current_apartment) return a->wake();
  thread_local std::shared_ptr<WakeFd> own = std::make_shared<WakeFd>();
  return own;
}

void PendingCall::Complete(std::vector<uint8_t> body, HRESULT hr) {
  reply = std::move(body);
  failure = hr;
  // Take the waiter's wake before `done`: once that is set the waiter may
  // return, and the call with it.
  std::shared_ptr<WakeFd> w = wake;
  const bool other_thread = waiter != std::this_thread::get_id();
  done.store(true, std::memory_order_release);
  if (other_thread) w->Wake();
}

Apartment::Apartment() : wake_(std::make_shared<WakeFd>()) {
  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd_ < 0) Fatal("epoll_create1");
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = 0;
  if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_->fd(), &ev) != 0) Fatal("epoll_ctl");
}

Apartment::~Apartment() { ::close(epoll_fd_); }

Apartment* Apartment::Current() { return current_apartment; }

bool Apartment::Post(Task&& task) {
  {
    std::lock_guard lock(mu_);
    if (stopped_) return false;
    tasks_.push_back(std::move(task));
  }
  if (current_apartment != this) wake_->Wake();
  return true;
}

bool Apartment::RunOneTask() {
  Task task;
  {
    std::lock_guard lock(mu_);
    if (tasks_.empty()) return false;
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  task(true);
  return true;
}

void Apartment::Run() {
  Apartment* previous = current_apartment;
  current_apartment = this;
  Loop([this] { return quit_.load(std::memory_order_acquire); });
  quit_ = false;
  current_apartment = previous;
}

void Apartment::Loop(const std::function<bool()>& done) {
  while (!done()) {
    if (RunOneTask()) continue;
    PollOnce(-1);
  }
}

void Apartment::PollOnce(int timeout_ms) {
  epoll_event events[16];
  int n = ::epoll_wait(epoll_fd_, events, 16, timeout_ms);
  for (int i = 0; i < n; ++i) {
    if (events[i].data.u64 == 0) {
      wake_->Drain();
      continue;
    }
    std::shared_ptr<Connection> c;
    {
      std::lock_guard lock(connections_mu_);
      auto it = connections_.find(events[i].data.u64);
      if (it != connections_.end()) c = it->second.lock();
    }
    if (c != nullptr) c->ReadFromApartment();
  }
}

void Apartment::Quit() {
  quit_.store(true, std::memory_order_release);
  wake_->Wake();
}

void Apartment::Stop() {
  std::deque<Task> refused;
  {
    std::lock_guard lock(mu_);
    stopped_ = true;
    refused.swap(tasks_);
  }
  for (Task& t : refused) t(false);
}

uint64_t Apartment::Add(const std::shared_ptr<Connection>& c) {
  std::lock_guard lock(connections_mu_);
  uint64_t id = next_id_++;
  connections_[id] = c;
  return id;
}

bool Apartment::Register(uint64_t id, int fd) {
  epoll_event ev{};
  ev.events = 0;
  ev.data.u64 = id;
  return ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) == 0;
}

void Apartment::SetWatched(uint64_t id, int fd, bool watched) {
  epoll_event ev{};
  ev.events = watched ? static_cast<uint32_t>(EPOLLIN) : 0u;
  ev.data.u64 = id;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &ev);  // fails harmlessly once removed
}

void Apartment::Remove(uint64_t id, int fd) {
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
  std::lock_guard lock(connections_mu_);
  connections_.erase(id);
}

}  // namespace zimo::automation::internal
