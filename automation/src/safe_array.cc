#include "automation/safe_array.h"

#include "automation/variant.h"

namespace zimo::automation {

SafeArray::SafeArray() = default;
SafeArray::SafeArray(const SafeArray&) = default;
SafeArray::SafeArray(SafeArray&&) noexcept = default;
SafeArray& SafeArray::operator=(const SafeArray&) = default;
SafeArray& SafeArray::operator=(SafeArray&&) noexcept = default;
SafeArray::~SafeArray() = default;

HRESULT SafeArray::Create(VarType element_type, std::span<const ArrayBound> bounds, SafeArray* out,
                          uint32_t raw_element_size) {
  if (out == nullptr) return E_POINTER;
  uint32_t size = 0;
  if (element_type == VT_BSTR) {
    size = sizeof(Bstr);
  } else if (element_type == VT_VARIANT) {
    size = sizeof(Variant);
  } else if (element_type == VT_EMPTY) {
    if (raw_element_size == 0 || raw_element_size > 64) return E_INVALIDARG;
    size = raw_element_size;
  } else {
    size = PlainSize(element_type);
    if (size == 0) return DISP_E_BADVARTYPE;
  }
  if (bounds.empty() || bounds.size() > kMaxDims) return E_INVALIDARG;
  uint64_t count = 1;
  for (const ArrayBound& b : bounds) {
    // The last index must not pass the top of a 32-bit index.
    if (b.count > 0 && static_cast<int64_t>(b.lower) + b.count - 1 > INT32_MAX) return E_INVALIDARG;
    count *= b.count;
    if (count * size > kMaxBytes) return E_OUTOFMEMORY;
  }
  SafeArray a;
  a.element_type_ = element_type;
  a.bounds_.assign(bounds.begin(), bounds.end());
  a.count_ = static_cast<size_t>(count);
  if (element_type == VT_BSTR) {
    a.element_size_ = size;
    a.strings_.resize(a.count_);
  } else if (element_type == VT_VARIANT) {
    a.element_size_ = size;
    a.variants_.resize(a.count_);
  } else {
    a.element_size_ = size;
    a.bytes_.assign(a.count_ * size, 0);
  }
  *out = std::move(a);
  return S_OK;
}

SafeArray SafeArray::Vector(VarType element_type, uint32_t count, int32_t lower) {
  SafeArray a;
  ArrayBound b{lower, count};
  HRESULT hr = Create(element_type, std::span<const ArrayBound>(&b, 1), &a);
  if (Failed(hr)) return SafeArray();
  return a;
}

HRESULT SafeArray::LowerBound(int dim1, int32_t* out) const {
  if (out == nullptr) return E_POINTER;
  if (dim1 < 1 || dim1 > dims()) return DISP_E_BADINDEX;
  *out = bounds_[dim1 - 1].lower;
  return S_OK;
}

HRESULT SafeArray::UpperBound(int dim1, int32_t* out) const {
  if (out == nullptr) return E_POINTER;
  if (dim1 < 1 || dim1 > dims()) return DISP_E_BADINDEX;
  const ArrayBound& b = bounds_[dim1 - 1];
  *out = static_cast<int32_t>(static_cast<int64_t>(b.lower) + b.count - 1);
  return S_OK;
}

int64_t SafeArray::Offset(std::span<const int32_t> indices) const {
  if (indices.size() != bounds_.size() || bounds_.empty()) return -1;
  int64_t offset = 0;
  int64_t stride = 1;
  for (size_t d = 0; d < bounds_.size(); ++d) {
    int64_t i = static_cast<int64_t>(indices[d]) - bounds_[d].lower;
    if (i < 0 || i >= bounds_[d].count) return -1;
    offset += i * stride;
    stride *= bounds_[d].count;
  }
  return offset;
}

std::span<Variant> SafeArray::variants() { return variants_; }
std::span<const Variant> SafeArray::variants() const { return variants_; }

HRESULT SafeArray::GetElement(std::span<const int32_t> indices, Variant* out) const {
  if (out == nullptr) return E_POINTER;
  int64_t at = Offset(indices);
  if (at < 0) return DISP_E_BADINDEX;
  const uint8_t* p = bytes_.data() + at * element_size_;
  switch (element_type_) {
    case VT_BSTR: *out = Variant(strings_[at]); return S_OK;
    case VT_VARIANT: *out = variants_[at]; return S_OK;
    case VT_UI1: *out = Variant(*p); return S_OK;
    case VT_I2: *out = Variant(*reinterpret_cast<const int16_t*>(p)); return S_OK;
    case VT_BOOL: *out = Variant(*reinterpret_cast<const int16_t*>(p) != 0); return S_OK;
    case VT_I4: *out = Variant(*reinterpret_cast<const int32_t*>(p)); return S_OK;
    case VT_ERROR: *out = Variant::Error(*reinterpret_cast<const int32_t*>(p)); return S_OK;
    case VT_R4: *out = Variant(*reinterpret_cast<const float*>(p)); return S_OK;
    case VT_R8: *out = Variant(*reinterpret_cast<const double*>(p)); return S_OK;
    case VT_I8: *out = Variant(*reinterpret_cast<const int64_t*>(p)); return S_OK;
    default: return DISP_E_BADVARTYPE;  // raw elements have no kind to give
  }
}

HRESULT SafeArray::PutElement(std::span<const int32_t> indices, const Variant& value) {
  int64_t at = Offset(indices);
  if (at < 0) return DISP_E_BADINDEX;
  if (element_type_ == VT_VARIANT) {
    variants_[at] = value.Deref();
    return S_OK;
  }
  if (element_type_ == VT_EMPTY) return DISP_E_BADVARTYPE;
  Variant v;
  HRESULT hr = value.ChangeType(element_type_, &v);
  if (Failed(hr)) return hr;
  uint8_t* p = bytes_.data() + at * element_size_;
  switch (element_type_) {
    case VT_BSTR: strings_[at] = v.bstr(); break;
    case VT_UI1: *p = v.ui1(); break;
    case VT_I2: *reinterpret_cast<int16_t*>(p) = v.i2(); break;
    case VT_BOOL: *reinterpret_cast<int16_t*>(p) = v.boolean() ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_I4: *reinterpret_cast<int32_t*>(p) = v.i4(); break;
    case VT_ERROR: *reinterpret_cast<int32_t*>(p) = v.scode(); break;
    case VT_R4: *reinterpret_cast<float*>(p) = v.r4(); break;
    case VT_R8: *reinterpret_cast<double*>(p) = v.r8(); break;
    case VT_I8: *reinterpret_cast<int64_t*>(p) = v.i8(); break;
    default: return DISP_E_BADVARTYPE;
  }
  return S_OK;
}

bool operator==(const SafeArray& a, const SafeArray& b) {
  return a.element_type_ == b.element_type_ && a.element_size_ == b.element_size_ &&
         a.bounds_ == b.bounds_ && a.bytes_ == b.bytes_ && a.strings_ == b.strings_ &&
         a.variants_ == b.variants_;
}

}  // namespace zimo::automation
