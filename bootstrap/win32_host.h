// The install window's host services on Windows: version, registry, files and folders,
// resources, shell and message boxes through the Win32 API, and the window's label and timer.
#pragma once

#include <windows.h>

#include <string>

#include "bootstrap/install_host.h"

namespace zipkit {

// The module path of this program in the ANSI code page.
std::string Win32ModulePath();
// The application title: the module's file name read as OEM text, cut and lowercased.
std::string Win32ApplicationTitle();

class TWin32InstallHost : public TInstallHost {
 public:
  explicit TWin32InstallHost(std::string Title) : title_(std::move(Title)) {}

  // The window's parts, once the window exists.
  void Attach(HWND Window, HWND Label, UINT TimerId, UINT TimerInterval) {
    window_ = Window;
    label_ = Label;
    timer_id_ = TimerId;
    timer_interval_ = TimerInterval;
  }
  const std::string& Title() const { return title_; }

  uint32_t PlatformId() override;
  bool ReadMachineValue(const std::string& SubKey, bool Create, const std::string& ValueName,
                        TRegistryValue& Value) override;
  bool DirectoryExists(const std::string& Path) override;
  bool CreateDir(const std::string& Path) override;
  bool FileExists(const std::string& Path) override;
  bool RemoveFile(const std::string& Path) override;
  void WriteNewFile(const std::string& Path, const std::vector<uint8_t>& Data) override;
  std::string ModulePath() override { return Win32ModulePath(); }
  std::vector<uint8_t> ResourceBytes(const std::string& Name) override;
  void SetCurrentDir(const std::string& Path) override;
  uintptr_t ShellStart(const std::string& Verb, const std::string& File,
                       const std::string& Parameters, const std::string& Directory,
                       int32_t ShowCommand) override;
  void ShowMessage(const std::string& Text) override;
  void SetLabelCaption(const std::string& Caption) override;
  void EnableTimer() override;
  void Terminate() override;

 private:
  std::string title_;
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  UINT timer_id_ = 0;
  UINT timer_interval_ = 0;
};

// Sizes a label to its caption in its own font: one line, no wrapping.
void FitLabelToCaption(HWND Label);

}  // namespace zipkit
