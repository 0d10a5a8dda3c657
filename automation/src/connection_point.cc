#include "automation/connection_point.h"

namespace zimo::automation {

HRESULT ConnectionPoint::Advise(std::shared_ptr<Dispatch> sink, uint32_t* cookie) {
  if (!sink || cookie == nullptr) return E_POINTER;
  if (!sink->Supports(iid_)) return CONNECT_E_CANNOTCONNECT;
  std::lock_guard lock(mu_);
  if (next_cookie_ == 0) return CONNECT_E_ADVISELIMIT;  // all 2^32-1 cookies used
  *cookie = next_cookie_++;
  sinks_.push_back(Entry{*cookie, std::move(sink)});
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(uint32_t cookie) {
  std::shared_ptr<Dispatch> released;  // let go of the sink outside the lock
  {
    std::lock_guard lock(mu_);
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
      if (it->cookie == cookie) {
        released = std::move(it->sink);
        sinks_.erase(it);
        return S_OK;
      }
    }
  }
  return CONNECT_E_NOCONNECTION;
}

int ConnectionPoint::Fire(DispId id, std::span<Variant> args, Variant* result) {
  std::vector<std::shared_ptr<Dispatch>> snapshot;
  {
    std::lock_guard lock(mu_);
    snapshot.reserve(sinks_.size());
    for (const Entry& e : sinks_) snapshot.push_back(e.sink);
  }
  int answered = 0;
  for (const auto& sink : snapshot) {
    Variant r;
    if (Succeeded(sink->Invoke(id, kMethod, args, &r, nullptr))) {
      ++answered;
      if (result != nullptr) *result = std::move(r);
    }
  }
  return answered;
}

size_t ConnectionPoint::size() const {
  std::lock_guard lock(mu_);
  return sinks_.size();
}

void ConnectionPoint::Clear() {
  std::vector<Entry> released;
  std::lock_guard lock(mu_);
  released.swap(sinks_);
}

}  // namespace zimo::automation
