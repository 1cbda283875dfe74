#include "host/win32/meter_control.h"

#include "host/host.h"
#include "host/win32/gdi_canvas.h"

namespace zipkit {

TAbWin32Meter::TAbWin32Meter(HWND Parent, int32_t Left, int32_t Top)
    : parent_(Parent), left_(Left), top_(Top), placed_(BoundsRect()) {
  ProcessMessages = host::ProcessMessages;
  Invalidate();
}

TAbWin32Meter::~TAbWin32Meter() {
  if (IsWindow(parent_)) InvalidateRect(parent_, &placed_, TRUE);
}

RECT TAbWin32Meter::BoundsRect() const {
  return {left_, top_, left_ + Width(), top_ + Height()};
}

void TAbWin32Meter::SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height) {
  left_ = Left;
  top_ = Top;
  SetBounds(Width, Height);  // asks for the repaint
}

void TAbWin32Meter::PaintIn(HDC Dc, const RECT& Update) const {
  const RECT bounds = BoundsRect();
  RECT common;
  if (!Visible() || !IntersectRect(&common, &bounds, &Update)) return;
  const int saved = SaveDC(Dc);
  IntersectClipRect(Dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
  TAbGdiCanvas canvas(Dc, left_, top_);
  Paint(canvas);
  RestoreDC(Dc, saved);
}

void TAbWin32Meter::Invalidate() {
  LeavePreviousPlace();
  const RECT bounds = BoundsRect();
  // The meter paints every pixel of its area; only a hidden one needs the parent's background.
  InvalidateRect(parent_, &bounds, !Visible());
}

void TAbWin32Meter::Repaint() {
  LeavePreviousPlace();
  if (!Visible() || !IsWindowVisible(parent_)) return;
  HDC dc = GetDC(parent_);
  if (!dc) return;
  PaintIn(dc, BoundsRect());
  ReleaseDC(parent_, dc);
}

void TAbWin32Meter::LeavePreviousPlace() {
  const RECT bounds = BoundsRect();
  if (EqualRect(&bounds, &placed_)) return;
  InvalidateRect(parent_, &placed_, TRUE);
  placed_ = bounds;
}

}  // namespace zipkit
