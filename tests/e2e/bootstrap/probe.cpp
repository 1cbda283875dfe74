// A console program run beside install.exe in the same Wine prefix: it reports what the install
// window and any message box show (as the Win32 API sees them, text as hex bytes so that every
// byte can be compared) and can close the install window from outside.
//   probe window [FACE HEIGHT]
//                  the install window: caption, styles, geometry, the label; with a font, also
//                  the width of the label's text in that font (fonts cannot be read across
//                  processes, so the label's own width is compared with it)
//   probe dialogs  every visible message box: caption, text, icon, buttons, geometry
//   probe close    posts WM_CLOSE to the install window
// Output: one "key=value" per line; a dialog's lines are prefixed "dialog<N>.".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}

std::string TextOf(HWND window) {
  char buffer[2048] = {};
  const int length = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? length : 0);
}

std::string ClassOf(HWND window) {
  char buffer[256] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

void PrintRect(const char* key, const RECT& r) {
  std::printf("%s=%ld,%ld,%ld,%ld\n", key, r.left, r.top, r.right - r.left, r.bottom - r.top);
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM list) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  return children;
}

int Window(const char* face, int height) {
  HWND window = FindWindowA("TInstallForm", nullptr);
  std::printf("found=%d\n", window != nullptr);
  if (!window) return 0;
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  std::printf("caption=%s\nvisible=%d\n", TextOf(window).c_str(), IsWindowVisible(window) ? 1 : 0);
  std::printf("caption_bar=%d\nsystem_menu=%d\nminimize=%d\nmaximize=%d\nsizeable=%d\n",
              (style & WS_CAPTION) == WS_CAPTION, (style & WS_SYSMENU) != 0,
              (style & WS_MINIMIZEBOX) != 0, (style & WS_MAXIMIZEBOX) != 0,
              (style & WS_THICKFRAME) != 0);
  RECT frame, client;
  GetWindowRect(window, &frame);
  GetClientRect(window, &client);
  PrintRect("frame", frame);
  PrintRect("client", client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  std::printf("client_origin=%ld,%ld\n", origin.x, origin.y);
  std::printf("screen=%d,%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  const COLORREF button_face = GetSysColor(COLOR_BTNFACE);
  std::printf("btnface=%d,%d,%d\n", GetRValue(button_face), GetGValue(button_face),
              GetBValue(button_face));
  HDC screen = GetDC(nullptr);
  std::printf("dpi=%d\n", GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(nullptr, screen);

  int labels = 0;
  for (HWND child : Children(window)) {
    if (ClassOf(child) != "Static") continue;
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    std::printf("label.text_hex=%s\nlabel.visible=%d\n", Hex(TextOf(child)).c_str(),
                IsWindowVisible(child) ? 1 : 0);
    PrintRect("label.rect", r);
    if (face) {
      HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, face);
      HDC dc = GetDC(nullptr);
      HGDIOBJ old = SelectObject(dc, font);
      const std::string text = TextOf(child);
      RECT extent = {0, 0, 0, 0};
      DrawTextA(dc, text.c_str(), int(text.size()), &extent,
                DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
      SelectObject(dc, old);
      ReleaseDC(nullptr, dc);
      DeleteObject(font);
      std::printf("label.text_extent=%ld,%ld\n", extent.right, extent.bottom);
    }
    ++labels;
  }
  std::printf("labels=%d\n", labels);
  return 0;
}

int Dialogs() {
  std::vector<HWND> dialogs;
  EnumWindows(
      [](HWND window, LPARAM list) {
        if (IsWindowVisible(window) && ClassOf(window) == "#32770")
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&dialogs));
  std::printf("dialogs=%zu\n", dialogs.size());
  for (size_t i = 0; i < dialogs.size(); ++i) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "dialog%zu.", i);
    const std::string p = prefix;
    RECT r;
    GetWindowRect(dialogs[i], &r);
    std::printf("%scaption_hex=%s\n", p.c_str(), Hex(TextOf(dialogs[i])).c_str());
    PrintRect((p + "frame").c_str(), r);
    int icons = 0;
    std::string buttons;
    for (HWND child : Children(dialogs[i])) {
      if (!IsWindowVisible(child)) continue;
      const std::string kind = ClassOf(child);
      if (kind == "Button") {
        if (!buttons.empty()) buttons += ',';
        buttons += TextOf(child);
      } else if (kind == "Static") {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
          icons += SendMessageA(child, STM_GETICON, 0, 0) != 0;
        } else {
          std::printf("%stext_hex=%s\n", p.c_str(), Hex(TextOf(child)).c_str());
        }
      }
    }
    std::printf("%sicons=%d\n%sbuttons=%s\n", p.c_str(), icons, p.c_str(), buttons.c_str());
  }
  return 0;
}

int Close() {
  HWND window = FindWindowA("TInstallForm", nullptr);
  std::printf("found=%d\n", window != nullptr);
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc >= 2 ? argv[1] : "";
  int result = 2;
  if (command == "window" && argc == 2) result = Window(nullptr, 0);
  if (command == "window" && argc == 4) result = Window(argv[2], std::atoi(argv[3]));
  if (command == "dialogs") result = Dialogs();
  if (command == "close") result = Close();
  if (result == 2) std::fprintf(stderr, "usage: probe window [FACE HEIGHT] | dialogs | close\n");
  std::fflush(stdout);
  return result;
}
