// Automation arrays: one or more dimensions, each with its own lower bound,
// elements of one kind. As in every automation array, the first index
// varies fastest in memory (element (i, j) of an m x n array is at
// i + m * j), which is what callers that walk the raw data rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "automation/bstr.h"
#include "automation/hresult.h"
#include "automation/var_type.h"

namespace zimo::automation {

class Variant;

struct ArrayBound {
  int32_t lower = 0;
  uint32_t count = 0;
  friend bool operator==(const ArrayBound&, const ArrayBound&) = default;
};

class SafeArray {
 public:
  static constexpr int kMaxDims = 8;
  // No single array may hold more than this many bytes of elements.
  static constexpr uint64_t kMaxBytes = 256ull << 20;

  // An empty array of no dimensions.
  SafeArray();
  SafeArray(const SafeArray&);
  SafeArray(SafeArray&&) noexcept;
  SafeArray& operator=(const SafeArray&);
  SafeArray& operator=(SafeArray&&) noexcept;
  ~SafeArray();

  // Element kinds: VT_I2, VT_I4, VT_R4, VT_R8, VT_BOOL, VT_UI1, VT_I8,
  // VT_ERROR, VT_BSTR and VT_VARIANT; or VT_EMPTY with a raw element size
  // for arrays whose elements are plain bytes of no declared kind.
  // DISP_E_BADVARTYPE for another kind, E_INVALIDARG for no or too many
  // dimensions, E_OUTOFMEMORY when the elements would exceed kMaxBytes.
  static HRESULT Create(VarType element_type, std::span<const ArrayBound> bounds, SafeArray* out,
                        uint32_t raw_element_size = 0);
  // One dimension, zero-filled; the element kind must be one of the above.
  static SafeArray Vector(VarType element_type, uint32_t count, int32_t lower = 0);

  VarType element_type() const { return element_type_; }
  uint32_t element_size() const { return element_size_; }
  int dims() const { return static_cast<int>(bounds_.size()); }
  // dim counts from 0 (the first, fastest-varying index).
  const ArrayBound& bound(int dim) const { return bounds_[dim]; }
  const std::vector<ArrayBound>& bounds() const { return bounds_; }
  size_t element_count() const { return count_; }

  // The automation calls count dimensions from 1. DISP_E_BADINDEX for a
  // dimension the array does not have.
  HRESULT LowerBound(int dim1, int32_t* out) const;
  HRESULT UpperBound(int dim1, int32_t* out) const;

  // Element access by one index per dimension; DISP_E_BADINDEX when the
  // number of indices or any index is out of range. PutElement converts the
  // value to the element kind (DISP_E_TYPEMISMATCH / DISP_E_OVERFLOW).
  HRESULT GetElement(std::span<const int32_t> indices, Variant* out) const;
  HRESULT PutElement(std::span<const int32_t> indices, const Variant& value);

  // Raw elements of a plain-data array (empty for VT_BSTR and VT_VARIANT).
  std::span<uint8_t> bytes() { return {bytes_.data(), bytes_.size()}; }
  std::span<const uint8_t> bytes() const { return {bytes_.data(), bytes_.size()}; }
  // Typed view when T matches the element kind's size (int32_t for VT_I4,
  // double for VT_R8, ...); empty when it does not.
  template <typename T>
  std::span<T> As() {
    if (element_size_ != sizeof(T) || bytes_.empty()) return {};
    return {reinterpret_cast<T*>(bytes_.data()), count_};
  }
  template <typename T>
  std::span<const T> As() const {
    if (element_size_ != sizeof(T) || bytes_.empty()) return {};
    return {reinterpret_cast<const T*>(bytes_.data()), count_};
  }
  std::span<Bstr> strings() { return strings_; }
  std::span<const Bstr> strings() const { return strings_; }
  std::span<Variant> variants();
  std::span<const Variant> variants() const;

  friend bool operator==(const SafeArray& a, const SafeArray& b);

 private:
  // Offset of an element in elements, or -1 when out of range.
  int64_t Offset(std::span<const int32_t> indices) const;

  VarType element_type_ = VT_EMPTY;
  uint32_t element_size_ = 0;
  std::vector<ArrayBound> bounds_;
  size_t count_ = 0;
  std::vector<uint8_t> bytes_;  // plain data (allocations are aligned for doubles)
  std::vector<Bstr> strings_;
  std::vector<Variant> variants_;
};

}  // namespace zimo::automation
