// TAbMeter as a control of a Win32 window. Like the window library's graphic controls it has no
// window of its own: it paints on its parent's device context, at (Left, Top) of the parent's
// client area, so the parent's window procedure paints it from WM_PAINT through PaintIn.
// ShowPercent paints at once on the parent's DC and then runs host::ProcessMessages. Mouse
// messages reach it the same way: the parent's window procedure hands them to MouseMessage.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "meter/meter.h"

namespace zipkit {

enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
// Keys: the message's MK_ bits (buttons held, Shift, Ctrl); X and Y within the meter.
using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, uint32_t Keys, int32_t X, int32_t Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, uint32_t Keys, int32_t X, int32_t Y)>;

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

  // The parent's mouse messages (WM_MOUSEMOVE, WM_xBUTTONDOWN/UP/DBLCLK, in client coordinates):
  // true when the meter took it, being visible under the pointer or holding the mouse since a
  // button went down on it (the parent is then the capture window). A click is a left button
  // going down and up on the meter (the release after a double click is none); double clicks
  // need CS_DBLCLKS in the parent's class.
  bool MouseMessage(UINT Message, WPARAM WParam, LPARAM LParam);
  std::function<void(TObject*)> OnClick, OnDblClick;  // the argument: Sender
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;

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
  RECT placed_;            // the area the parent last painted, or was asked to paint, the meter in
  bool captured_ = false;  // a button went down on the meter and is still held
  bool pressed_ = false;   // the left one, which makes a click when it comes up on the meter
};

}  // namespace zipkit
