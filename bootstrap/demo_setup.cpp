// The demo payload's Setup.exe: proves that the install program started it, and where. It writes
// setup-ran.txt into its current folder with its own path, that folder, its command line and the
// local time, then ends. It opens no window. Plain Win32 calls keep it small.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR CommandLine, int) {
  char module[MAX_PATH] = {};
  char folder[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  GetCurrentDirectoryA(MAX_PATH, folder);
  SYSTEMTIME now;
  GetLocalTime(&now);

  static char report[4 * MAX_PATH + 256];
  const int length = wsprintfA(report,
                               "Setup.exe ran\r\nmodule=%s\r\nfolder=%s\r\nparameters=%.256s\r\n"
                               "time=%04u-%02u-%02u %02u:%02u:%02u\r\n",
                               module, folder, CommandLine, now.wYear, now.wMonth, now.wDay,
                               now.wHour, now.wMinute, now.wSecond);
  HANDLE file = CreateFileA("setup-ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, report, DWORD(length), &written, nullptr);
  CloseHandle(file);
  return ok && written == DWORD(length) ? 0 : 1;
}
