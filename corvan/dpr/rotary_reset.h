// The binary rotary buffers' descriptors in DPR, as device open resets
// them: each buffer n (0 to 7) is described by twelve bytes that the host
// and the card share (six 16-bit words).
#pragma once

#include <cstdint>

namespace zimo::corvan {

struct RotBufDescriptor {
  std::uint16_t Status;        // written by the card; bit 15: the buffer is in error
  std::uint16_t BufferNumber;  // n + 1
  std::uint16_t HostIndex;     // next word the host writes
  std::uint16_t CardIndex;     // next word the card reads
  std::uint16_t Size;          // ring length in DPR words; 0: not set up
  std::uint16_t Start;         // where the ring starts, as the card sees it
};
static_assert(sizeof(RotBufDescriptor) == 12);

// Older cards carry descriptors 2 to 7 from this firmware version on.
inline constexpr char kRotaryDescriptorsFirmware[] = "1.16B";

// Reads descriptor n into *descriptor (zeroed first): 1 when read; 0 without
// DPR in this process, for n of 8 or more, a null destination, or a
// descriptor the card's firmware does not have.
int ZimoDPRGetRotBufDescriptor(int device, int n, RotBufDescriptor* descriptor);
// Writes descriptor n under the same conditions; nothing happens otherwise.
void ZimoDPRSetRotBufDescriptor(int device, int n, const RotBufDescriptor* descriptor);

// Device open's reset: the host index, card index and size of every
// descriptor the card has become 0; its status, number and start stay.
void ResetRotaryDescriptors(int device);

}  // namespace zimo::corvan
