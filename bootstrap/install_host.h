// The services the install window needs from the system it runs on. The Win32 program implements
// them with the real API (win32_host.cpp); the unit tests implement them with a scripted host.
// Paths use "\" between folders, as on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipkit {

// Registry value types, numbered as the Windows registry numbers them.
enum : uint32_t {
  rvNone = 0,
  rvString = 1,        // REG_SZ
  rvExpandString = 2,  // REG_EXPAND_SZ
  rvBinary = 3,
  rvDWord = 4,
  rvMultiString = 7,
};

// One registry value as stored: its type and its raw bytes (a string keeps its NUL).
struct TRegistryValue {
  bool Exists = false;
  uint32_t DataType = rvNone;
  std::string Data;
};

class TInstallHost {
 public:
  virtual ~TInstallHost() = default;

  // The platform id of the operating system's version information (1: 95 family, 2: NT family).
  virtual uint32_t PlatformId() = 0;

  // Opens HKEY_LOCAL_MACHINE\SubKey with full access, creating it when Create is set (an empty
  // SubKey with Create clear opens HKEY_LOCAL_MACHINE itself), reads ValueName into Value and
  // closes the key again. Returns false when the key cannot be opened; Value is then untouched.
  virtual bool ReadMachineValue(const std::string& SubKey, bool Create,
                                const std::string& ValueName, TRegistryValue& Value) = 0;

  virtual bool DirectoryExists(const std::string& Path) = 0;
  // One level, default security; false when it fails.
  virtual bool CreateDir(const std::string& Path) = 0;
  virtual bool FileExists(const std::string& Path) = 0;
  virtual bool RemoveFile(const std::string& Path) = 0;
  // Creates or truncates Path and writes Data into it. Raises EFCreateError ("Cannot create file
  // %s") when the file cannot be created, EWriteError when the bytes do not all go out.
  virtual void WriteNewFile(const std::string& Path, const std::vector<uint8_t>& Data) = 0;

  // The full path of the program's own module (in the ANSI code page).
  virtual std::string ModulePath() = 0;
  // The bytes of the program's RCDATA resource Name; raises EResNotFound ("Resource %s not
  // found") when there is none.
  virtual std::vector<uint8_t> ResourceBytes(const std::string& Name) = 0;
  // Raises EInOutError when the folder cannot be made current.
  virtual void SetCurrentDir(const std::string& Path) = 0;

  // Starts File through the shell; a result of 32 or less means it failed.
  virtual uintptr_t ShellStart(const std::string& Verb, const std::string& File,
                               const std::string& Parameters, const std::string& Directory,
                               int32_t ShowCommand) = 0;

  // The modal message box: Text, one OK button, the application title as caption; returns when
  // the user has closed it.
  virtual void ShowMessage(const std::string& Text) = 0;

  // The install window's parts.
  virtual void SetLabelCaption(const std::string& Caption) = 0;
  virtual void EnableTimer() = 0;
  // Ends the message loop; the program then halts with exit code 0.
  virtual void Terminate() = 0;
};

}  // namespace zipkit
