#include "meter/meter.h"

#include <utility>

namespace zipkit {

TAbCustomMeter::TAbCustomMeter() = default;

void TAbCustomMeter::ShowPercent(uint8_t Progress) {
  if (Progress == Position_) return;
  Position_ = Progress >= 100 ? 0 : Progress;
  Repaint();
  if (ProcessMessages) ProcessMessages();
}

void TAbCustomMeter::Invalidate() { Repaint(); }

void TAbCustomMeter::Repaint() {
  if (Canvas && Visible_) Paint(*Canvas);
}

void TAbCustomMeter::SetBorderStyle(TBorderStyle Value) {
  if (Value == BorderStyle_) return;
  BorderStyle_ = Value;
  Invalidate();
}

void TAbCustomMeter::SetCtl3D(bool Value) {
  if (Value == Ctl3D_) return;
  Ctl3D_ = Value;
  Invalidate();
}

void TAbCustomMeter::SetOrientation(TAbMeterOrientation Value) {
  if (Value == Orientation_) return;
  Orientation_ = Value;
  if (!Loading) std::swap(Width_, Height_);
  Invalidate();
}

void TAbCustomMeter::SetUsedColor(TColor Value) {
  if (Value == UsedColor_) return;
  UsedColor_ = Value;
  Invalidate();
}

void TAbCustomMeter::SetUnusedColor(TColor Value) {
  if (Value == UnusedColor_) return;
  UnusedColor_ = Value;
  Invalidate();
}

void TAbCustomMeter::SetVisible(bool Value) {
  if (Value == Visible_) return;
  Visible_ = Value;
  Invalidate();
}

void TAbCustomMeter::SetBounds(int32_t Width, int32_t Height) {
  Width_ = Width;
  Height_ = Height;
  Invalidate();
}

void TAbCustomMeter::Paint(TAbCanvas& Target) const {
  const int32_t left = 0, top = 0, right = Width_, bottom = Height_;
  // W and H count one more than the pixels: the geometry is that of the original control.
  const int32_t w = right - left + 1;
  const int32_t h = bottom - top + 1;
  const int32_t segment =
      Orientation_ == moHorizontal ? (w - 20) / 10 + 1 : (h - 11) / 10 + 1;
  const int32_t n = Position_ / 10;

  Target.FillRect({left, top, left + w - 1, top + h - 1}, UnusedColor_);
  for (int32_t i = 0; i < n; ++i) {
    if (Orientation_ == moHorizontal) {
      const int32_t x = left + 1 + 2 * i + i * segment;  // two pixels between segments
      Target.FillRect({x, top + 1, x + segment, bottom - 1}, UsedColor_);
    } else {
      const int32_t y = bottom - 1 - i - i * segment;  // one pixel between segments
      Target.FillRect({left + 2, y - segment, right - 2, y}, UsedColor_);
    }
  }
  if (BorderStyle_ == bsSingle) {
    const TColor dark = Ctl3D_ ? clBtnShadow : clBlack;
    const TColor light = Ctl3D_ ? clBtnHighlight : clBlack;
    Target.FillRect({left, top, right, top + 1}, dark);
    Target.FillRect({left, top, left + 1, bottom}, dark);
    Target.FillRect({left, bottom - 1, right, bottom}, light);
    Target.FillRect({right - 1, top, right, bottom}, light);
  }
}

}  // namespace zipkit
