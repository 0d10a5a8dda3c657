// What the rings, the staging block and the host-side packets share inside
// the library: the outcome of a put that tells "not staged" from "staged,
// its sending still to be retried", which the feeders need to move on
// exactly once per command.
#pragma once

#include <cstdint>

namespace zimo::corvan {

// Result codes of the put family.
inline constexpr int kRotAccepted = 0;
inline constexpr int kRotRetry = 1;
inline constexpr int kRotEnd = 2;
inline constexpr int kRotRefused = -1;

struct RotaryPutOutcome {
  int result = kRotRefused;
  // The command is held for sending (staging block or host packet) even
  // though the result may be kRotRetry: a retry must not stage it again.
  bool staged = false;
};

// The put of a command into buffer n: the DPR ring on bus and PCI cards,
// the staging block on USB and Ethernet cards.
RotaryPutOutcome RotaryStagePut(int device, int count, const std::uint32_t* words, int n,
                                bool flush, char* text);
// The host-side packets' put (other cards: RotaryStagePut with flush and
// no text).
RotaryPutOutcome RotaryHostPut(int device, int count, const std::uint32_t* words, int n, bool flush,
                               char* text);

// The device's Location code (kLocationUnknown without a record).
std::uint32_t RotaryLocation(int device);

// Whether commands wait in the device's staging block.
bool RotaryStagingPending(int device);
// Empties the device's staging block.
void RotaryStagingClear(int device);

// Host rotary mode of the device.
bool RotaryHostMode(int device);
// Empties the device's host-side packets and resets the card's reception.
int RotaryHostInit(int device);

}  // namespace zimo::corvan
