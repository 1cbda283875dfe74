#include "bootstrap/win32_host.h"

#include <shellapi.h>

#include <cstdint>

#include "bootstrap/application.h"
#include "host/exceptions.h"
#include "host/host.h"
#include "host/stream.h"

namespace zipkit {

namespace {

std::string LowerAnsi(const std::string& Text) {
  std::string lower = Text;
  if (!lower.empty()) CharLowerBuffA(lower.data(), DWORD(lower.size()));
  return lower;
}

}  // namespace

std::string Win32ModulePath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length);
}

std::string Win32ApplicationTitle() {
  std::string path = Win32ModulePath();
  if (!path.empty()) OemToCharBuffA(path.data(), path.data(), DWORD(path.size()));
  return ApplicationTitle(path, LowerAnsi);
}

uint32_t TWin32InstallHost::PlatformId() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;  // the 148-byte structure
  if (!GetVersionExA(&info)) return 0;
  return info.dwPlatformId;
}

bool TWin32InstallHost::ReadMachineValue(const std::string& SubKey, bool Create,
                                         const std::string& ValueName, TRegistryValue& Value) {
  HKEY key = nullptr;
  LONG opened;
  if (Create)
    opened = RegCreateKeyExA(HKEY_LOCAL_MACHINE, SubKey.c_str(), 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  else
    opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SubKey.empty() ? nullptr : SubKey.c_str(), 0,
                           KEY_ALL_ACCESS, &key);
  if (opened != ERROR_SUCCESS) return false;

  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key, ValueName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::string data(size, '\0');
    if (size == 0 ||
        RegQueryValueExA(key, ValueName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
      Value.Exists = true;
      Value.DataType = type;
      Value.Data = data.substr(0, size);
    }
  }
  RegCloseKey(key);
  return true;
}

bool TWin32InstallHost::DirectoryExists(const std::string& Path) {
  const DWORD attributes = GetFileAttributesA(Path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool TWin32InstallHost::CreateDir(const std::string& Path) {
  return CreateDirectoryA(Path.c_str(), nullptr) != 0;
}

bool TWin32InstallHost::FileExists(const std::string& Path) {
  const DWORD attributes = GetFileAttributesA(Path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool TWin32InstallHost::RemoveFile(const std::string& Path) {
  return DeleteFileA(Path.c_str()) != 0;
}

void TWin32InstallHost::WriteNewFile(const std::string& Path, const std::vector<uint8_t>& Data) {
  TFileStream file(Path, fmCreate);
  if (Data.size() > size_t(INT32_MAX)) throw EWriteError();  // streams stay below 2 GiB
  if (!Data.empty()) file.WriteBuffer(Data.data(), int32_t(Data.size()));
}

std::vector<uint8_t> TWin32InstallHost::ResourceBytes(const std::string& Name) {
  // By type and name only: the language the resource carries does not matter.
  HRSRC info = FindResourceA(nullptr, Name.c_str(), MAKEINTRESOURCEA(10));
  HGLOBAL handle = info ? LoadResource(nullptr, info) : nullptr;
  const auto* bytes = handle ? static_cast<const uint8_t*>(LockResource(handle)) : nullptr;
  if (!bytes) throw EResNotFound("Resource " + Name + " not found");
  return std::vector<uint8_t>(bytes, bytes + SizeofResource(nullptr, info));
}

void TWin32InstallHost::SetCurrentDir(const std::string& Path) {
  if (!SetCurrentDirectoryA(Path.c_str())) {
    const int32_t error = int32_t(GetLastError());
    throw EInOutError(host::SysErrorMessage(error), error);
  }
}

uintptr_t TWin32InstallHost::ShellStart(const std::string& Verb, const std::string& File,
                                        const std::string& Parameters, const std::string& Directory,
                                        int32_t ShowCommand) {
  const HINSTANCE result = ShellExecuteA(nullptr, Verb.c_str(), File.c_str(), Parameters.c_str(),
                                         Directory.c_str(), ShowCommand);
  return reinterpret_cast<uintptr_t>(result);
}

void TWin32InstallHost::ShowMessage(const std::string& Text) {
  MessageBoxA(nullptr, Text.c_str(), title_.c_str(), MB_OK | MB_TASKMODAL);
}

void TWin32InstallHost::SetLabelCaption(const std::string& Caption) {
  SetWindowTextA(label_, Caption.c_str());
  FitLabelToCaption(label_);
}

void TWin32InstallHost::EnableTimer() { SetTimer(window_, timer_id_, timer_interval_, nullptr); }

void TWin32InstallHost::Terminate() { PostQuitMessage(0); }

void FitLabelToCaption(HWND Label) {
  const int length = GetWindowTextLengthA(Label);
  std::string caption(size_t(length) + 1, '\0');
  GetWindowTextA(Label, caption.data(), length + 1);
  caption.resize(size_t(length));

  HDC dc = GetDC(Label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(Label, WM_GETFONT, 0, 0)));
  RECT extent = {0, 0, 0, 0};
  DrawTextA(dc, caption.empty() ? " " : caption.c_str(), caption.empty() ? 1 : length, &extent,
            DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(Label, dc);
  if (caption.empty()) extent.right = 0;
  SetWindowPos(Label, nullptr, 0, 0, extent.right, extent.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace zipkit
