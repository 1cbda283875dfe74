// The install program: refuses to run beside another copy of itself, builds the install window
// from its layout resource, runs the install sequence as the window's show handler and then the
// message loop until the window's timer ends it.
#include <windows.h>

#include <exception>
#include <string>

#include "bootstrap/application.h"
#include "bootstrap/form_layout.h"
#include "bootstrap/install_form.h"
#include "bootstrap/win32_host.h"
#include "host/exceptions.h"

namespace zipkit {
namespace {

constexpr char kLayoutResource[] = "INSTALLFORM";
constexpr UINT kTimerId = 1;
constexpr int kLabelId = 1;

// Open for the whole run; closing it (or the end of the process) frees it for the next copy.
HANDLE InstanceMutex = nullptr;

TInstallForm* InstallForm = nullptr;
std::string Title;

// The application's display of an escaped exception; the silent kind shows nothing.
void ShowException(const std::exception& Error) {
  if (dynamic_cast<const EAbort*>(&Error)) return;
  MessageBoxA(nullptr, ExceptionBoxText(Error.what()).c_str(), Title.c_str(),
              MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

// Runs a handler the way the message loop does: an exception is shown and the loop goes on.
template <typename Handler>
void Guarded(Handler&& Run) {
  try {
    Run();
  } catch (const std::exception& Error) {
    ShowException(Error);
  }
}

LRESULT CALLBACK InstallFormProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  switch (Message) {
    case WM_TIMER:
      if (WParam == kTimerId && InstallForm) Guarded([] { InstallForm->Timer1Timer(); });
      return 0;
    case WM_DESTROY:  // closed from outside: the main window's end is the program's end
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(Window, Message, WParam, LParam);
}

struct TWindowParts {
  HWND Window;
  HWND Label;
  HFONT Font;
};

DWORD WindowStyle(const TFormLayout& Layout) {
  DWORD style = WS_CLIPSIBLINGS;
  const std::string border = Layout.Text("InstallForm", "BorderStyle");
  if (border == "bsSingle")
    style |= WS_CAPTION;
  else if (border == "bsSizeable")
    style |= WS_CAPTION | WS_THICKFRAME;
  else
    throw Exception("Unsupported border style " + border);
  for (const std::string& icon : Layout.Names("InstallForm", "BorderIcons")) {
    if (icon == "biSystemMenu")
      style |= WS_SYSMENU;
    else if (icon == "biMinimize")
      style |= WS_MINIMIZEBOX;
    else if (icon == "biMaximize")
      style |= WS_MAXIMIZEBOX;
    else
      throw Exception("Unsupported border icon " + icon);
  }
  return style;
}

// Builds the hidden window and its label from the layout, scaled from the layout's pixels per
// inch to the screen's.
TWindowParts CreateInstallWindow(HINSTANCE Instance, const TFormLayout& Layout) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const int ppi = Layout.Integer("InstallForm", "PixelsPerInch");
  auto scaled = [&](int32_t pixels) { return MulDiv(pixels, dpi, ppi); };

  const std::string class_name = Layout.Text("InstallForm", "Class");
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = InstallFormProc;
  window_class.hInstance = Instance;
  window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // the arrow
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = class_name.c_str();
  if (Layout.Text("InstallForm", "Color") != "clBtnFace")
    throw Exception("Unsupported window colour " + Layout.Text("InstallForm", "Color"));
  if (!RegisterClassA(&window_class)) throw Exception("Cannot register the install window");

  const DWORD style = WindowStyle(Layout);
  RECT frame = {0, 0, scaled(Layout.Integer("InstallForm", "ClientWidth")),
                scaled(Layout.Integer("InstallForm", "ClientHeight"))};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  int left = scaled(Layout.Integer("InstallForm", "Left"));
  int top = scaled(Layout.Integer("InstallForm", "Top"));
  if (Layout.Text("InstallForm", "Position") == "poScreenCenter") {
    left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  }
  HWND window =
      CreateWindowExA(0, class_name.c_str(), Layout.Text("InstallForm", "Caption").c_str(), style,
                      left, top, width, height, nullptr, nullptr, Instance, nullptr);
  if (!window) throw Exception("Cannot create the install window");

  HFONT font = CreateFontA(scaled(Layout.Integer("InstallForm", "FontHeight")), 0, 0, 0, FW_NORMAL,
                           FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                           Layout.Text("InstallForm", "FontName").c_str());
  HWND label = CreateWindowExA(
      0, "STATIC", Layout.Text("Label1", "Caption").c_str(),
      WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, scaled(Layout.Integer("Label1", "Left")),
      scaled(Layout.Integer("Label1", "Top")), scaled(Layout.Integer("Label1", "Width")),
      scaled(Layout.Integer("Label1", "Height")), window,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLabelId)), Instance, nullptr);
  if (!label) throw Exception("Cannot create the install window's label");
  SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (Layout.Boolean("Label1", "AutoSize")) FitLabelToCaption(label);
  return {window, label, font};
}

TFormLayout LoadLayout(TWin32InstallHost& Host) {
  const std::vector<uint8_t> bytes = Host.ResourceBytes(kLayoutResource);
  return TFormLayout::Parse(std::string(bytes.begin(), bytes.end()));
}

int Run(HINSTANCE Instance) {
  Title = Win32ApplicationTitle();

  // The single-instance guard, before any window exists.
  InstanceMutex = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
  if (GetLastError() == kErrorAlreadyExists) {
    MessageBoxA(nullptr, kRefusalMessage, Title.c_str(), MB_OK | MB_TASKMODAL);
    return 0;
  }

  TWin32InstallHost host(Title);
  TInstallForm form(host);
  TWindowParts parts;
  try {
    const TFormLayout layout = LoadLayout(host);
    parts = CreateInstallWindow(Instance, layout);
    form.LoadLayout(layout);
    host.Attach(parts.Window, parts.Label, kTimerId, UINT(layout.Integer("Timer1", "Interval")));
    if (layout.Boolean("Timer1", "Enabled")) host.EnableTimer();
  } catch (const std::exception& Error) {
    ShowException(Error);
    return 1;
  }
  InstallForm = &form;

  // The show handler runs before the window appears; whatever it leaves behind, the window is
  // then shown and the loop runs until the timer (or a close from outside) ends it.
  Guarded([&] { form.FormShow(); });
  ShowWindow(parts.Window, SW_SHOW);
  UpdateWindow(parts.Window);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  InstallForm = nullptr;
  DeleteObject(parts.Font);
  return 0;
}

}  // namespace
}  // namespace zipkit

int WINAPI WinMain(HINSTANCE Instance, HINSTANCE, LPSTR, int) {
  const int exit_code = zipkit::Run(Instance);
  if (zipkit::InstanceMutex) CloseHandle(zipkit::InstanceMutex);
  return exit_code;
}
