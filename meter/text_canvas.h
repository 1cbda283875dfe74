// A meter picture turned into one line of text for a terminal: the bar as the meter painted it,
// one character per few pixels of its middle row.
#pragma once

#include <string>

#include "meter/canvas.h"

namespace zipkit {

class TAbTextCanvas : public TAbRasterCanvas {
 public:
  using TAbRasterCanvas::TAbRasterCanvas;

  // Columns characters between brackets: Filled where most pixels of the column's span show
  // UsedColor, Empty elsewhere. The frame's first and last pixel are left out.
  std::string Text(int32_t Columns, TColor UsedColor, char Filled = '#', char Empty = '.') const;
};

}  // namespace zipkit
