// Sending a prepared program file to a card: line by line through the
// command API (bus, dual-ported RAM and serial cards, each line's reply read
// before the next goes out) or in blocks of NUL-ended lines (USB and
// Ethernet cards, which answer a block with the position of a failing
// line). Every card error is reported with the file and source line it
// came from.
#pragma once

#include <chrono>
#include <cstdint>

namespace zimo::corvan {

// Block sizes and the fill level at which a block goes out.
inline constexpr std::uint32_t kUsbDownloadBlock = 4096;
inline constexpr std::uint32_t kUsbDownloadThreshold = 3840;
inline constexpr std::uint32_t kEthDownloadBlock = 1500;
inline constexpr std::uint32_t kEthDownloadThreshold = 1144;

// Bit 31 of a block status: a line failed; its position (1 for the first
// line of the part sent) in bits 0-15, the card's error number in 16-23
// (0 standing for 3).
inline constexpr std::uint32_t kBlockLineFailed = 0x80000000;

// Transport of a block sender: sends `size` bytes and gives the card's
// status word; false when the transport failed.
using BlockSend = bool (*)(int device, const char* block, std::uint32_t size,
                           std::uint32_t* status);

// The pause after a block download (50 ms), for benchmarks that time the
// transfer without it; returns the pause it replaces.
std::chrono::milliseconds SetBlockDownloadPauseForTesting(std::chrono::milliseconds pause);

}  // namespace zimo::corvan
