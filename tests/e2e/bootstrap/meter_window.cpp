// A window with progress meters, run under Wine: it drives the meters and checks what they
// painted in the window (copied from the window's DC) against the geometry, worked out here
// on its own, and the mouse events the window hands to them. The system colours are set to
// values of our own first, so that the frame and background prove they come from GetSysColor.
//   meter-window RESULTS   writes RESULTS (key=value lines: the failures, then each meter
//                          left on screen with its screen rectangle and settings, for a
//                          screenshot), then keeps the window until RESULTS is deleted.
// Exit code: the number of failed checks.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "host/host.h"
#include "host/win32/meter_control.h"

namespace zipkit {
namespace {

constexpr COLORREF kFace = RGB(212, 200, 176);
constexpr COLORREF kShadow = RGB(96, 64, 32);
constexpr COLORREF kHighlight = RGB(255, 248, 220);
constexpr COLORREF kBackground = RGB(255, 255, 255);  // the window's own, never the meter's
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr int kClientWidth = 240, kClientHeight = 184;
constexpr UINT kPosted = WM_APP + 1;
constexpr UINT_PTR kPollTimer = 1;

int Failures = 0;
int Checks = 0;
bool PostedSeen = false;
std::vector<TAbWin32Meter*> Meters;  // the ones the window paints
std::string ResultsFile;

void Fail(const std::string& What) {
  ++Failures;
  std::printf("FAIL %s\n", What.c_str());
}

void Expect(bool Condition, const std::string& What) {
  ++Checks;
  if (!Condition) Fail(What);
}

// What a meter should look like, from the documented geometry.
struct TLook {
  int32_t percent;
  bool vertical = false, border = true, ctl3d = true;
  COLORREF used = kNavy;
  bool visible = true;
};

COLORREF Expected(const TLook& Look, int32_t W, int32_t H, int32_t x, int32_t y) {
  if (Look.border) {
    if (y == H - 1 || x == W - 1) return Look.ctl3d ? kHighlight : RGB(0, 0, 0);
    if (y == 0 || x == 0) return Look.ctl3d ? kShadow : RGB(0, 0, 0);
  }
  const int32_t n = Look.percent >= 100 ? 0 : Look.percent / 10;
  for (int32_t i = 0; i < n; ++i) {
    if (!Look.vertical) {
      const int32_t size = (W + 1 - 20) / 10 + 1, left = 1 + i * (size + 2);
      if (x >= left && x < left + size && y >= 1 && y < H - 1) return Look.used;
    } else {
      const int32_t size = (H + 1 - 11) / 10 + 1, bottom = H - 1 - i * (size + 1);
      if (y >= bottom - size && y < bottom && x >= 2 && x < W - 2) return Look.used;
    }
  }
  return kFace;
}

// The window's client area as painted, copied through a 32-bit DIB.
class TSnapshot {
 public:
  explicit TSnapshot(HWND Window) : pixels_(size_t(kClientWidth) * kClientHeight) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kClientWidth;
    info.bmiHeader.biHeight = -kClientHeight;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    HDC window_dc = GetDC(Window);
    HDC memory = CreateCompatibleDC(window_dc);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, kClientWidth, kClientHeight, window_dc, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* words = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < pixels_.size(); ++i)  // 0x00RRGGBB in memory order B, G, R, X
      pixels_[i] = RGB((words[i] >> 16) & 0xFF, (words[i] >> 8) & 0xFF, words[i] & 0xFF);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(Window, window_dc);
  }
  COLORREF At(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= kClientWidth || y >= kClientHeight) return kBackground;
    return pixels_[size_t(y) * kClientWidth + x];
  }

 private:
  std::vector<COLORREF> pixels_;
};

