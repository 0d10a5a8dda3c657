#include "automation/dispatch.h"

#include <algorithm>

#include "automation/connection_point.h"

namespace zimo::automation {

HRESULT Dispatch::GetIdOfName(std::string_view name, DispId* id) {
  if (id == nullptr) return E_POINTER;
  const InterfaceInfo* info = TypeInfo();
  const MemberInfo* m = info != nullptr ? info->FindName(name) : nullptr;
  if (m == nullptr) return DISP_E_UNKNOWNNAME;
  *id = m->id;
  return S_OK;
}

std::vector<Guid> Dispatch::Interfaces() const {
  const InterfaceInfo* info = TypeInfo();
  if (info == nullptr) return {};
  return {info->iid};
}

bool Dispatch::Supports(const Guid& iid) const {
  std::vector<Guid> all = Interfaces();
  return std::find(all.begin(), all.end(), iid) != all.end();
}

HRESULT Dispatch::Advise(const Guid& iid, std::shared_ptr<Dispatch> sink, uint32_t* cookie) {
  ConnectionPoint* cp = FindConnectionPoint(iid);
  if (cp == nullptr) return CONNECT_E_NOCONNECTION;
  return cp->Advise(std::move(sink), cookie);
}

HRESULT Dispatch::Unadvise(const Guid& iid, uint32_t cookie) {
  ConnectionPoint* cp = FindConnectionPoint(iid);
  if (cp == nullptr) return CONNECT_E_NOCONNECTION;
  return cp->Unadvise(cookie);
}

HRESULT Dispatch::Call(DispId id, uint16_t flags, std::initializer_list<Variant> args,
                       Variant* result) {
  std::vector<Variant> v(args);
  return Invoke(id, flags, v, result, nullptr);
}

HRESULT Dispatch::CallByName(std::string_view name, uint16_t flags,
                             std::initializer_list<Variant> args, Variant* result) {
  DispId id = 0;
  HRESULT hr = GetIdOfName(name, &id);
  if (Failed(hr)) return hr;
  return Call(id, flags, args, result);
}

}  // namespace zimo::automation
