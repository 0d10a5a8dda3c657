#include "remote_object.h"

#include "connection.h"
#include "wire.h"

namespace zimo::automation::internal {

using wire::Kind;

RemoteObject::~RemoteObject() {
  connection_->ProxyGone(id_, refs_.load(std::memory_order_relaxed));
}

HRESULT RemoteObject::Invoke(DispId id, uint16_t flags, std::span<Variant> args, Variant* result,
                             ExcepInfo* excep) {
  if (args.size() > 0xFFFF) return DISP_E_BADPARAMCOUNT;
  wire::Writer w(connection_.get());
  w.U32(id_);
  w.I32(id);
  w.U16(flags);
  w.U16(static_cast<uint16_t>(args.size()));
  for (const Variant& a : args) {
    if (!w.WriteVariant(a, /*allow_byref=*/true)) return DISP_E_BADVARTYPE;
  }
  std::vector<uint8_t> reply;
  HRESULT hr = connection_->Request(w, Kind::kInvoke, &reply);
  if (Failed(hr)) return hr;

  wire::Reader r(reply.data(), reply.size(), connection_.get());
  hr = r.I32();
  Variant value = r.ReadVariant();
  uint16_t outs = r.U16();
  // The out values are checked whole before any is written back.
  std::vector<std::pair<uint16_t, Variant>> returned;
  for (uint16_t i = 0; r.ok() && i < outs; ++i) {
    uint16_t index = r.U16();
    Variant v = r.ReadVariant();
    if (index >= args.size() || !args[index].is_byref()) r.Fail();
    returned.emplace_back(index, std::move(v));
  }
  ExcepInfo info = r.ReadExcep();
  if (!r.ok() || !r.at_end()) {
    connection_->Close();
    return RPC_E_INVALID_DATA;
  }
  for (auto& [index, v] : returned) *args[index].ref() = std::move(v);
  if (result != nullptr) *result = std::move(value);
  if (excep != nullptr && hr == DISP_E_EXCEPTION) *excep = std::move(info);
  return hr;
}

HRESULT RemoteObject::GetIdOfName(std::string_view name, DispId* id) {
  if (id == nullptr) return E_POINTER;
  wire::Writer w(connection_.get());
  w.U32(id_);
  w.WriteText(name);
  std::vector<uint8_t> reply;
  HRESULT hr = connection_->Request(w, Kind::kGetIdOfName, &reply);
  if (Failed(hr)) return hr;
  wire::Reader r(reply.data(), reply.size());
  hr = r.I32();
  DispId found = r.I32();
  if (!r.ok() || !r.at_end()) {
    connection_->Close();
    return RPC_E_INVALID_DATA;
  }
  if (Succeeded(hr)) *id = found;
  return hr;
}

HRESULT RemoteObject::Advise(const Guid& iid, std::shared_ptr<Dispatch> sink, uint32_t* cookie) {
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  wire::Writer w(connection_.get());
  w.U32(id_);
  w.WriteGuid(iid);
  connection_->WriteObject(w, sink);
  std::vector<uint8_t> reply;
  HRESULT hr = connection_->Request(w, Kind::kAdvise, &reply);
  if (Failed(hr)) return hr;
  wire::Reader r(reply.data(), reply.size());
  hr = r.I32();
  uint32_t c = r.U32();
  if (!r.ok() || !r.at_end()) {
    connection_->Close();
    return RPC_E_INVALID_DATA;
  }
  *cookie = Succeeded(hr) ? c : 0;
  return hr;
}

HRESULT RemoteObject::Unadvise(const Guid& iid, uint32_t cookie) {
  wire::Writer w(connection_.get());
  w.U32(id_);
  w.WriteGuid(iid);
  w.U32(cookie);
  std::vector<uint8_t> reply;
  HRESULT hr = connection_->Request(w, Kind::kUnadvise, &reply);
  if (Failed(hr)) return hr;
  wire::Reader r(reply.data(), reply.size());
  hr = r.I32();
  if (!r.ok() || !r.at_end()) {
    connection_->Close();
    return RPC_E_INVALID_DATA;
  }
  return hr;
}

}  // namespace zimo::automation::internal
