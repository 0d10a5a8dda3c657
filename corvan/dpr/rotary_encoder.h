// Second pass of the motion-text converter: a line's rotary tokens become
// the card's binary commands, 48-bit card words each kept in an 8-byte unit
// (four little-endian 16-bit words; bits 48-63 are always 0).
#pragma once

#include <cstddef>
#include <cstdint>

#include "dpr/rotary_parser.h"

namespace zimo::corvan {

// One line's binary commands: at most 76 units (608 bytes).
inline constexpr std::size_t kRotaryBlockBytes = 608;
inline constexpr std::size_t kRotaryBlockUnits = kRotaryBlockBytes / 8;
// Numeric constants one expression statement may hold.
inline constexpr std::size_t kRotaryStatementConstants = 16;

// Encodes the token list (ending in token 0) into `block` (room for
// kRotaryBlockBytes): the number of 32-bit words written (two per unit), or
// -60 for a value the card cannot hold, -66 for a line beyond the block or a
// statement with more constants than it can carry.
int RotaryEncodeLine(const RotaryDialect& dialect, const RotaryToken* tokens, std::uint8_t* block);
int RotaryEncodeLine(int device, const RotaryToken* tokens, std::uint8_t* block);

// Both passes over one upper-cased line: word count (0 for an empty line) or
// the first error.
int RotaryConvertLine(const RotaryDialect& dialect, const char* text, std::uint8_t* block);

// A value in the card's full floating form: exponent field (bits 0-5) and
// the 36 mantissa bits (bits 12-47 of the unit); false when the exponent
// falls outside 0..63.
bool RotaryPackValue(double value, std::uint32_t* exponent, std::uint64_t* mantissa36);

}  // namespace zimo::corvan
