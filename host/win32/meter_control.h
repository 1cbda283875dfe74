// TAbMeter as a control of a Win32 window. Like the window library's graphic controls it has no
// window of its own: it paints on its parent's device context, at (Left, Top) of the parent's
// client area, so the parent's window procedure paints it from WM_PAINT through PaintIn.
// ShowPercent paints at once on the parent's DC and then runs host::ProcessMessages.
#pragma once

#include <windows.h>

#include <cstdint>

#include "meter/meter.h"

namespace zipkit {

class TAbWin32Meter : public TAbMeter {
 public:
  explicit TAbWin32Meter(HWND Parent, int32_t Left = 0, int32_t Top = 0);
  // The parent shows its own background where the meter was.
  ~TAbWin32Meter() override;

  HWND Parent() const { return parent_; }
  int32_t Left() const { return left_; }
  int32_t Top() const { return top_; }
  // The meter's area in the parent's client coordinates.
  RECT BoundsRect() const;
  using TAbCustomMeter::SetBounds;
  void SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height);

  // The parent's WM_PAINT: paints the meter on the parent's DC when it is visible and meets
  // Update (the area being painted, in client coordinates).
  void PaintIn(HDC Dc, const RECT& Update) const;

 protected:
  // Marks the meter's area for the parent's next WM_PAINT.
  void Invalidate() override;
  // Paints now on the parent's DC.
  void Repaint() override;

 private:
  // Once the meter moved or changed size, the parent repaints the area it left.
  void LeavePreviousPlace();

  HWND parent_;
  int32_t left_, top_;
  RECT placed_;  // the area the parent last painted, or was asked to paint, the meter in
};

}  // namespace zipkit
