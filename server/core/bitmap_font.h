// The 5x7 bitmap font the control drawing writes its label in: printable
// ASCII, each glyph 5 columns wide on a 6-column advance, 7 rows above the
// baseline and 2 below it for descenders.
#pragma once

#include <cstdint>

namespace zimo::server {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphAdvance = 6;
inline constexpr int kGlyphAscent = 7;
inline constexpr int kGlyphRows = 9;

// The glyph's rows from the top, bit 4 the leftmost column. Characters the
// font does not have are drawn as '?'.
const uint8_t* Glyph(char c);

}  // namespace zimo::server
