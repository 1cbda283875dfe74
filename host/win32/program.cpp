// The program's own file name, the OK / Cancel question and the message pump, on Windows.
#include <windows.h>

#include <string>

#include "host/host.h"

namespace zipkit::host {

std::string ModuleFileName() {
  char buffer[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::string(buffer, n);
}

bool TaskModalOkCancel(const std::string& Text, const std::string& Caption) {
  return MessageBoxA(nullptr, Text.c_str(), Caption.c_str(), MB_OKCANCEL | MB_TASKMODAL) == IDOK;
}

void ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {  // posted again, so that the main loop ends
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace zipkit::host
