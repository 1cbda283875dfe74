// The program's own file name and the OK / Cancel question, on Windows.
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

}  // namespace zipkit::host
