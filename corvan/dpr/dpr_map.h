// Host-side layout of the 16384-byte dual-ported RAM area, expressed as host
// byte offsets. The area is the same size on all cards, but the placement of
// the fixed regions differs between older cards and the SPRAN generation.
// Card address A corresponds to host offset (A - DprCardBase) * 4.
#pragma once

#include <cstdint>

namespace zimo::corvan {

inline constexpr std::uint32_t kDprWindowBytes = 16384;
inline constexpr std::uint32_t kDprWindowWords = kDprWindowBytes / 4;

// Card-side address ranges of the window.
inline constexpr std::uint32_t kDprCardStartOlder = 0xD000;
inline constexpr std::uint32_t kDprCardEndOlder = 0xE000;
inline constexpr std::uint32_t kDprCardStartSpran = 0x60000;
inline constexpr std::uint32_t kDprCardEndSpran = 0x61000;
inline constexpr std::uint32_t kDprCardStartType8 = 0x6C000;
inline constexpr std::uint32_t kDprCardEndType8 = 0x6D000;

// One generation's fixed areas (host byte offsets).
struct DprLayout {
  std::uint32_t real_time;            // fixed real-time buffer
  std::uint32_t background;           // fixed background buffer
  std::uint32_t mailbox_host_flag;    // u16: a command waits for the card
  std::uint32_t mailbox_control;      // u8: a control character
  std::uint32_t mailbox_host_text;    // the command text
  std::uint32_t mailbox_card_status;  // u16: what the card posted
  std::uint32_t mailbox_card_count;   // u16
  std::uint32_t mailbox_card_text;
  std::uint32_t write_buffer_control;  // u16 WriteBufferControl
  std::uint32_t write_buffer_start;    // u16 WriteBufferStart
  std::uint32_t vbg_handshake;         // u16 VbgHandshake
  std::uint32_t vbg_servo_timer;       // u16 VbgServoTimer
  std::uint32_t vbg_entry_count;       // u16 VbgEntryCount
  std::uint32_t vbg_start_address;     // u16 VbgStartAddress
  std::uint32_t rotary_area_end;       // RotaryAreaEnd
  std::uint32_t variable_area_base;    // VariableAreaBase
  std::uint32_t fixed_end_words;       // card words of the fixed areas
};

inline constexpr DprLayout kDprOlder{
    0x024, 0x228, 0x62C, 0x62E, 0x630, 0x6D0, 0x6D2, 0x6D4, 0x7D4,
    0x7D6, 0x7E8, 0x7EA, 0x7EC, 0x7EE, 0x8FC, 0x900, 0x240,
};
inline constexpr DprLayout kDprSpran{
    0x068,  0x674,  0xE9C,  0xE9E,  0xEA0,  0xF40,  0xF42,  0xF44, 0x104C,
    0x104E, 0x1044, 0x1046, 0x1048, 0x104A, 0x113C, 0x1140, 0x450,
};

inline const DprLayout& DprLayoutOf(bool spran) { return spran ? kDprSpran : kDprOlder; }

// Binary rotary buffers: eight 12-byte descriptors.
inline constexpr int kRotaryDescriptors = 8;
inline constexpr std::uint32_t kRotaryDescriptorBytes = 12;

// Host offset of rotary descriptor n (0 to 7). Older cards keep buffers 0
// and 1 twenty bytes apart and buffers 2 to 7 among the variable-background
// words.
inline std::uint32_t RotaryDescriptorOffset(bool spran, int n) {
  if (spran) return 0x1050 + 12u * static_cast<std::uint32_t>(n);
  return n < 2 ? 0x7DC + 20u * static_cast<std::uint32_t>(n)
               : 0x7F0 + 12u * static_cast<std::uint32_t>(n);
}

}  // namespace zimo::corvan
