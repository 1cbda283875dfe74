#include "meter/canvas.h"

#include <algorithm>

namespace zipkit {

TColor ColorToRGB(TColor Color) {
  if ((Color & 0x80000000u) == 0) return Color & 0xFFFFFF;
  switch (Color) {
    case clBtnFace: return 0xC0C0C0;
    case clBtnShadow: return 0x808080;
    case clBtnHighlight: return 0xFFFFFF;
    default: return 0x000000;
  }
}

TAbRasterCanvas::TAbRasterCanvas(int32_t Width, int32_t Height, TColor Background)
    : width_(std::max(Width, 0)),
      height_(std::max(Height, 0)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), ColorToRGB(Background)) {}

void TAbRasterCanvas::FillRect(const TRect& Rect, TColor Color) {
  const int32_t left = std::max(Rect.Left, 0), right = std::min(Rect.Right, width_);
  const int32_t top = std::max(Rect.Top, 0), bottom = std::min(Rect.Bottom, height_);
  const TColor rgb = ColorToRGB(Color);
  for (int32_t y = top; y < bottom; ++y)
    for (int32_t x = left; x < right; ++x) pixels_[static_cast<size_t>(y) * width_ + x] = rgb;
}

TColor TAbRasterCanvas::Pixel(int32_t X, int32_t Y) const {
  if (X < 0 || Y < 0 || X >= width_ || Y >= height_) return clBlack;
  return pixels_[static_cast<size_t>(Y) * width_ + X];
}

}  // namespace zipkit
