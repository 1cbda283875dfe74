// The drawing surface of the progress meter: filled rectangles in the host's colours. Win32
// paints through GDI, tests into TAbRasterCanvas, the command-line tool into a text bar.
#pragma once

#include <cstdint>
#include <vector>

namespace zipkit {

// 0x00BBGGRR, or a system colour: 0x80000000 plus the index of the colour.
using TColor = uint32_t;

enum : TColor {
  clBlack = 0x000000,
  clNavy = 0x800000,
  clWhite = 0xFFFFFF,
  clBtnFace = 0x8000000F,
  clBtnShadow = 0x80000010,
  clBtnHighlight = 0x80000014,
};

// The RGB value of a colour; system colours get the classic defaults of the host.
TColor ColorToRGB(TColor Color);

// Left and top inclusive, right and bottom exclusive, as the window library's rectangles.
struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

class TAbCanvas {
 public:
  virtual ~TAbCanvas() = default;
  virtual void FillRect(const TRect& Rect, TColor Color) = 0;
};

// An in-memory picture of Width x Height pixels holding RGB colours; drawing outside is clipped.
class TAbRasterCanvas : public TAbCanvas {
 public:
  TAbRasterCanvas(int32_t Width, int32_t Height, TColor Background = clWhite);

  void FillRect(const TRect& Rect, TColor Color) override;

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  TColor Pixel(int32_t X, int32_t Y) const;

 private:
  int32_t width_, height_;
  std::vector<TColor> pixels_;
};

}  // namespace zipkit
