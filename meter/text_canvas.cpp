#include "meter/text_canvas.h"

#include <algorithm>

namespace zipkit {

std::string TAbTextCanvas::Text(int32_t Columns, TColor UsedColor, char Filled,
                                char Empty) const {
  std::string line = "[";
  const int32_t inner = std::max(Width() - 2, 0);
  const int32_t y = Height() / 2;
  const TColor used = ColorToRGB(UsedColor);
  for (int32_t c = 0; c < Columns; ++c) {
    const int32_t from = 1 + static_cast<int32_t>(int64_t{c} * inner / Columns);
    const int32_t to = std::max(from + 1, 1 + static_cast<int32_t>(int64_t{c + 1} * inner / Columns));
    int32_t hits = 0;
    for (int32_t x = from; x < to; ++x) hits += Pixel(x, y) == used;
    line += 2 * hits >= to - from ? Filled : Empty;
  }
  return line + "]";
}

}  // namespace zipkit
