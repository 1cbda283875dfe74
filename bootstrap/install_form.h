// The install window's behaviour: its show handler runs the whole install sequence (record the
// reseller tag, copy the payload out of the resources, extract it, start Setup.exe, arm the timer)
// and its timer ends the program. Written against TInstallHost, so it runs in the Win32 program
// and under the unit tests alike.
#pragma once

#include <cstdint>
#include <string>

#include "bootstrap/form_layout.h"
#include "bootstrap/install_host.h"
#include "zipkit/zip_kit.h"

namespace zipkit {

// The text after the last "\" or ":" of Path.
std::string FileNamePart(const std::string& Path);

// The reseller tag of a program file name: the text between the first "-" and the first "."
// of the whole name; empty when there is no "-" or nothing lies between them.
std::string ResellerTagOf(const std::string& ExecutableName);

// The registry key that holds "SystemRoot" for a platform id; empty for an unknown platform.
std::string SystemRootKeyFor(uint32_t PlatformId);

// The text of a string value up to its first NUL; empty when absent or of size 0. Any type other
// than REG_SZ or REG_EXPAND_SZ raises ERegistryException ("Invalid data type for '<Name>'").
std::string RegistryString(const TRegistryValue& Value, const std::string& Name);

class TInstallForm {
 public:
  explicit TInstallForm(TInstallHost& Host) : host_(Host) {}

  // Gives the window's components the settings its layout stores for them.
  void LoadLayout(const TFormLayout& Layout);

  // The show handler: the install sequence, run once before the window becomes visible.
  // Exceptions of the host, the registry and the archive leave it to the caller.
  void FormShow();
  // The timer handler: ends the program.
  void Timer1Timer();

  std::string ArchivePath;
  std::string TargetDirectory;
  std::string ExecutableName;
  std::string ResellerTag;

  // The component that opens, extracts and closes the payload archive.
  TAbZipKit AbZipKit1;

 private:
  TInstallHost& host_;
};

}  // namespace zipkit
