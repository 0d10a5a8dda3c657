// The proxy of an object in another process: every call travels over the
// connection; by-reference arguments travel there and back.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "automation/dispatch.h"

namespace zimo::automation::internal {

class Connection;

class RemoteObject : public Dispatch {
 public:
  RemoteObject(std::shared_ptr<Connection> connection, uint32_t id, std::vector<Guid> interfaces)
      : connection_(std::move(connection)), id_(id), interfaces_(std::move(interfaces)) {}
  ~RemoteObject() override;

  HRESULT Invoke(DispId id, uint16_t flags, std::span<Variant> args, Variant* result,
                 ExcepInfo* excep) override;
  HRESULT GetIdOfName(std::string_view name, DispId* id) override;
  std::vector<Guid> Interfaces() const override { return interfaces_; }
  HRESULT Advise(const Guid& iid, std::shared_ptr<Dispatch> sink, uint32_t* cookie) override;
  HRESULT Unadvise(const Guid& iid, uint32_t cookie) override;

  uint32_t id() const { return id_; }
  const Connection* connection() const { return connection_.get(); }
  // One more reference the other side counted for this proxy.
  void AddReference() { refs_.fetch_add(1, std::memory_order_relaxed); }

 private:
  std::shared_ptr<Connection> connection_;
  uint32_t id_;
  std::vector<Guid> interfaces_;
  std::atomic<uint32_t> refs_{1};
};

}  // namespace zimo::automation::internal