std::string Hex(COLORREF c) {
  char text[16];
  std::snprintf(text, sizeof text, "%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

// Every pixel of the meter's area and of a one-pixel ring around it (the parent's background).
void ExpectPicture(const TSnapshot& Shot, const TAbWin32Meter& Meter, const TLook& Look,
                   const std::string& What) {
  const int32_t W = Meter.Width(), H = Meter.Height();
  int wrong = 0;
  std::string first;
  for (int32_t y = -1; y <= H; ++y) {
    for (int32_t x = -1; x <= W; ++x) {
      const bool inside = x >= 0 && y >= 0 && x < W && y < H;
      const COLORREF want = inside && Look.visible ? Expected(Look, W, H, x, y) : kBackground;
      const COLORREF got = Shot.At(Meter.Left() + x, Meter.Top() + y);
      if (got == want) continue;
      if (wrong++ > 0) continue;
      char text[64];
      std::snprintf(text, sizeof text, "(%d,%d) is %s, not %s", int(x), int(y), Hex(got).c_str(),
                    Hex(want).c_str());
      first = text;
    }
  }
  Expect(wrong == 0, What + ": " + std::to_string(wrong) + " pixels differ, first " + first);
}

LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  switch (Message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(Window, &paint);
      for (const TAbWin32Meter* meter : Meters) meter->PaintIn(dc, paint.rcPaint);
      EndPaint(Window, &paint);
      return 0;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_CAPTURECHANGED:
      for (TAbWin32Meter* meter : Meters)
        if (meter->MouseMessage(Message, WParam, LParam)) return 0;
      break;
    case kPosted:
      PostedSeen = true;
      return 0;
    case WM_TIMER:  // the results were read: done
      if (GetFileAttributesA(ResultsFile.c_str()) == INVALID_FILE_ATTRIBUTES) DestroyWindow(Window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(Window, Message, WParam, LParam);
}

HWND CreateTestWindow() {
  WNDCLASSA window_class = {};
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.hbrBackground = CreateSolidBrush(kBackground);
  window_class.lpszClassName = "TAbMeterWindow";
  RegisterClassA(&window_class);
  const DWORD style = WS_CAPTION | WS_SYSMENU;
  RECT frame = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  HWND window =
      CreateWindowExA(0, "TAbMeterWindow", "Meter", style, 100, 100, frame.right - frame.left,
                      frame.bottom - frame.top, nullptr, nullptr, window_class.hInstance, nullptr);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return window;
}

// ShowPercent paints before it lets the queue run, and then runs it: the hook looks at the window
// first, then pumps; a message posted beforehand has been handled when ShowPercent returns.
void ShowPercentSeries(HWND Window, TAbWin32Meter& Meter, TLook Look, const char* Name) {
  int pumps = 0;
  Meter.ProcessMessages = [&] {
    ++pumps;
    ExpectPicture(TSnapshot(Window), Meter, Look,
                  std::string(Name) + " at " + std::to_string(Look.percent) + "% before the pump");
    Expect(!PostedSeen, std::string(Name) + ": the posted message ran before the repaint");
    host::ProcessMessages();
  };
  for (const int32_t percent : {0, 10, 55, 99, 100}) {
    const bool unchanged = percent == Meter.Position();
    Look.percent = percent;
    pumps = 0;
    PostedSeen = false;
    PostMessageA(Window, kPosted, 0, 0);
    Meter.ShowPercent(uint8_t(percent));
    const std::string what = std::string(Name) + " ShowPercent(" + std::to_string(percent) + ")";
    Expect(pumps == (unchanged ? 0 : 1), what + ": " + std::to_string(pumps) + " pumps");
    if (!unchanged) Expect(PostedSeen, what + ": the posted message was not handled");
    host::ProcessMessages();  // an unchanged meter leaves the message to us
    ExpectPicture(TSnapshot(Window), Meter, Look, what);
  }
  // 100 was stored as 0: showing 0 again changes nothing.
  pumps = 0;
  Meter.ShowPercent(0);
  Expect(pumps == 0 && Meter.Position() == 0, std::string(Name) + ": ShowPercent(0) after 100");
  Meter.ProcessMessages = host::ProcessMessages;
}

// A property change asks for a repaint: it shows once the window has handled WM_PAINT.
template <typename Change>
void AfterPaint(HWND Window, TAbWin32Meter& Meter, Change&& Apply, const TLook& Look,
                const std::string& What) {
  Apply();
  UpdateWindow(Window);
  ExpectPicture(TSnapshot(Window), Meter, Look, What);
}

// The parent hands its mouse messages to the meter: events in the meter's coordinates, a click
// only for a left press and release both on the meter, the mouse held outside while pressed.
void MouseEvents(HWND Window, TAbWin32Meter& Meter) {
  std::string seen;
  auto note = [&](const char* What, int32_t X, int32_t Y) {
    seen += std::string(What) + "(" + std::to_string(X) + "," + std::to_string(Y) + ") ";
  };
  Meter.OnClick = [&](TObject* Sender) { seen += Sender == &Meter ? "click " : "click? "; };
  Meter.OnDblClick = [&](TObject*) { seen += "dblclick "; };
  Meter.OnMouseDown = [&](TObject*, TMouseButton B, uint32_t, int32_t X, int32_t Y) {
    note(B == mbLeft ? "down" : "rdown", X, Y);
  };
  Meter.OnMouseUp = [&](TObject*, TMouseButton B, uint32_t, int32_t X, int32_t Y) {
    note(B == mbLeft ? "up" : "rup", X, Y);
  };
  Meter.OnMouseMove = [&](TObject*, uint32_t, int32_t X, int32_t Y) { note("move", X, Y); };
  auto send = [&](UINT Message, WPARAM Keys, int32_t X, int32_t Y) {
    SendMessageA(Window, Message, Keys, MAKELPARAM(X, Y));
  };
  const int32_t x = Meter.Left() + 20, y = Meter.Top() + 5;  // on the meter
  struct Case {
    const char* what;
    std::vector<std::tuple<UINT, WPARAM, int32_t, int32_t>> messages;
    const char* expected;
  } cases[] = {
      {"press and release on the meter",
       {{WM_MOUSEMOVE, 0, x, y}, {WM_LBUTTONDOWN, MK_LBUTTON, x, y}, {WM_LBUTTONUP, 0, x, y}},
       "move(20,5) down(20,5) click up(20,5) "},
      {"pressed beside, released on the meter",
       {{WM_LBUTTONDOWN, MK_LBUTTON, 2, 2}, {WM_LBUTTONUP, 0, x, y}},
       "up(20,5) "},
      {"pressed on the meter, released beside",
       {{WM_LBUTTONDOWN, MK_LBUTTON, x, y},
        {WM_MOUSEMOVE, MK_LBUTTON, 2, 2},
        {WM_LBUTTONUP, 0, 2, 2},
        {WM_MOUSEMOVE, 0, 2, 2}},
       "down(20,5) move(-10,-10) up(-10,-10) "},
      {"right button, then a double click",
       {{WM_RBUTTONDOWN, MK_RBUTTON, x, y},
        {WM_RBUTTONUP, 0, x, y},
        {WM_LBUTTONDBLCLK, MK_LBUTTON, x, y},
        {WM_LBUTTONUP, 0, x, y}},
       "rdown(20,5) rup(20,5) dblclick down(20,5) up(20,5) "},
  };
  for (const Case& c : cases) {
    seen.clear();
    for (const auto& [message, keys, mx, my] : c.messages) send(message, keys, mx, my);
    Expect(seen == c.expected, std::string(c.what) + ": " + seen);
    Expect(GetCapture() == nullptr, std::string(c.what) + ": the mouse is still captured");
  }
  Meter.SetVisible(false);
  seen.clear();
  send(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
  send(WM_LBUTTONUP, 0, x, y);
  Expect(seen.empty(), "a hidden meter took the mouse: " + seen);
  Meter.SetVisible(true);
  Meter.OnClick = Meter.OnDblClick = nullptr;
  Meter.OnMouseDown = Meter.OnMouseUp = nullptr;
  Meter.OnMouseMove = nullptr;
}

void Run(HWND Window) {
  TAbWin32Meter meter(Window, 12, 12);
  Meters = {&meter};
  UpdateWindow(Window);
  Expect(meter.Width() == 150 && meter.Height() == 16, "a new meter is 150 x 16");
  ExpectPicture(TSnapshot(Window), meter, {0}, "new meter");

  ShowPercentSeries(Window, meter, {0}, "horizontal");

  meter.ShowPercent(55);
  TLook look{55};
  AfterPaint(
      Window, meter, [&] { meter.SetCtl3D(false); }, {55, false, true, false},
      "Ctl3D off: black frame");
  AfterPaint(
      Window, meter, [&] { meter.SetCtl3D(true); }, look, "Ctl3D on again");
  AfterPaint(
      Window, meter, [&] { meter.SetBorderStyle(bsNone); }, {55, false, false}, "no border");
  AfterPaint(
      Window, meter, [&] { meter.SetBorderStyle(bsSingle); }, look, "border again");
  // 0x0000FF is red in the colour's 0x00BBGGRR layout.
  AfterPaint(
      Window, meter, [&] { meter.SetUsedColor(0x0000FF); }, {55, false, true, true, RGB(255, 0, 0)},
      "red segments");
  AfterPaint(
      Window, meter, [&] { meter.SetUsedColor(clNavy); }, look, "navy again");
  AfterPaint(
      Window, meter, [&] { meter.SetVisible(false); }, {55, false, true, true, kNavy, false},
      "hidden");
  AfterPaint(
      Window, meter, [&] { meter.SetVisible(true); }, look, "shown again");
  AfterPaint(
      Window, meter, [&] { InvalidateRect(Window, nullptr, TRUE); }, look,
      "the whole window repainted");

  MouseEvents(Window, meter);

  // Turned upright in place: 16 x 150; the parent repaints the strip it left.
  AfterPaint(
      Window, meter, [&] { meter.SetOrientation(moVertical); }, {55, true}, "vertical at 55%");
  Expect(meter.Width() == 16 && meter.Height() == 150, "vertical meter is 16 x 150");
  {
    const TSnapshot shot(Window);
    int left_over = 0;
    for (int32_t y = 12; y < 28; ++y)
      for (int32_t x = 12 + 16; x < 12 + 150; ++x) left_over += shot.At(x, y) != kBackground;
    Expect(left_over == 0, "area left by the horizontal meter: " + std::to_string(left_over) +
                               " pixels not repainted");
  }
  ShowPercentSeries(Window, meter, {55, true}, "vertical");

  // Left on screen for the screenshot: horizontal 55%, horizontal without Ctl3D 99%, vertical 70%.
  meter.SetOrientation(moHorizontal);
  meter.ShowPercent(55);
  TAbWin32Meter flat(Window, 12, 40);
  flat.SetCtl3D(false);
  TAbWin32Meter upright(Window, 200, 12);
  upright.SetOrientation(moVertical);
  Meters = {&meter, &flat, &upright};
  flat.ShowPercent(99);
  upright.ShowPercent(70);
  UpdateWindow(Window);
  const TSnapshot shot(Window);
  ExpectPicture(shot, meter, look, "final horizontal");
  ExpectPicture(shot, flat, {99, false, true, false}, "final without Ctl3D");
  ExpectPicture(shot, upright, {70, true}, "final vertical");

  POINT origin = {0, 0};
  ClientToScreen(Window, &origin);
  std::string results = "failures=" + std::to_string(Failures) +
                        "\nchecks=" + std::to_string(Checks) + "\nface=" + Hex(kFace) +
                        "\nshadow=" + Hex(kShadow) + "\nhighlight=" + Hex(kHighlight) +
                        "\nused=" + Hex(kNavy) + "\n";
  auto describe = [&](const char* Name, const TAbWin32Meter& M) {
    results += std::string(Name) + "=" + std::to_string(origin.x + M.Left()) + "," +
               std::to_string(origin.y + M.Top()) + "," + std::to_string(M.Width()) + "," +
               std::to_string(M.Height()) + "," + std::to_string(M.Position()) + "," +
               (M.Orientation() == moVertical ? "vertical" : "horizontal") + "," +
               (M.Ctl3D() ? "ctl3d" : "flat") + "\n";
  };
  describe("meter0", meter);
  describe("meter1", flat);
  describe("meter2", upright);
  const std::string partial = ResultsFile + ".part";
  if (FILE* f = std::fopen(partial.c_str(), "wb")) {
    std::fwrite(results.data(), 1, results.size(), f);
    std::fclose(f);
    MoveFileA(partial.c_str(), ResultsFile.c_str());
  }
  std::printf("%d checks, %d failed\n", Checks, Failures);
  std::fflush(stdout);

  SetTimer(Window, kPollTimer, 100, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  Meters.clear();
}

}  // namespace
}  // namespace zipkit

int main(int argc, char** argv) {
  using namespace zipkit;
  if (argc != 2) {
    std::fprintf(stderr, "usage: meter-window RESULTS\n");
    return 255;
  }
  ResultsFile = argv[1];
  const int elements[] = {COLOR_BTNFACE, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT};
  const COLORREF colors[] = {kFace, kShadow, kHighlight};
  SetSysColors(3, elements, colors);
  Expect(GetSysColor(COLOR_BTNFACE) == kFace && GetSysColor(COLOR_BTNSHADOW) == kShadow &&
             GetSysColor(COLOR_BTNHIGHLIGHT) == kHighlight,
         "system colours set");
  Run(CreateTestWindow());
  return Failures;
}
