// One source interface of an object: the sinks advised to it and the firing
// of its events. Safe from any thread: a sink may be advised or unadvised
// (also from inside its own handler) while an event is being fired.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "automation/dispatch.h"

namespace zimo::automation {

class ConnectionPoint {
 public:
  explicit ConnectionPoint(const Guid& iid) : iid_(iid) {}
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  const Guid& iid() const { return iid_; }

  // E_POINTER for a null sink or cookie; CONNECT_E_CANNOTCONNECT when the
  // sink does not implement the interface. Cookies are never 0 and never
  // reused within the connection point's life.
  HRESULT Advise(std::shared_ptr<Dispatch> sink, uint32_t* cookie);
  // CONNECT_E_NOCONNECTION for a cookie that is not advised.
  HRESULT Unadvise(uint32_t cookie);

  // Calls the event on every sink advised when the firing starts, in the
  // order they were advised, on the calling thread. A sink that fails (or
  // whose client has gone) is skipped and the others are still called.
  // `args` go to each sink in turn (a by-reference argument shows each sink
  // what the one before it left there). `result`, when given, receives the
  // result of the last sink that answered. Returns the number of sinks
  // that answered with success.
  int Fire(DispId id, std::span<Variant> args, Variant* result = nullptr);

  size_t size() const;
  void Clear();

 private:
  struct Entry {
    uint32_t cookie;
    std::shared_ptr<Dispatch> sink;
  };
  const Guid iid_;
  mutable std::mutex mu_;
  std::vector<Entry> sinks_;
  uint32_t next_cookie_ = 1;
};

}  // namespace zimo::automation
