// A plain RGB raster that the server's control drawing paints into, with
// the few drawing operations it needs. Everything outside the image is
// clipped, so a drawing larger than the image never writes past it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace zimo::server {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};

// Right and bottom are exclusive, as drawing bounds are given.
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

class RgbImage {
 public:
  RgbImage(int width, int height, Rgb fill = kWhite);

  int width() const { return width_; }
  int height() const { return height_; }
  // The pixel at (x, y); black outside the image.
  Rgb At(int x, int y) const;
  void Set(int x, int y, Rgb c);

  void Fill(const Rect& r, Rgb c);
  // A one-pixel outline along the inside of `r`.
  void Frame(const Rect& r, Rgb c);
  // Text in the built-in 5x7 font: centred on x, standing on the baseline y
  // (the glyphs' bottom row is y - 1; descenders go below it).
  void TextCentredOnBaseline(int x, int y, std::string_view text, Rgb c);

  // Rows of r, g, b bytes from the top.
  const std::vector<uint8_t>& pixels() const { return pixels_; }

 private:
  int width_;
  int height_;
  std::vector<uint8_t> pixels_;
};

}  // namespace zimo::server
