// Text services on Windows: the system's code pages and conversions.
#include <windows.h>

#include <string>

#include "host/host.h"

namespace zipkit::host {

namespace {

std::wstring ToWide(std::string_view text, UINT code_page, DWORD flags, bool* ok) {
  if (ok != nullptr) *ok = true;
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  int n = MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
  if (n == 0 && flags != 0) {
    if (ok != nullptr) *ok = false;  // ill-formed: convert again, replacing what is broken
    flags = 0;
    n = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
  }
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(code_page, flags, text.data(), size, out.data(), n);
  return out;
}

std::string FromWide(const wchar_t* text, int count, UINT code_page, bool* exact) {
  if (count <= 0) return std::string();
  // Best-fit replacements would turn a character into a different one silently.
  const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used = code_page == CP_UTF8 ? nullptr : &used_default;
  const int n = WideCharToMultiByte(code_page, flags, text, count, nullptr, 0, nullptr, used);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, flags, text, count, out.data(), n, nullptr, used);
  if (exact != nullptr && used_default) *exact = false;
  return out;
}

std::string Convert(std::string_view text, UINT from, UINT to, bool* exact) {
  bool ok = true;
  const std::wstring wide = ToWide(text, from, from == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, &ok);
  if (exact != nullptr) *exact = ok;
  return FromWide(wide.data(), static_cast<int>(wide.size()), to, exact);
}

}  // namespace

uint32_t OemCodePage() { return GetOEMCP(); }
uint32_t AnsiCodePage() { return GetACP(); }
bool SetAnsiCodePage(uint32_t CodePage) { return CodePage == GetACP(); }

std::string OemToAnsi(std::string_view Oem) {
  // The system's own OEM-to-ANSI mapping, same length, as names have always been shown.
  std::string out(Oem);
  if (!out.empty()) OemToCharBuffA(out.data(), out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string AnsiToOem(std::string_view Ansi, bool* Exact) {
  return Convert(Ansi, CP_ACP, CP_OEMCP, Exact);
}

std::string Utf8ToAnsi(std::string_view Utf8, bool* Exact) {
  return Convert(Utf8, CP_UTF8, CP_ACP, Exact);
}

std::string AnsiToUtf8(std::string_view Ansi) { return Convert(Ansi, CP_ACP, CP_UTF8, nullptr); }

std::string WideToAnsi(const char16_t* Text, int32_t Count) {
  if (Text == nullptr || Count <= 0) return std::string();
  return FromWide(reinterpret_cast<const wchar_t*>(Text), Count, CP_ACP, nullptr);
}

std::string AnsiUpperCase(std::string_view Text) {
  std::string out(Text);
  if (!out.empty()) CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string AnsiLowerCase(std::string_view Text) {
  std::string out(Text);
  if (!out.empty()) CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string LocalDateTimeText() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char date[128] = "";
  char time[128] = "";
  GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, sizeof date);
  GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, sizeof time);
  return std::string(date) + " " + time;
}

}  // namespace zipkit::host
