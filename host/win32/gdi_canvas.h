// TAbCanvas on a Win32 device context: each rectangle filled through GDI, moved by an origin so
// that a control without a window of its own can paint at its place in its parent.
#pragma once

#include <windows.h>

#include "meter/canvas.h"

namespace zipkit {

// A colour as GDI takes it: RGB values as they are, system colours through GetSysColor.
COLORREF Win32Color(TColor Color);

class TAbGdiCanvas : public TAbCanvas {
 public:
  // Draws on Dc (which stays the caller's) with (0, 0) at (OriginX, OriginY) of the DC.
  TAbGdiCanvas(HDC Dc, int32_t OriginX, int32_t OriginY)
      : dc_(Dc), origin_x_(OriginX), origin_y_(OriginY) {}

  void FillRect(const TRect& Rect, TColor Color) override;

 private:
  HDC dc_;
  int32_t origin_x_, origin_y_;
};

}  // namespace zipkit
