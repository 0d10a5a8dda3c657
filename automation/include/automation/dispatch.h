// The one interface every automation object offers, in the server process,
// in a client (as a proxy) or in-process (the controls): late-bound calls
// by DISPID, names, the interfaces it implements, and its connection points.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "automation/bstr.h"
#include "automation/guid.h"
#include "automation/hresult.h"
#include "automation/interface_info.h"
#include "automation/variant.h"

namespace zimo::automation {

class ConnectionPoint;

// What a method that failed with DISP_E_EXCEPTION reports.
struct ExcepInfo {
  int32_t code = 0;  // the object's own error number
  Bstr source;
  Bstr description;
};

// Thrown by a bound method to report its own error number and text (the
// controls raise their errors this way); the call returns
// DISP_E_EXCEPTION with the number and text in the ExcepInfo.
class DispatchException : public std::runtime_error {
 public:
  DispatchException(int32_t code, const std::string& description)
      : std::runtime_error(description), code_(code) {}
  int32_t code() const { return code_; }

 private:
  int32_t code_;
};

class Dispatch {
 public:
  virtual ~Dispatch() = default;

  // Calls a member. `args` are in the order the parameters are declared;
  // an out parameter is a Variant::ByRef to the caller's storage, and any
  // other value in its place reads as a null pointer. `result` (may be
  // null) receives the retval or the method's own value. `excep` (may be
  // null) receives the details of DISP_E_EXCEPTION.
  virtual HRESULT Invoke(DispId id, uint16_t flags, std::span<Variant> args, Variant* result,
                         ExcepInfo* excep) = 0;

  // DISP_E_UNKNOWNNAME when the object has no member of that name.
  virtual HRESULT GetIdOfName(std::string_view name, DispId* id);

  // The description of the object's dispatch interface, null when unknown
  // (a proxy carries none).
  virtual const InterfaceInfo* TypeInfo() const { return nullptr; }

  // The interfaces the object implements: its dispatch interface and, for
  // a sink, the event interface it receives.
  virtual std::vector<Guid> Interfaces() const;
  bool Supports(const Guid& iid) const;

  // Connection points: subscribe a sink to the events of interface `iid`.
  // CONNECT_E_NOCONNECTION when the object has no such connection point.
  virtual HRESULT Advise(const Guid& iid, std::shared_ptr<Dispatch> sink, uint32_t* cookie);
  virtual HRESULT Unadvise(const Guid& iid, uint32_t cookie);

  // Convenience for callers: Invoke with a list of arguments.
  HRESULT Call(DispId id, uint16_t flags, std::initializer_list<Variant> args,
               Variant* result = nullptr);
  HRESULT CallByName(std::string_view name, uint16_t flags, std::initializer_list<Variant> args,
                     Variant* result = nullptr);

 protected:
  // The connection point for `iid`, null when the object has none.
  virtual ConnectionPoint* FindConnectionPoint(const Guid& iid) { return nullptr; }
};

}  // namespace zimo::automation
