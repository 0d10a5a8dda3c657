// Direct reads and writes of a card's dual-ported RAM (DPR), the 16384-byte
// area shared by card and host. Offsets are host byte offsets into that area;
// card address A maps to host offset (A - DprCardBase) * 4. Calls go through
// the driver for ISA, PCI and USB cards and over the network for Ethernet
// cards. Serial devices, and devices this process has not opened, cannot
// reach DPR and always get the failure result.
//
// Bit accessors work on the 32-bit value at the given byte offset (which
// need not be aligned), with bit 0 as its lowest bit. Anything reaching
// outside the area is rejected before the card is touched. There is no
// locking here: every access is a single driver call or network request
// (network blocks over 1400 bytes are split), so read-modify-write helpers
// like ZimoDPRSetDWordMask can race with the card and other processes.
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Reads `length` bytes at `offset` into `destination`: the destination, or
// 0 when the read failed (the destination is then untouched).
void* ZimoDPRGetMem(uint32_t device, uint32_t offset, uint32_t length, void* destination);
// Writes `length` bytes of `source` at `offset`: the source, or 0 when
// nothing could be written (no DPR, a block outside the window, a failed
// request). A block split into several network requests may be written in
// part when a later request fails.
const void* ZimoDPRSetMem(uint32_t device, uint32_t offset, uint32_t length, const void* source);

// Bits [first_bit, first_bit + bit_count) of the dword at `offset`, shifted
// down to bit 0, into *value: nonzero on success (*value is written only
// then); 0 for a null value pointer.
int32_t ZimoDPRGetMemBits(uint32_t device, uint32_t offset, uint16_t first_bit, uint16_t bit_count,
                          uint32_t* value);
// Replaces those bits by `value` (masked to the field's width, so no other
// bit changes): nonzero on success.
int32_t ZimoDPRSetMemBits(uint32_t device, uint32_t offset, uint16_t first_bit, uint16_t bit_count,
                          uint32_t value);
// Bit `bit` (0 to 31) of the dword at `offset` into *value (1 or 0).
int32_t ZimoDPRGetMemBit(uint32_t device, uint32_t offset, uint32_t bit, uint32_t* value);
// Sets the bit (value not 0) or clears it (value 0).
int32_t ZimoDPRSetMemBit(uint32_t device, uint32_t offset, uint32_t bit, uint32_t value);

// The bit (0 or 1); 0 when the read failed.
int32_t ZimoDPRDWordBitSet(uint32_t device, uint32_t offset, uint16_t bit);
void ZimoDPRSetDWordBit(uint32_t device, uint32_t offset, uint16_t bit);
void ZimoDPRResetDWordBit(uint32_t device, uint32_t offset, uint16_t bit);

// Words, dwords and single-precision floats; readers give 0 when the read
// failed, writers skip a write they cannot make.
uint16_t ZimoDPRGetWord(uint32_t device, uint32_t offset);
void ZimoDPRSetWord(uint32_t device, uint32_t offset, uint16_t value);
uint32_t ZimoDPRGetDWord(uint32_t device, uint32_t offset);
void ZimoDPRSetDWord(uint32_t device, uint32_t offset, uint32_t value);
// The four bytes read as an IEEE single, widened.
double ZimoDPRGetFloat(uint32_t device, uint32_t offset);
// Stores the IEEE single nearest to `value`.
void ZimoDPRSetFloat(uint32_t device, uint32_t offset, double value);
// Reads the dword and writes it back with `mask` set (flag 1) or cleared
// (any other flag).
void ZimoDPRSetDWordMask(uint32_t device, uint32_t offset, uint32_t mask, int32_t flag);
// The dword AND `mask`.
uint32_t ZimoDPRGetDWordMask(uint32_t device, uint32_t offset, uint32_t mask);

// A bound of the window: with `host` set, 0 (start) or 16384 (`end` set);
// otherwise the card-side start or end address for the device's card:
// $D000-$E000 on older cards, $60000-$61000 on SPRAN cards, $6C000-$6D000
// on SPRAN cards of card type 8.
uint32_t ZimoDPRAddressRange(uint32_t device, int32_t end, int32_t host);

#ifdef __cplusplus
}  // extern "C"
#endif
