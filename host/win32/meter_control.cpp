#include "host/win32/meter_control.h"

#include <algorithm>
#include <iterator>

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

RECT TAbWin32Meter::BoundsRect() const { return {left_, top_, left_ + Width(), top_ + Height()}; }

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

bool TAbWin32Meter::MouseMessage(UINT Message, WPARAM WParam, LPARAM LParam) {
  if (Message == WM_CAPTURECHANGED) {  // the mouse went to another window: the press is over
    captured_ = pressed_ = false;
    return false;
  }
  enum TKind : uint8_t { kMove, kDown, kUp, kDouble };
  static constexpr struct {
    UINT message;
    TKind kind;
    TMouseButton button;
  } kMessages[] = {
      {WM_MOUSEMOVE, kMove, mbLeft},        {WM_LBUTTONDOWN, kDown, mbLeft},
      {WM_RBUTTONDOWN, kDown, mbRight},     {WM_MBUTTONDOWN, kDown, mbMiddle},
      {WM_LBUTTONUP, kUp, mbLeft},          {WM_RBUTTONUP, kUp, mbRight},
      {WM_MBUTTONUP, kUp, mbMiddle},        {WM_LBUTTONDBLCLK, kDouble, mbLeft},
      {WM_RBUTTONDBLCLK, kDouble, mbRight}, {WM_MBUTTONDBLCLK, kDouble, mbMiddle},
  };
  const auto* entry = std::find_if(std::begin(kMessages), std::end(kMessages),
                                   [&](const auto& e) { return e.message == Message; });
  if (entry == std::end(kMessages)) return false;
  const TKind kind = entry->kind;
  const TMouseButton button = entry->button;
  // Client coordinates are signed 16-bit values (negative left of or above a captured window).
  const POINT at = {int16_t(LOWORD(LParam)), int16_t(HIWORD(LParam))};
  const RECT bounds = BoundsRect();
  const bool over = Visible() && PtInRect(&bounds, at);
  if (!over && !captured_) return false;
  const uint32_t keys = uint32_t(WParam);
  const int32_t x = at.x - left_, y = at.y - top_;
  switch (kind) {
    case kMove:
      if (OnMouseMove) OnMouseMove(this, keys, x, y);
      break;
    case kDown:
    case kDouble:
      if (!captured_) SetCapture(parent_);
      captured_ = true;
      if (button == mbLeft && kind == kDown) pressed_ = true;  // a double click is no click
      if (kind == kDouble && button == mbLeft && OnDblClick) OnDblClick(this);
      if (OnMouseDown) OnMouseDown(this, button, keys, x, y);
      break;
    case kUp: {
      const bool click = button == mbLeft && pressed_ && over;
      if (button == mbLeft) pressed_ = false;
      if (!(keys & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) {
        captured_ = false;
        if (GetCapture() == parent_) ReleaseCapture();  // sends WM_CAPTURECHANGED
      }
      if (click && OnClick) OnClick(this);
      if (OnMouseUp) OnMouseUp(this, button, keys, x, y);
      break;
    }
  }
  return true;
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
