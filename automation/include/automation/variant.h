// One automation value: a number, a text, a boolean, an array, an object
// reference, or a reference to a caller's Variant through which a method
// hands back an out parameter.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "automation/bstr.h"
#include "automation/hresult.h"
#include "automation/safe_array.h"
#include "automation/var_type.h"

namespace zimo::automation {

class Dispatch;

class Variant {
 public:
  Variant() = default;  // VT_EMPTY
  Variant(int16_t v) : vt_(VT_I2), v_(v) {}        // NOLINT: implicit by design
  Variant(int32_t v) : vt_(VT_I4), v_(v) {}        // NOLINT
  Variant(float v) : vt_(VT_R4), v_(v) {}          // NOLINT
  Variant(double v) : vt_(VT_R8), v_(v) {}         // NOLINT
  Variant(bool v) : vt_(VT_BOOL), v_(static_cast<int16_t>(v ? VARIANT_TRUE : VARIANT_FALSE)) {}  // NOLINT
  Variant(uint8_t v) : vt_(VT_UI1), v_(v) {}       // NOLINT
  Variant(int64_t v) : vt_(VT_I8), v_(v) {}        // NOLINT
  Variant(Bstr v) : vt_(VT_BSTR), v_(std::move(v)) {}  // NOLINT
  Variant(const char16_t* v) : Variant(Bstr(v)) {}     // NOLINT
  Variant(std::u16string_view v) : Variant(Bstr(v)) {}  // NOLINT
  // 8-bit text has no single meaning here; say Bstr::FromUtf8 or FromAnsi.
  Variant(const char*) = delete;
  Variant(SafeArray v);                                // NOLINT: VT_ARRAY | element kind
  Variant(std::shared_ptr<Dispatch> v);                // NOLINT: VT_DISPATCH, possibly null

  // Copies own their arrays (deep); references and objects are shared.
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept = default;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept = default;
  ~Variant() = default;

  static Variant Null();
  static Variant Error(HRESULT code);
  // The value a caller passes for an optional parameter it leaves out.
  static Variant Missing() { return Error(DISP_E_PARAMNOTFOUND); }
  // A reference to the caller's storage; `type` is the kind the reference
  // declares (VT_VARIANT: any kind). The target must outlive the call.
  static Variant ByRef(Variant* target, VarType type = VT_VARIANT);

  VarType vt() const { return vt_; }
  bool is_empty() const { return vt_ == VT_EMPTY; }
  bool is_byref() const { return (vt_ & VT_BYREF) != 0; }
  bool is_array() const { return (vt_ & VT_ARRAY) != 0 && !is_byref(); }
  // The kind a by-reference value declares, without VT_BYREF.
  VarType ref_type() const { return static_cast<VarType>(vt_ & ~VT_BYREF); }

  // Exact accessors: the kind must be the one named (checked; a mismatch is
  // a programming error and aborts with a message).
  int16_t i2() const;
  int32_t i4() const;
  float r4() const;
  double r8() const;
  bool boolean() const;
  uint8_t ui1() const;
  int64_t i8() const;
  HRESULT scode() const;
  const Bstr& bstr() const;
  Bstr& bstr();
  const SafeArray& array() const;
  SafeArray& array();
  const std::shared_ptr<Dispatch>& dispatch() const;
  Variant* ref() const;

  // The value itself: follows a reference, else this.
  const Variant& Deref() const { return is_byref() ? *ref() : *this; }
  Variant& Deref() { return is_byref() ? *ref() : *this; }

  // Conversion to another kind with the automation rules: numbers convert
  // among themselves with rounding half to even (DISP_E_OVERFLOW out of
  // range), booleans are -1 and 0, texts parse as numbers, "True" and
  // "False" (DISP_E_TYPEMISMATCH when they do not), empty becomes 0 or "".
  // A reference is followed first. `to` may be VT_VARIANT (a plain copy) or
  // an array kind (only the same array kind converts).
  HRESULT ChangeType(VarType to, Variant* out) const;

  // Typed conversions on top of ChangeType.
  HRESULT To(int16_t* out) const;
  HRESULT To(int32_t* out) const;
  HRESULT To(float* out) const;
  HRESULT To(double* out) const;
  HRESULT To(bool* out) const;
  HRESULT To(uint8_t* out) const;
  HRESULT To(int64_t* out) const;
  HRESULT To(Bstr* out) const;

  // For messages and test failures: "VT_I4 42", "VT_BSTR \"text\"".
  std::string DebugString() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  using Payload = std::variant<std::monostate, int16_t, int32_t, float, double, uint8_t, int64_t,
                               Bstr, std::shared_ptr<SafeArray>, std::shared_ptr<Dispatch>,
                               Variant*>;
  Variant(VarType vt, Payload v) : vt_(vt), v_(std::move(v)) {}
  void Expect(VarType vt) const;

  VarType vt_ = VT_EMPTY;
  Payload v_;
};

}  // namespace zimo::automation
