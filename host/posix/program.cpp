// The program's own file name, the OK / Cancel question and the message pump, on POSIX.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "host/host.h"

namespace zipkit::host {

std::string ModuleFileName() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  std::string name(buffer, static_cast<size_t>(n));
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

bool TaskModalOkCancel(const std::string& Text, const std::string& Caption) {
  if (!isatty(STDIN_FILENO)) return false;
  std::fprintf(stderr, "%s: %s [OK/Cancel] ", Caption.c_str(), Text.c_str());
  std::fflush(stderr);
  char answer[64];
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
  return answer[0] == 'o' || answer[0] == 'O' || answer[0] == '\n';
}

void ProcessMessages() {}

}  // namespace zipkit::host
