#include "automation/variant.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "automation/dispatch.h"

namespace zimo::automation {
namespace {

// A number on its way between kinds: exact when it came from an integer
// kind, else a double.
struct Number {
  bool is_int = true;
  int64_t i = 0;
  double d = 0;
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Parses a decimal number (sign, digits, point, exponent) with nothing else
// but surrounding blanks. Locale plays no part.
HRESULT ParseNumber(const Bstr& text, Number* out) {
  std::string utf8 = text.ToUtf8();
  std::string_view s = Trim(utf8);
  if (s.empty()) return DISP_E_TYPEMISMATCH;
  std::string_view body = s;
  if (body.front() == '+') body.remove_prefix(1);  // from_chars takes no '+'
  if (body.empty() || body.front() == '+') return DISP_E_TYPEMISMATCH;
  int64_t i = 0;
  auto [iend, iec] = std::from_chars(body.data(), body.data() + body.size(), i);
  if (iec == std::errc() && iend == body.data() + body.size()) {
    out->is_int = true;
    out->i = i;
    return S_OK;
  }
  double d = 0;
  auto [dend, dec] =
      std::from_chars(body.data(), body.data() + body.size(), d, std::chars_format::general);
  if (dend != body.data() + body.size()) return DISP_E_TYPEMISMATCH;
  if (dec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (dec != std::errc()) return DISP_E_TYPEMISMATCH;
  // from_chars also takes "inf" and "nan", which are no numbers to a caller.
  if (!std::isfinite(d)) return DISP_E_TYPEMISMATCH;
  out->is_int = false;
  out->d = d;
  return S_OK;
}

// The value of a scalar source as a Number; DISP_E_TYPEMISMATCH for kinds
// that are no numbers.
HRESULT ToNumber(const Variant& v, Number* out) {
  switch (v.vt()) {
    case VT_EMPTY: *out = Number{}; return S_OK;
    case VT_I2: *out = Number{true, v.i2(), 0}; return S_OK;
    case VT_I4: *out = Number{true, v.i4(), 0}; return S_OK;
    case VT_UI1: *out = Number{true, v.ui1(), 0}; return S_OK;
    case VT_I8: *out = Number{true, v.i8(), 0}; return S_OK;
    case VT_BOOL: *out = Number{true, v.boolean() ? -1 : 0, 0}; return S_OK;
    case VT_R4: *out = Number{false, 0, v.r4()}; return S_OK;
    case VT_R8: *out = Number{false, 0, v.r8()}; return S_OK;
    case VT_BSTR: {
      std::string utf8 = v.bstr().ToUtf8();
      std::string_view t = Trim(utf8);
      if (EqualsNoCase(t, "true")) { *out = Number{true, -1, 0}; return S_OK; }
      if (EqualsNoCase(t, "false")) { *out = Number{true, 0, 0}; return S_OK; }
      return ParseNumber(v.bstr(), out);
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

// Rounds half to even and checks [lo, hi].
HRESULT ToInteger(const Number& n, int64_t lo, int64_t hi, int64_t* out) {
  if (n.is_int) {
    if (n.i < lo || n.i > hi) return DISP_E_OVERFLOW;
    *out = n.i;
    return S_OK;
  }
  if (!std::isfinite(n.d)) return DISP_E_OVERFLOW;
  double r = n.d - std::floor(n.d) == 0.5 ? 2.0 * std::round(n.d / 2.0) : std::round(n.d);
  if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) return DISP_E_OVERFLOW;
  // The top of the 64-bit range is not exact as a double.
  if (hi == std::numeric_limits<int64_t>::max() && r >= 9223372036854775807.0) return DISP_E_OVERFLOW;
  *out = static_cast<int64_t>(r);
  return S_OK;
}

std::string FormatNumber(const Variant& v) {
  char buf[64];
  switch (v.vt()) {
    case VT_I2: std::snprintf(buf, sizeof buf, "%d", v.i2()); break;
    case VT_I4: std::snprintf(buf, sizeof buf, "%d", v.i4()); break;
    case VT_UI1: std::snprintf(buf, sizeof buf, "%u", v.ui1()); break;
    case VT_I8: std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v.i8())); break;
    // Seven and fifteen significant digits: what the kinds hold exactly.
    case VT_R4: std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(v.r4())); break;
    case VT_R8: std::snprintf(buf, sizeof buf, "%.15G", v.r8()); break;
    case VT_BOOL: std::snprintf(buf, sizeof buf, "%s", v.boolean() ? "True" : "False"); break;
    default: buf[0] = '\0';
  }
  return buf;
}

[[noreturn]] void KindMismatch(VarType have, VarType want) {
  std::fprintf(stderr, "automation: Variant holds %s, read as %s\n", VarTypeText(have).c_str(),
               VarTypeText(want).c_str());
  std::abort();
}

}  // namespace

Variant::Variant(SafeArray v)
    : vt_(static_cast<VarType>(VT_ARRAY | v.element_type())),
      v_(std::make_shared<SafeArray>(std::move(v))) {}

Variant::Variant(std::shared_ptr<Dispatch> v) : vt_(VT_DISPATCH), v_(std::move(v)) {}

Variant::Variant(const Variant& other) : vt_(other.vt_), v_(other.v_) {
  if (auto* a = std::get_if<std::shared_ptr<SafeArray>>(&v_); a != nullptr && *a) {
    *a = std::make_shared<SafeArray>(**a);
  }
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant Variant::Null() { return Variant(VT_NULL, std::monostate{}); }
Variant Variant::Error(HRESULT code) { return Variant(VT_ERROR, Payload(std::in_place_type<int32_t>, code)); }
Variant Variant::ByRef(Variant* target, VarType type) {
  return Variant(static_cast<VarType>(VT_BYREF | (type & ~VT_BYREF)), Payload(target));
}

void Variant::Expect(VarType vt) const {
  if (vt_ != vt) KindMismatch(vt_, vt);
}

int16_t Variant::i2() const { Expect(VT_I2); return std::get<int16_t>(v_); }
int32_t Variant::i4() const { Expect(VT_I4); return std::get<int32_t>(v_); }
float Variant::r4() const { Expect(VT_R4); return std::get<float>(v_); }
double Variant::r8() const { Expect(VT_R8); return std::get<double>(v_); }
bool Variant::boolean() const { Expect(VT_BOOL); return std::get<int16_t>(v_) != 0; }
uint8_t Variant::ui1() const { Expect(VT_UI1); return std::get<uint8_t>(v_); }
int64_t Variant::i8() const { Expect(VT_I8); return std::get<int64_t>(v_); }
HRESULT Variant::scode() const { Expect(VT_ERROR); return std::get<int32_t>(v_); }
const Bstr& Variant::bstr() const { Expect(VT_BSTR); return std::get<Bstr>(v_); }
Bstr& Variant::bstr() { Expect(VT_BSTR); return std::get<Bstr>(v_); }
const SafeArray& Variant::array() const {
  if (!is_array()) KindMismatch(vt_, VT_ARRAY);
  return *std::get<std::shared_ptr<SafeArray>>(v_);
}
SafeArray& Variant::array() {
  if (!is_array()) KindMismatch(vt_, VT_ARRAY);
  return *std::get<std::shared_ptr<SafeArray>>(v_);
}
const std::shared_ptr<Dispatch>& Variant::dispatch() const {
  if (vt_ != VT_DISPATCH && vt_ != VT_UNKNOWN) KindMismatch(vt_, VT_DISPATCH);
  return std::get<std::shared_ptr<Dispatch>>(v_);
}
Variant* Variant::ref() const {
  if (!is_byref()) KindMismatch(vt_, VT_BYREF);
  return std::get<Variant*>(v_);
}

HRESULT Variant::ChangeType(VarType to, Variant* out) const {
  if (out == nullptr) return E_POINTER;
  const Variant& src = Deref();
  if (to == VT_VARIANT || to == src.vt_) {
    *out = src;
    return S_OK;
  }
  if ((to & VT_ARRAY) != 0 || src.is_array()) return DISP_E_TYPEMISMATCH;
  if (to == VT_BSTR) {
    if (src.vt_ == VT_EMPTY) {
      *out = Variant(Bstr(u""));
      return S_OK;
    }
    std::string text = FormatNumber(src);
    if (text.empty()) return DISP_E_TYPEMISMATCH;
    *out = Variant(Bstr::FromUtf8(text));
    return S_OK;
  }
  Number n;
  HRESULT hr = ToNumber(src, &n);
  if (Failed(hr)) return hr;
  int64_t i = 0;
  switch (to) {
    case VT_I2:
      hr = ToInteger(n, INT16_MIN, INT16_MAX, &i);
      if (Succeeded(hr)) *out = Variant(static_cast<int16_t>(i));
      return hr;
    case VT_I4:
      hr = ToInteger(n, INT32_MIN, INT32_MAX, &i);
      if (Succeeded(hr)) *out = Variant(static_cast<int32_t>(i));
      return hr;
    case VT_UI1:
      // A true boolean is all bits set: 255 as a byte.
      if (src.vt_ == VT_BOOL) {
        *out = Variant(static_cast<uint8_t>(src.boolean() ? 255 : 0));
        return S_OK;
      }
      hr = ToInteger(n, 0, 255, &i);
      if (Succeeded(hr)) *out = Variant(static_cast<uint8_t>(i));
      return hr;
    case VT_I8:
      hr = ToInteger(n, INT64_MIN, INT64_MAX, &i);
      if (Succeeded(hr)) *out = Variant(static_cast<int64_t>(i));
      return hr;
    case VT_R4: {
      double d = n.is_int ? static_cast<double>(n.i) : n.d;
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
      *out = Variant(static_cast<float>(d));
      return S_OK;
    }
    case VT_R8:
      *out = Variant(n.is_int ? static_cast<double>(n.i) : n.d);
      return S_OK;
    case VT_BOOL:
      *out = Variant(n.is_int ? n.i != 0 : n.d != 0.0);
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

namespace {
template <typename T, typename Get>
HRESULT ConvertTo(const Variant& v, VarType vt, T* out, Get get) {
  if (out == nullptr) return E_POINTER;
  Variant c;
  HRESULT hr = v.ChangeType(vt, &c);
  if (Succeeded(hr)) *out = get(c);
  return hr;
}
}  // namespace

HRESULT Variant::To(int16_t* out) const { return ConvertTo(*this, VT_I2, out, [](const Variant& c) { return c.i2(); }); }
HRESULT Variant::To(int32_t* out) const { return ConvertTo(*this, VT_I4, out, [](const Variant& c) { return c.i4(); }); }
HRESULT Variant::To(float* out) const { return ConvertTo(*this, VT_R4, out, [](const Variant& c) { return c.r4(); }); }
HRESULT Variant::To(double* out) const { return ConvertTo(*this, VT_R8, out, [](const Variant& c) { return c.r8(); }); }
HRESULT Variant::To(bool* out) const { return ConvertTo(*this, VT_BOOL, out, [](const Variant& c) { return c.boolean(); }); }
HRESULT Variant::To(uint8_t* out) const { return ConvertTo(*this, VT_UI1, out, [](const Variant& c) { return c.ui1(); }); }
HRESULT Variant::To(int64_t* out) const { return ConvertTo(*this, VT_I8, out, [](const Variant& c) { return c.i8(); }); }
HRESULT Variant::To(Bstr* out) const { return ConvertTo(*this, VT_BSTR, out, [](const Variant& c) { return c.bstr(); }); }

std::string Variant::DebugString() const {
  std::string out = VarTypeText(vt_);
  if (is_byref()) {
    const Variant* t = ref();
    return out + (t != nullptr ? " -> " + t->DebugString() : " -> null");
  }
  if (is_array()) {
    const SafeArray& a = array();
    char buf[48];
    out += " [";
    for (int d = 0; d < a.dims(); ++d) {
      std::snprintf(buf, sizeof buf, "%s%d:%u", d ? "," : "", a.bound(d).lower, a.bound(d).count);
      out += buf;
    }
    return out + "]";
  }
  switch (vt_) {
    case VT_BSTR:
      return out + (bstr().is_null() ? " null" : " \"" + bstr().ToUtf8() + "\"");
    case VT_ERROR: return out + " " + HresultText(scode());
    case VT_DISPATCH:
    case VT_UNKNOWN: return out + (dispatch() ? " object" : " null");
    case VT_EMPTY:
    case VT_NULL: return out;
    default: return out + " " + FormatNumber(*this);
  }
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.vt_ != b.vt_) return false;
  if (a.is_array()) return a.array() == b.array();
  return a.v_ == b.v_;
}

}  // namespace zimo::automation
