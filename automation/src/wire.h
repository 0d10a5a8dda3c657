// The framing of calls between processes. Every frame is a 12-byte header
// (magic "ZA", kind, flags, body length, call id; little endian) and a body.
// Requests carry a call id the reply repeats; kRelease has no reply.
//
// A Reader never reads past its body: every read is checked and the first
// failure makes ok() false, so a malformed frame is found without trusting
// any count in it (an array's element count must fit in what is left).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/dispatch.h"

namespace zimo::automation::wire {

inline constexpr uint8_t kMagic0 = 'Z';
inline constexpr uint8_t kMagic1 = 'A';
inline constexpr size_t kHeaderSize = 12;
inline constexpr uint32_t kMaxBody = 64u << 20;
// Variants nest (arrays of VARIANT); deeper than this is refused.
inline constexpr int kMaxDepth = 16;
// What most frames fit in (a call with a few scalar or short text arguments).
inline constexpr size_t kUsualFrame = 256;

enum class Kind : uint8_t {
  kCreateInstance = 1,  // clsid -> hr, object
  kInvoke = 2,          // object, dispid, flags, args -> hr, result, outs, excepinfo
  kGetIdOfName = 3,     // object, name -> hr, dispid
  kAdvise = 4,          // object, iid, sink -> hr, cookie
  kUnadvise = 5,        // object, iid, cookie -> hr
  kRelease = 6,         // object, count (no reply)
  kReply = 0x80,
};

struct Header {
  Kind kind = Kind::kReply;
  uint8_t flags = 0;
  uint32_t length = 0;
  uint32_t call_id = 0;
};

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]);
// False when the magic is wrong, the kind unknown or the length too big.
bool DecodeHeader(const uint8_t in[kHeaderSize], Header* h);

// Object references travel as ids in the sender's or the receiver's table.
class ObjectCodec;

class Writer {
 public:
  explicit Writer(ObjectCodec* objects = nullptr) : objects_(objects) {
    // Room for a usual call or reply at once, so that the frame is not
    // reallocated as it grows.
    buf_.reserve(kUsualFrame);
    buf_.resize(kHeaderSize);  // the header is filled in by Finish
  }

  void U8(uint8_t v) { buf_.push_back(v); }
  void U16(uint16_t v) { Raw(&v, 2); }
  void U32(uint32_t v) { Raw(&v, 4); }
  void I32(int32_t v) { Raw(&v, 4); }
  void Raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    buf_.insert(buf_.end(), b, b + n);
  }
  void WriteGuid(const Guid& g);
  void WriteBstr(const Bstr& s);
  void WriteText(std::string_view s);  // short UTF-8 text (names)
  // Fails (returns false) for what cannot travel: a by-reference value
  // inside an array or result, or an object without an object codec.
  bool WriteVariant(const Variant& v, bool allow_byref = false);
  void WriteExcep(const ExcepInfo& e);

  // Fills the header and gives the whole frame.
  std::vector<uint8_t>& Finish(Kind kind, uint32_t call_id);

 private:
  bool WriteVariantAt(const Variant& v, bool allow_byref, int depth);
  ObjectCodec* objects_;
  std::vector<uint8_t> buf_;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size, ObjectCodec* objects = nullptr)
      : p_(data), end_(data + size), objects_(objects) {}

  bool ok() const { return ok_; }
  bool at_end() const { return p_ == end_; }
  size_t remaining() const { return static_cast<size_t>(end_ - p_); }
  void Fail() { ok_ = false; }

  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  int32_t I32() { return static_cast<int32_t>(U32()); }
  bool Raw(void* out, size_t n);
  Guid ReadGuid();
  Bstr ReadBstr();
  std::string ReadText();
  // A by-reference value (allowed only where byref_type is given) comes
  // back as its target's value, with VT_BYREF | the declared kind in
  // *byref_type; a plain value leaves VT_EMPTY there.
  Variant ReadVariant(VarType* byref_type = nullptr);
  ExcepInfo ReadExcep();

 private:
  Variant ReadVariantAt(int depth, VarType* byref_type);
  const uint8_t* p_;
  const uint8_t* end_;
  ObjectCodec* objects_;
  bool ok_ = true;
};

// Implemented by a connection: how objects become ids and ids proxies.
class ObjectCodec {
 public:
  virtual ~ObjectCodec() = default;
  virtual void WriteObject(Writer& w, const std::shared_ptr<Dispatch>& object) = 0;
  // False when the reference names nothing this side knows.
  virtual bool ReadObject(Reader& r, std::shared_ptr<Dispatch>* object) = 0;
};

// Object reference tags.
inline constexpr uint8_t kObjectNull = 0;
inline constexpr uint8_t kObjectOfSender = 1;    // id in the sender's table, then its interfaces
inline constexpr uint8_t kObjectOfReceiver = 2;  // id in the receiver's own table

}  // namespace zimo::automation::wire
