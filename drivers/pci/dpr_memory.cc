// Plain access to the card's dual-ported RAM: blocks, 16-bit words, bits and
// bit fields, each refused when it does not lie wholly inside the window.
#include "pci/device_extension.h"

namespace zimo::drivers::pci {

namespace {

bool Inside(const DeviceExtension& ext, uint64_t offset, uint64_t length) {
  return offset + length <= ext.dpr->length();
}

// Bits [first, first + width) of a dword; widths of 32 or more take every
// bit from `first` up, and a field starting past bit 31 is empty.
uint32_t FieldMask(uint32_t first, uint32_t width) {
  if (first >= 32 || width == 0) return 0;
  const uint64_t low = width >= 32 ? 0xFFFFFFFFull : (1ull << width) - 1;
  return static_cast<uint32_t>(low << first);
}

uint32_t BitNumber(const ZimoDprBitsRecord& record) {
  return (static_cast<uint32_t>(record.first_bit) | static_cast<uint32_t>(record.width) << 16) %
         32;
}

// The checks every bit operation makes first; false when it must stop.
bool BitsPrologue(DeviceExtension& ext, ZimoDprBitsRecord& record) {
  ext.dpr_last_error = 0;
  record.done = 0;
  return ext.dpr && Inside(ext, record.offset, 4);
}

constexpr uint32_t kBitsReply = sizeof(ZimoDprBitsRecord);

}  // namespace

uint32_t ReadDpram(DeviceExtension& ext, uint32_t offset, uint32_t length, uint8_t* out) {
  if (!ext.dpr) return 0;
  ext.dpr_last_error = 0;
  if (length == 0 || length > ext.dpr->length() || !Inside(ext, offset, length)) return 0;
  ext.dpr->ReadBlock(offset, out, length);
  return length;
}

uint32_t WriteDpram(DeviceExtension& ext, const uint8_t* data, uint32_t offset, uint32_t length) {
  if (!ext.dpr) return 0;
  ext.dpr_last_error = 0;
  if (length == 0 || length > ext.dpr->length() || !Inside(ext, offset, length)) return 0;
  ext.dpr->WriteBlock(offset, data, length);
  ext.dpr->Barrier();
  return length;
}

uint32_t WriteDpramWord(DeviceExtension& ext, uint16_t value, uint32_t offset) {
  if (!ext.dpr) return 2;
  ext.dpr_last_error = 0;
  if (!Inside(ext, offset, 2)) return 0;
  ext.dpr->Write16(offset, value);
  ext.dpr->Barrier();
  return 2;
}

uint16_t ReadDpramWord(DeviceExtension& ext, uint32_t offset) {
  if (!ext.dpr || !Inside(ext, offset, 2)) return 0;
  ext.dpr_last_error = 0;
  return ext.dpr->Read16(offset);
}

uint32_t GetMemBits(DeviceExtension& ext, ZimoDprBitsRecord& record) {
  if (!BitsPrologue(ext, record)) return kBitsReply;
  const uint32_t mask = FieldMask(record.first_bit, record.width);
  const uint32_t dword = ext.dpr->Read32(record.offset);
  record.value = record.first_bit >= 32 ? 0 : (dword & mask) >> record.first_bit;
  record.done = 1;
  return kBitsReply;
}

uint32_t SetMemBits(DeviceExtension& ext, ZimoDprBitsRecord& record) {
  if (!BitsPrologue(ext, record)) return kBitsReply;
  const uint32_t mask = FieldMask(record.first_bit, record.width);
  const uint32_t dword = ext.dpr->Read32(record.offset);
  // The value is masked to the field: bits of a value wider than the field
  // must not reach the neighbouring fields.
  const uint32_t shifted =
      record.first_bit >= 32 ? 0 : static_cast<uint32_t>(uint64_t{record.value} << record.first_bit);
  const uint32_t updated = (dword & ~mask) | (shifted & mask);
  ext.dpr->Write32(record.offset, updated);
  ext.dpr->Barrier();
  ext.kernel().DbgPrint(
      "ZIMOPCI: SetMemBits: w = %d, b = %d, v = 0x%x, cv = 0x%x, mask = 0x%x, nv = 0x%x\n",
      record.width, record.first_bit, record.value, dword, mask, updated);
  record.done = 1;
  return kBitsReply;
}

uint32_t GetMemBit(DeviceExtension& ext, ZimoDprBitsRecord& record) {
  const uint32_t bit = BitNumber(record);
  if (!BitsPrologue(ext, record)) return kBitsReply;
  record.value = (ext.dpr->Read32(record.offset) >> bit) & 1u;
  record.done = 1;
  return kBitsReply;
}

uint32_t SetMemBit(DeviceExtension& ext, ZimoDprBitsRecord& record) {
  const uint32_t bit = BitNumber(record);
  if (!BitsPrologue(ext, record)) return kBitsReply;
  uint32_t dword = ext.dpr->Read32(record.offset);
  if (record.value != 0) {
    dword |= 1u << bit;
  } else {
    dword &= ~(1u << bit);
  }
  ext.dpr->Write32(record.offset, dword);
  ext.dpr->Barrier();
  record.done = 1;
  return kBitsReply;
}

}  // namespace zimo::drivers::pci
