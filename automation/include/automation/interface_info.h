// A dispatch interface described once: its members with DISPID, name, kind
// (method, property get, property put) and parameters (kind and direction).
// Servers bind their methods against it (dispatch_table.h); clients look
// names up in it; the wire needs none of it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "automation/guid.h"
#include "automation/var_type.h"

namespace zimo::automation {

using DispId = int32_t;

// Invocation kinds; a late-bound caller may combine kMethod | kPropertyGet.
inline constexpr uint16_t kMethod = 1;
inline constexpr uint16_t kPropertyGet = 2;
inline constexpr uint16_t kPropertyPut = 4;

enum class ParamDir : uint8_t {
  kIn,
  kOut,     // the callee writes it; the caller passes Variant::ByRef
  kInOut,   // read and written
  kRetval,  // the last parameter, handed back as the call's result
};

struct ParamInfo {
  std::string_view name;
  // For out parameters the kind pointed to: `long* pVal` is VT_I4, a
  // VARIANT* is VT_VARIANT, SAFEARRAY(long)* is VT_ARRAY | VT_I4.
  VarType type = VT_EMPTY;
  ParamDir dir = ParamDir::kIn;
};

struct MemberInfo {
  DispId id = 0;
  std::string_view name;
  uint16_t kind = kMethod;  // exactly one of kMethod, kPropertyGet, kPropertyPut
  std::span<const ParamInfo> params;
  // The kind of a value the method itself returns (controls' methods return
  // BOOL, short, ...); VT_EMPTY when it returns an HRESULT only.
  VarType result = VT_EMPTY;

  bool HasRetval() const { return !params.empty() && params.back().dir == ParamDir::kRetval; }
  // The number of arguments a caller passes (the retval is not passed).
  size_t ArgCount() const { return params.size() - (HasRetval() ? 1 : 0); }
};

struct InterfaceInfo {
  std::string_view name;
  Guid iid;
  std::span<const MemberInfo> members;

  // The member for a DISPID and a (possibly combined) invocation kind:
  // a method first, then a property get, then a put. Null when none.
  const MemberInfo* Find(DispId id, uint16_t flags) const;
  // Names compare without regard to case, as late-bound callers expect.
  const MemberInfo* FindName(std::string_view name) const;
};

}  // namespace zimo::automation
