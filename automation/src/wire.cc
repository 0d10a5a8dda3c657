#include "wire.h"

#include <algorithm>
#include <bit>

namespace zimo::automation::wire {

static_assert(std::endian::native == std::endian::little, "the frames are written as they lie");

namespace {

bool KnownKind(uint8_t k) {
  return (k >= static_cast<uint8_t>(Kind::kCreateInstance) &&
          k <= static_cast<uint8_t>(Kind::kRelease)) ||
         k == static_cast<uint8_t>(Kind::kReply);
}

// The smallest encoding of one element, so that a count can be checked
// against what is left before anything is allocated.
size_t MinElementBytes(VarType element_type, uint32_t element_size) {
  if (element_type == VT_BSTR) return 1;
  if (element_type == VT_VARIANT) return 2;
  return element_size;
}

}  // namespace

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
  out[0] = kMagic0;
  out[1] = kMagic1;
  out[2] = static_cast<uint8_t>(h.kind);
  out[3] = h.flags;
  std::memcpy(out + 4, &h.length, 4);
  std::memcpy(out + 8, &h.call_id, 4);
}

bool DecodeHeader(const uint8_t in[kHeaderSize], Header* h) {
  if (in[0] != kMagic0 || in[1] != kMagic1 || !KnownKind(in[2])) return false;
  h->kind = static_cast<Kind>(in[2]);
  h->flags = in[3];
  std::memcpy(&h->length, in + 4, 4);
  std::memcpy(&h->call_id, in + 8, 4);
  return h->length <= kMaxBody;
}

// ---------------------------------------------------------------------------

void Writer::WriteGuid(const Guid& g) {
  U32(g.data1);
  U16(g.data2);
  U16(g.data3);
  Raw(g.data4.data(), 8);
}

void Writer::WriteBstr(const Bstr& s) {
  if (s.is_null()) {
    U8(0);
    return;
  }
  U8(1);
  U32(static_cast<uint32_t>(s.size()));
  Raw(s.view().data(), s.size() * 2);
}

void Writer::WriteText(std::string_view s) {
  U16(static_cast<uint16_t>(std::min<size_t>(s.size(), 0xFFFF)));
  Raw(s.data(), std::min<size_t>(s.size(), 0xFFFF));
}

bool Writer::WriteVariant(const Variant& v, bool allow_byref) {
  return WriteVariantAt(v, allow_byref, 0);
}

bool Writer::WriteVariantAt(const Variant& v, bool allow_byref, int depth) {
  if (depth > kMaxDepth) return false;
  U16(v.vt());
  if (v.is_byref()) {
    if (!allow_byref || v.ref() == nullptr) return false;
    return WriteVariantAt(*v.ref(), false, depth + 1);
  }
  if (v.is_array()) {
    const SafeArray& a = v.array();
    U8(static_cast<uint8_t>(a.dims()));
    for (const ArrayBound& b : a.bounds()) {
      I32(b.lower);
      U32(b.count);
    }
    if (a.element_type() == VT_EMPTY) U32(a.element_size());
    if (a.element_type() == VT_BSTR) {
      for (const Bstr& s : a.strings()) WriteBstr(s);
    } else if (a.element_type() == VT_VARIANT) {
      for (const Variant& e : a.variants()) {
        if (!WriteVariantAt(e, false, depth + 1)) return false;
      }
    } else {
      Raw(a.bytes().data(), a.bytes().size());
    }
    return true;
  }
  switch (v.vt()) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_I2: { int16_t x = v.i2(); Raw(&x, 2); return true; }
    case VT_BOOL: { int16_t x = v.boolean() ? VARIANT_TRUE : VARIANT_FALSE; Raw(&x, 2); return true; }
    case VT_I4: I32(v.i4()); return true;
    case VT_ERROR: I32(v.scode()); return true;
    case VT_R4: { float x = v.r4(); Raw(&x, 4); return true; }
    case VT_R8: { double x = v.r8(); Raw(&x, 8); return true; }
    case VT_UI1: U8(v.ui1()); return true;
    case VT_I8: { int64_t x = v.i8(); Raw(&x, 8); return true; }
    case VT_BSTR: WriteBstr(v.bstr()); return true;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (v.dispatch() == nullptr) {
        U8(kObjectNull);
        return true;
      }
      if (objects_ == nullptr) return false;
      objects_->WriteObject(*this, v.dispatch());
      return true;
    default:
      return false;
  }
}

void Writer::WriteExcep(const ExcepInfo& e) {
  I32(e.code);
  WriteBstr(e.source);
  WriteBstr(e.description);
}

std::vector<uint8_t>& Writer::Finish(Kind kind, uint32_t call_id) {
  Header h{kind, 0, static_cast<uint32_t>(buf_.size() - kHeaderSize), call_id};
  EncodeHeader(h, buf_.data());
  return buf_;
}

