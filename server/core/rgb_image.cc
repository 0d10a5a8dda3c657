#include "core/rgb_image.h"

#include <algorithm>

#include "core/bitmap_font.h"

namespace zimo::server {

RgbImage::RgbImage(int width, int height, Rgb fill)
    : width_(std::max(width, 0)), height_(std::max(height, 0)) {
  pixels_.resize(static_cast<size_t>(width_) * height_ * 3);
  Fill({0, 0, width_, height_}, fill);
}

Rgb RgbImage::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kBlack;
  const uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 3];
  return {p[0], p[1], p[2]};
}

void RgbImage::Set(int x, int y, Rgb c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 3];
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
}

void RgbImage::Fill(const Rect& r, Rgb c) {
  const int left = std::max(r.left, 0), right = std::min(r.right, width_);
  const int top = std::max(r.top, 0), bottom = std::min(r.bottom, height_);
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) Set(x, y, c);
  }
}

void RgbImage::Frame(const Rect& r, Rgb c) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  Fill({r.left, r.top, r.right, r.top + 1}, c);
  Fill({r.left, r.bottom - 1, r.right, r.bottom}, c);
  Fill({r.left, r.top, r.left + 1, r.bottom}, c);
  Fill({r.right - 1, r.top, r.right, r.bottom}, c);
}

void RgbImage::TextCentredOnBaseline(int x, int y, std::string_view text, Rgb c) {
  if (text.empty()) return;
  const int width = static_cast<int>(text.size()) * kGlyphAdvance - (kGlyphAdvance - kGlyphWidth);
  int left = x - width / 2;
  const int top = y - kGlyphAscent;
  for (char ch : text) {
    const uint8_t* rows = Glyph(ch);
    for (int row = 0; row < kGlyphRows; ++row) {
      for (int col = 0; col < kGlyphWidth; ++col) {
        if (rows[row] & (0x10 >> col)) Set(left + col, top + row, c);
      }
    }
    left += kGlyphAdvance;
  }
}

}  // namespace zimo::server
