// TAbMeter: a bar of up to nine segments showing a percentage. The zip kit drives two of them
// (item and archive progress) through ShowPercent and ResetMeter. The meter paints on whatever
// TAbCanvas its host gives it; the host also supplies the message pump that ShowPercent runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archive/object.h"
#include "meter/canvas.h"

namespace zipkit {

enum TBorderStyle : uint8_t { bsNone, bsSingle };
enum TAbMeterOrientation : uint8_t { moHorizontal, moVertical };

class TAbCustomMeter : public TObject {
 public:
  TAbCustomMeter();

  // Shows Progress (100 or more shows as 0), repaints at once and lets the host process its
  // pending messages; an unchanged value does nothing.
  void ShowPercent(uint8_t Progress);
  void ResetMeter() { ShowPercent(0); }

  // Paints the whole client area (0, 0, Width, Height) onto Target.
  void Paint(TAbCanvas& Target) const;

  TBorderStyle BorderStyle() const { return BorderStyle_; }
  void SetBorderStyle(TBorderStyle Value);
  bool Ctl3D() const { return Ctl3D_; }
  void SetCtl3D(bool Value);
  TAbMeterOrientation Orientation() const { return Orientation_; }
  // Swaps width and height unless the meter is being loaded from a form.
  void SetOrientation(TAbMeterOrientation Value);
  TColor UsedColor() const { return UsedColor_; }
  void SetUsedColor(TColor Value);
  TColor UnusedColor() const { return UnusedColor_; }
  void SetUnusedColor(TColor Value);
  int32_t Position() const { return Position_; }

  int32_t Width() const { return Width_; }
  int32_t Height() const { return Height_; }
  void SetBounds(int32_t Width, int32_t Height);
  bool Visible() const { return Visible_; }
  // Hiding asks for a repaint too: the host then shows what lies under the meter.
  void SetVisible(bool Value);

  // Set by the host: where the meter paints, and the message pump ShowPercent runs.
  TAbCanvas* Canvas = nullptr;
  std::function<void()> ProcessMessages;
  // While true (a form is being loaded) orientation changes keep the bounds.
  bool Loading = false;

 protected:
  // Asks for a repaint; here the meter paints at once when it has a canvas.
  virtual void Invalidate();
  // Paints at once.
  virtual void Repaint();

 private:
  TBorderStyle BorderStyle_ = bsSingle;
  bool Ctl3D_ = true;
  TAbMeterOrientation Orientation_ = moHorizontal;
  int32_t Position_ = 0;
  TColor UsedColor_ = clNavy;
  TColor UnusedColor_ = clBtnFace;
  int32_t Width_ = 150;
  int32_t Height_ = 16;
  bool Visible_ = true;
};

class TAbMeter : public TAbCustomMeter {
 public:
  std::string Version() const { return "2.04"; }
  void SetVersion(const std::string&) {}  // read-only
};

}  // namespace zipkit