// ---------------------------------------------------------------------------

bool Reader::Raw(void* out, size_t n) {
  if (!ok_ || remaining() < n) {
    ok_ = false;
    if (n > 0) std::memset(out, 0, n);
    return false;
  }
  if (n > 0) std::memcpy(out, p_, n);
  p_ += n;
  return true;
}

uint8_t Reader::U8() {
  uint8_t v = 0;
  Raw(&v, 1);
  return v;
}
uint16_t Reader::U16() {
  uint16_t v = 0;
  Raw(&v, 2);
  return v;
}
uint32_t Reader::U32() {
  uint32_t v = 0;
  Raw(&v, 4);
  return v;
}

Guid Reader::ReadGuid() {
  Guid g;
  g.data1 = U32();
  g.data2 = U16();
  g.data3 = U16();
  Raw(g.data4.data(), 8);
  return g;
}

Bstr Reader::ReadBstr() {
  uint8_t present = U8();
  if (present == 0) return Bstr();
  if (present != 1) {
    Fail();
    return Bstr();
  }
  uint32_t n = U32();
  if (!ok_ || remaining() / 2 < n) {
    Fail();
    return Bstr();
  }
  std::u16string s(n, u'\0');
  Raw(s.data(), static_cast<size_t>(n) * 2);
  return Bstr(std::move(s));
}

std::string Reader::ReadText() {
  uint16_t n = U16();
  if (!ok_ || remaining() < n) {
    Fail();
    return {};
  }
  std::string s(n, '\0');
  Raw(s.data(), n);
  return s;
}

Variant Reader::ReadVariant(VarType* byref_type) { return ReadVariantAt(0, byref_type); }

Variant Reader::ReadVariantAt(int depth, VarType* byref_type) {
  if (byref_type != nullptr) *byref_type = VT_EMPTY;
  if (depth > kMaxDepth) {
    Fail();
    return {};
  }
  VarType vt = U16();
  if (!ok_) return {};
  if (vt & VT_BYREF) {
    if (byref_type == nullptr) {  // not allowed here
      Fail();
      return {};
    }
    Variant inner = ReadVariantAt(depth + 1, nullptr);
    *byref_type = vt;
    return inner;
  }
  if (vt & VT_ARRAY) {
    VarType element_type = static_cast<VarType>(vt & ~VT_ARRAY);
    uint8_t dims = U8();
    if (!ok_ || dims == 0 || dims > SafeArray::kMaxDims) {
      Fail();
      return {};
    }
    ArrayBound bounds[SafeArray::kMaxDims];
    uint64_t count = 1;
    for (int d = 0; d < dims; ++d) {
      bounds[d].lower = I32();
      bounds[d].count = U32();
      count *= bounds[d].count;
      if (count > kMaxBody) {
        Fail();
        return {};
      }
    }
    uint32_t raw_size = element_type == VT_EMPTY ? U32() : 0;
    SafeArray a;
    if (!ok_ || Failed(SafeArray::Create(element_type, std::span(bounds, dims), &a, raw_size)) ||
        count * MinElementBytes(element_type, a.element_size()) > remaining()) {
      Fail();
      return {};
    }
    if (element_type == VT_BSTR) {
      for (Bstr& s : a.strings()) s = ReadBstr();
    } else if (element_type == VT_VARIANT) {
      for (Variant& e : a.variants()) e = ReadVariantAt(depth + 1, nullptr);
    } else {
      Raw(a.bytes().data(), a.bytes().size());
    }
    if (!ok_) return {};
    return Variant(std::move(a));
  }
  switch (vt) {
    case VT_EMPTY: return {};
    case VT_NULL: return Variant::Null();
    case VT_I2: { int16_t x = 0; Raw(&x, 2); return Variant(x); }
    case VT_BOOL: { int16_t x = 0; Raw(&x, 2); return Variant(x != 0); }
    case VT_I4: return Variant(I32());
    case VT_ERROR: return Variant::Error(I32());
    case VT_R4: { float x = 0; Raw(&x, 4); return Variant(x); }
    case VT_R8: { double x = 0; Raw(&x, 8); return Variant(x); }
    case VT_UI1: return Variant(U8());
    case VT_I8: { int64_t x = 0; Raw(&x, 8); return Variant(x); }
    case VT_BSTR: return Variant(ReadBstr());
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      std::shared_ptr<Dispatch> object;
      if (objects_ == nullptr) {
        if (U8() != kObjectNull) Fail();
      } else if (!objects_->ReadObject(*this, &object)) {
        Fail();
      }
      return Variant(std::move(object));
    }
    default:
      Fail();
      return {};
  }
}

ExcepInfo Reader::ReadExcep() {
  ExcepInfo e;
  e.code = I32();
  e.source = ReadBstr();
  e.description = ReadBstr();
  return e;
}

}  // namespace zimo::automation::wire
