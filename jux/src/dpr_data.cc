// Reads and writes card data words straight from the mapped DPR window,
// plus conversion of both 48-bit word formats.
#include <cmath>
#include <cstring>

#include "internal.h"

using namespace jux;

namespace {

constexpr long kWindow = 16384;

// The window of a record, or null (4003 stored) when none is mapped.
uint8_t* Window(tagMCardInfo* r) {
  SlotResources* slot = SlotOf(r);
  if (r == nullptr || r->dpr_view == 0 || slot == nullptr || slot->dpr_window == nullptr) {
    SetError(r, 4003);
    return nullptr;
  }
  return slot->dpr_window;
}

// Byte offset of a `width`-byte access, or -1 (4001 stored) when it would
// leave the window.
long At(tagMCardInfo* r, long byte_offset, long width) {
  if (byte_offset < 0 || byte_offset > kWindow - width) {
    SetError(r, 4001);
    return -1;
  }
  return byte_offset;
}

// The card may change the window at any time: every access is one volatile
// load or store.
uint16_t Load16(const uint8_t* w, long at) {
  return *reinterpret_cast<const volatile uint16_t*>(w + at);
}
uint32_t Load32(const uint8_t* w, long at) {
  return *reinterpret_cast<const volatile uint32_t*>(w + at);
}
void Store16(uint8_t* w, long at, uint16_t v) { *reinterpret_cast<volatile uint16_t*>(w + at) = v; }
void Store32(uint8_t* w, long at, uint32_t v) { *reinterpret_cast<volatile uint32_t*>(w + at) = v; }

long DwordAt(tagMCardInfo* r, long offset) {
  return offset < 0 || offset >= kWindow / 4 ? At(r, -1, 4) : At(r, offset * 4, 4);
}

// 16-bit index of a half word: offset times 2, plus 1 for the X half; the
// index is kept in 16 bits.
long HalfIndex(char bank, long offset) {
  const long index = offset * 2 + ((bank == 'X' || bank == 'x') ? 1 : 0);
  return index & 0xFFFF;
}

}  // namespace

extern "C" {

unsigned short PDPRGetWord(tagMCardInfo* r, char bank, long offset) {
  uint8_t* w = Window(r);
  if (w == nullptr) return 0;
  const long at = At(r, HalfIndex(bank, offset) * 2, 2);
  return at < 0 ? 0 : Load16(w, at);
}

int PDPRSetWord(tagMCardInfo* r, char bank, long offset, unsigned short value) {
  uint8_t* w = Window(r);
  if (w == nullptr) return 0;
  const long at = At(r, HalfIndex(bank, offset) * 2, 2);
  if (at < 0) return 0;
  Store16(w, at, value);
  return 1;
}

unsigned long PDPRGetDWord(tagMCardInfo* r, long offset) {
  uint8_t* w = Window(r);
  if (w == nullptr) return 0;
  const long at = DwordAt(r, offset);
  return at < 0 ? 0 : Load32(w, at);
}

int PDPRSetDWord(tagMCardInfo* r, long offset, unsigned long value) {
  uint8_t* w = Window(r);
  if (w == nullptr) return 0;
  const long at = DwordAt(r, offset);
  if (at < 0) return 0;
  Store32(w, at, static_cast<uint32_t>(value));
  return 1;
}

float PDPRGetFloat(tagMCardInfo* r, long offset) {
  uint8_t* w = Window(r);
  if (w == nullptr) return 0.0f;
  const long at = DwordAt(r, offset);
  if (at < 0) return 0.0f;
  const uint32_t bits = Load32(w, at);
  float value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

int PDPRSetFloat(tagMCardInfo* r, long offset, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return PDPRSetDWord(r, offset, bits);
}

// Read, change, write back: not atomic against the card.
static int ChangeBit(tagMCardInfo* r, long offset, int bit, bool set) {
  uint8_t* w = Window(r);
  if (w == nullptr) return 0;
  const long at = DwordAt(r, offset);
  if (at < 0) return 0;
  const uint32_t mask = 1u << (static_cast<unsigned>(bit) % 32);
  const uint32_t old = Load32(w, at);
  Store32(w, at, set ? (old | mask) : (old & ~mask));
  return 1;
}

int PDPRDWordSetBit(tagMCardInfo* r, long offset, int bit) {
  return ChangeBit(r, offset, bit, true);
}

int PDPRDWordResetBit(tagMCardInfo* r, long offset, int bit) {
  return ChangeBit(r, offset, bit, false);
}

int PDPRDWordBitSet(tagMCardInfo* r, long offset, int bit) {
  uint8_t* w = Window(r);
  if (w == nullptr) return 0;
  const long at = DwordAt(r, offset);
  if (at < 0) return 0;
  return (Load32(w, at) >> (static_cast<unsigned>(bit) % 32)) & 1u ? 1 : 0;
}

double PDPRDouble(long least, long most) {
  const int64_t mantissa = static_cast<int64_t>(static_cast<int32_t>(most)) * 4096 +
                           ((static_cast<int64_t>(least) >> 12) & 0xFFF);
  if (mantissa == 0) return 0.0;
  const long exponent = least & 0xFFF;
  return std::ldexp(static_cast<double>(mantissa), static_cast<int>(exponent - 2082));
}

double PDPRFixed(long least, long most) {
  return static_cast<double>(least & 0xFFFFFF) +
         static_cast<double>(static_cast<int32_t>(most)) * 16777216.0;
}

}  // extern "C"
