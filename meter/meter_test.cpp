#include "meter/meter.h"

#include <gtest/gtest.h>

#include "meter/text_canvas.h"

namespace zipkit {
namespace {

const TColor kUsed = ColorToRGB(clNavy);
const TColor kUnused = ColorToRGB(clBtnFace);

// The filled runs of one row, as [first, last] pixel pairs.
std::vector<std::pair<int32_t, int32_t>> UsedRuns(const TAbRasterCanvas& c, int32_t y) {
  std::vector<std::pair<int32_t, int32_t>> runs;
  for (int32_t x = 0; x < c.Width(); ++x) {
    if (c.Pixel(x, y) != kUsed) continue;
    if (!runs.empty() && runs.back().second == x - 1) runs.back().second = x;
    else runs.push_back({x, x});
  }
  return runs;
}

TEST(Meter, Defaults) {
  TAbMeter m;
  EXPECT_EQ(m.Width(), 150);
  EXPECT_EQ(m.Height(), 16);
  EXPECT_EQ(m.BorderStyle(), bsSingle);
  EXPECT_TRUE(m.Ctl3D());
  EXPECT_EQ(m.Orientation(), moHorizontal);
  EXPECT_EQ(m.UsedColor(), 0x800000u);
  EXPECT_EQ(m.UnusedColor(), 0x8000000Fu);
  EXPECT_EQ(m.Position(), 0);
  m.SetVersion("9.99");
  EXPECT_EQ(m.Version(), "2.04");
}

TEST(Meter, SegmentsFollowThePercentage) {
  struct Case {
    uint8_t percent;
    size_t segments;
  } cases[] = {{0, 0}, {9, 0}, {10, 1}, {55, 5}, {99, 9}, {100, 0}, {250, 0}};
  for (const auto& c : cases) {
    TAbMeter m;
    m.ShowPercent(50);
    TAbRasterCanvas canvas(m.Width(), m.Height());
    m.Canvas = &canvas;
    m.ShowPercent(c.percent);
    if (c.percent == 50) continue;
    EXPECT_EQ(UsedRuns(canvas, 8).size(), c.segments) << int(c.percent);
  }
}

TEST(Meter, HorizontalGeometry) {
  TAbMeter m;
  TAbRasterCanvas canvas(m.Width(), m.Height());
  m.Canvas = &canvas;
  m.ShowPercent(99);
  const auto runs = UsedRuns(canvas, 8);
  ASSERT_EQ(runs.size(), 9u);
  for (int32_t i = 0; i < 9; ++i) {
    const int32_t left = 1 + 2 * i + 14 * i;  // 14-pixel segments, two pixels apart
    EXPECT_EQ(runs[i], std::make_pair(left, left + 13)) << i;
  }
  EXPECT_EQ(runs[8].second + 1, 143);  // the ninth segment ends at Left + 143
  // Rows 1 to 14 are filled, the frame rows are not.
  EXPECT_EQ(canvas.Pixel(1, 1), kUsed);
  EXPECT_EQ(canvas.Pixel(1, 14), kUsed);
  EXPECT_EQ(canvas.Pixel(145, 8), kUnused);
}

TEST(Meter, VerticalGeometryGrowsUpward) {
  TAbMeter m;
  m.SetOrientation(moVertical);
  ASSERT_EQ(m.Width(), 16);
  ASSERT_EQ(m.Height(), 150);
  TAbRasterCanvas canvas(m.Width(), m.Height());
  m.Canvas = &canvas;
  m.ShowPercent(30);
  // S = (151 - 11) div 10 + 1 = 15; segment i spans rows [149 - i - 15i - 15, 149 - i - 15i).
  std::vector<int32_t> used_rows;
  for (int32_t y = 0; y < 150; ++y)
    if (canvas.Pixel(8, y) == kUsed) used_rows.push_back(y);
  std::vector<int32_t> expected;
  for (int32_t i = 2; i >= 0; --i) {
    const int32_t bottom = 149 - i - 15 * i;
    for (int32_t y = bottom - 15; y < bottom; ++y) expected.push_back(y);
  }
  EXPECT_EQ(used_rows, expected);
  EXPECT_EQ(canvas.Pixel(2, 140), kUsed);
  EXPECT_EQ(canvas.Pixel(1, 140), kUnused);
  EXPECT_EQ(canvas.Pixel(13, 140), kUsed);
  EXPECT_EQ(canvas.Pixel(14, 140), kUnused);
}

TEST(Meter, Frame) {
  struct Case {
    TBorderStyle border;
    bool ctl3d;
    TColor top_left, bottom_right;
  } cases[] = {
      {bsSingle, true, ColorToRGB(clBtnShadow), ColorToRGB(clBtnHighlight)},
      {bsSingle, false, clBlack, clBlack},
      {bsNone, true, kUnused, kUnused},
  };
  for (const auto& c : cases) {
    TAbMeter m;
    TAbRasterCanvas canvas(m.Width(), m.Height(), 0x123456);
    m.Canvas = &canvas;
    m.SetBorderStyle(c.border);
    m.SetCtl3D(c.ctl3d);
    m.SetBorderStyle(c.border == bsSingle ? bsNone : bsSingle);  // force a repaint
    m.SetBorderStyle(c.border);
    EXPECT_EQ(canvas.Pixel(5, 0), c.top_left);
    EXPECT_EQ(canvas.Pixel(0, 5), c.top_left);
    EXPECT_EQ(canvas.Pixel(5, 15), c.bottom_right);
    EXPECT_EQ(canvas.Pixel(149, 5), c.bottom_right);
    EXPECT_EQ(canvas.Pixel(5, 5), kUnused);
  }
}

TEST(Meter, UnchangedPercentDoesNothing) {
  TAbMeter m;
  int pumps = 0;
  m.ProcessMessages = [&] { ++pumps; };
  m.ShowPercent(100);  // differs from the position, is stored as 0 and repainted
  EXPECT_EQ(m.Position(), 0);
  EXPECT_EQ(pumps, 1);
  m.ShowPercent(0);
  EXPECT_EQ(pumps, 1);
  m.ShowPercent(42);
  m.ResetMeter();
  EXPECT_EQ(pumps, 3);
  EXPECT_EQ(m.Position(), 0);
}

TEST(Meter, HiddenMeterPaintsNothingUntilShown) {
  TAbMeter m;
  TAbRasterCanvas canvas(m.Width(), m.Height(), 0x123456);
  m.Canvas = &canvas;
  m.SetVisible(false);
  m.ShowPercent(30);
  EXPECT_EQ(m.Position(), 30);
  EXPECT_EQ(canvas.Pixel(5, 8), 0x123456u);
  m.SetVisible(true);
  EXPECT_EQ(UsedRuns(canvas, 8).size(), 3u);
}

TEST(Meter, OrientationKeepsBoundsWhileLoading) {
  TAbMeter m;
  m.Loading = true;
  m.SetOrientation(moVertical);
  EXPECT_EQ(m.Width(), 150);
  EXPECT_EQ(m.Height(), 16);
}

TEST(Meter, TextBarShowsThePaintedSegments) {
  TAbMeter m;
  TAbTextCanvas canvas(m.Width(), m.Height());
  m.Canvas = &canvas;
  m.ShowPercent(50);
  const std::string bar = canvas.Text(37, m.UsedColor());
  ASSERT_EQ(bar.size(), 39u);
  EXPECT_EQ(bar.front(), '[');
  EXPECT_EQ(bar.back(), ']');
  // Five of nine segments cover pixels 1 to 79 of 148 inner ones: about 20 of 37 columns.
  const auto filled = std::count(bar.begin(), bar.end(), '#');
  EXPECT_GE(filled, 17);
  EXPECT_LE(filled, 20);
  EXPECT_EQ(bar.substr(1, 3), "###");
  EXPECT_EQ(bar.substr(bar.size() - 4, 3), "...");
}

}  // namespace
}  // namespace zipkit
