#include "host/win32/gdi_canvas.h"

namespace zipkit {

COLORREF Win32Color(TColor Color) {
  if (Color & 0x80000000u) return GetSysColor(static_cast<int>(Color & 0xFF));
  return Color & 0xFFFFFF;  // TColor and COLORREF share the 0x00BBGGRR layout
}

void TAbGdiCanvas::FillRect(const TRect& Rect, TColor Color) {
  if (Rect.Right <= Rect.Left || Rect.Bottom <= Rect.Top) return;
  const RECT area = {Rect.Left + origin_x_, Rect.Top + origin_y_, Rect.Right + origin_x_,
                     Rect.Bottom + origin_y_};
  HBRUSH brush = CreateSolidBrush(Win32Color(Color));
  if (!brush) return;  // out of GDI objects: this rectangle stays as it was
  ::FillRect(dc_, &area, brush);
  DeleteObject(brush);
}

}  // namespace zipkit
