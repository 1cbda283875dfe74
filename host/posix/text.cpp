// Text services on POSIX: OEM is CP437, ANSI is UTF-8 unless a test selects CP1252; our own
// tables convert between them.
#include <atomic>
#include <ctime>

#include "host/code_pages.h"
#include "host/host.h"

namespace zipkit::host {

namespace {
std::atomic<uint32_t> g_ansi_code_page{cpUtf8};
}

uint32_t OemCodePage() { return cpOem437; }
uint32_t AnsiCodePage() { return g_ansi_code_page; }

bool SetAnsiCodePage(uint32_t CodePage) {
  if (CodePage != cpUtf8 && CodePage != cpAnsi1252) return false;
  g_ansi_code_page = CodePage;
  return true;
}

std::string OemToAnsi(std::string_view Oem) { return cp::Convert(Oem, cpOem437, AnsiCodePage()); }

std::string AnsiToOem(std::string_view Ansi, bool* Exact) {
  return cp::Convert(Ansi, AnsiCodePage(), cpOem437, Exact);
}

std::string Utf8ToAnsi(std::string_view Utf8, bool* Exact) {
  return cp::Convert(Utf8, cpUtf8, AnsiCodePage(), Exact);
}

std::string AnsiToUtf8(std::string_view Ansi) { return cp::Convert(Ansi, AnsiCodePage(), cpUtf8); }

std::string WideToAnsi(const char16_t* Text, int32_t Count) {
  if (Text == nullptr || Count <= 0) return std::string();
  return cp::FromUtf16(Text, static_cast<size_t>(Count), AnsiCodePage());
}

std::string AnsiUpperCase(std::string_view Text) {
  return cp::ChangeCase(Text, AnsiCodePage(), true);
}

std::string AnsiLowerCase(std::string_view Text) {
  return cp::ChangeCase(Text, AnsiCodePage(), false);
}

std::string LocalDateTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[32];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buf, n);
}

}  // namespace zipkit::host
