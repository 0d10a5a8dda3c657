// The card's dual-ported RAM over vendor requests: blocks in pieces of at
// most 4096 bytes, bits and bit fields of a dword. Every block and every
// bit operation must lie inside the DPR's 64 KB: offsets are never wrapped.
#include <algorithm>
#include <cstring>

#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace {

bool Inside(const DeviceExtension& ext, uint64_t offset, uint64_t length) {
  return offset + length <= ext.card.dpr_size;
}

// Bits [first, first + width) of a dword; widths of 32 or more take every
// bit from `first` up, and a field starting past bit 31 is empty.
uint32_t FieldMask(uint32_t first, uint32_t width) {
  if (first >= 32 || width == 0) return 0;
  const uint64_t low = width >= 32 ? 0xFFFFFFFFull : (1ull << width) - 1;
  return static_cast<uint32_t>(low << first);
}

std::span<const uint8_t> Le32(uint32_t value, uint8_t* bytes) {
  std::memcpy(bytes, &value, 4);
  return {bytes, 4};
}

}  // namespace

uint32_t ReadDpramUsb(DeviceExtension& ext, uint32_t offset, uint8_t* out, uint32_t length) {
  offset &= 0xFFFF;
  if (length == 0 || !Inside(ext, offset, length)) return 0;
  for (uint32_t done = 0; done < length;) {
    const uint32_t piece = std::min(kBlockBytes, length - done);
    const uint32_t got = VendorIn(ext, vendor::kReadDpr, static_cast<uint16_t>(offset + done), 0,
                                  std::span(out + done, piece));
    // A piece that did not come whole leaves the block unread.
    if (got != piece) return 0;
    done += piece;
  }
  return length;
}

void WriteDpramUsb(DeviceExtension& ext, uint32_t offset, const uint8_t* data, uint32_t length) {
  offset &= 0xFFFF;
  if (length == 0 || !Inside(ext, offset, length)) return;
  for (uint32_t done = 0; done < length;) {
    const uint32_t piece = std::min(kBlockBytes, length - done);
    if (!VendorOut(ext, vendor::kWriteDpr, static_cast<uint16_t>(offset + done), 0,
                   std::span(data + done, piece))) {
      return;
    }
    done += piece;
  }
}

void GetMemBitsUsb(DeviceExtension& ext, ZimoDprBitsRecord& record, bool single_bit) {
  ext.last_card_error = 0;
  record.done = 0;
  if (!Inside(ext, record.offset, 4)) return;
  uint8_t bytes[4];
  if (VendorIn(ext, vendor::kReadDpr, static_cast<uint16_t>(record.offset), 0, bytes) != 4) return;
  uint32_t dword;
  std::memcpy(&dword, bytes, 4);
  if (single_bit) {
    const uint32_t bit =
        (static_cast<uint32_t>(record.first_bit) | static_cast<uint32_t>(record.width) << 16) % 32;
    record.value = (dword >> bit) & 1u;
  } else {
    const uint32_t mask = FieldMask(record.first_bit, record.width);
    record.value = record.first_bit >= 32 ? 0 : (dword & mask) >> record.first_bit;
  }
  record.done = 1;
}

void SetMemBitsUsb(DeviceExtension& ext, ZimoDprBitsRecord& record) {
  record.done = 0;
  if (!Inside(ext, record.offset, 4)) return;
  const uint32_t mask = FieldMask(record.first_bit, record.width);
  const uint32_t shifted = record.first_bit >= 32
                               ? 0
                               : static_cast<uint32_t>(uint64_t{record.value} << record.first_bit);
  uint8_t bytes[8];
  const uint32_t and_mask = ~mask;
  const uint32_t or_bits = shifted & mask;
  std::memcpy(bytes, &and_mask, 4);
  std::memcpy(bytes + 4, &or_bits, 4);
  if (VendorOut(ext, vendor::kSetDprBits, static_cast<uint16_t>(record.offset), 0, bytes)) {
    record.done = 1;
  }
}

void SetMemBitUsb(DeviceExtension& ext, ZimoDprBitsRecord& record) {
  record.done = 0;
  if (!Inside(ext, record.offset, 4)) return;
  const uint32_t bit =
      (static_cast<uint32_t>(record.first_bit) | static_cast<uint32_t>(record.width) << 16) % 32;
  const uint16_t set = static_cast<uint16_t>(record.value & 0xFFFF);
  const uint32_t mask = set != 0 ? (1u << bit) : ~(1u << bit);
  uint8_t bytes[4];
  if (VendorOut(ext, vendor::kSetDprBit, static_cast<uint16_t>(record.offset), set,
                Le32(mask, bytes))) {
    record.done = 1;
  }
}

}  // namespace zimo::drivers::usb
