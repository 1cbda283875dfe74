// A TInstallHost for the unit tests: registry, resources, shell, message boxes and the window's
// parts are scripted and recorded; files and folders are real, below a fresh temporary folder,
// with "\" turned into "/" as the POSIX host does. Faults are injected by path.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bootstrap/install_host.h"
#include "host/exceptions.h"

namespace zipkit::testing {

class TScriptedHost : public TInstallHost {
 public:
  struct TRegistryRead {
    std::string SubKey;
    bool Create;
    std::string ValueName;
  };
  struct TShellCall {
    std::string Verb, File, Parameters, Directory;
    int32_t ShowCommand;
  };

  TScriptedHost() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bootstrap-XXXXXX").string();
    Root = mkdtemp(pattern.data());
    OldDirectory = std::filesystem::current_path();
  }
  ~TScriptedHost() override {
    std::error_code ec;
    std::filesystem::current_path(OldDirectory, ec);
    std::filesystem::remove_all(Root, ec);
  }

  // A path of the scripted machine ("\" separators) under the temporary root.
  std::string Path(const std::string& Relative) const { return Root + "\\" + Relative; }
  static std::string Posix(std::string path) {
    for (char& c : path)
      if (c == '\\') c = '/';
    return path;
  }
  bool Exists(const std::string& path) const { return std::filesystem::exists(Posix(path)); }
  std::string Contents(const std::string& path) const {
    std::ifstream in(Posix(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void Put(const std::string& path, const std::string& bytes) const {
    std::ofstream(Posix(path), std::ios::binary) << bytes;
  }

  // The script.
  uint32_t Platform = 2;
  std::map<std::string, TRegistryValue> Registry;  // by "SubKey\ValueName"
  std::set<std::string> UnopenableKeys;
  std::string Module = "C:\\dist\\Setup-ABC.exe";
  std::map<std::string, std::vector<uint8_t>> Resources;
  std::set<std::string> FailCreateDir, FailCreateFile, FailDelete;
  std::optional<std::string> FailSetCurrentDir;
  int32_t MissingPolls = 0;  // how often FileExists misses the archive before it sees it
  uintptr_t ShellResult = 42;

  // The record.
  std::vector<TRegistryRead> RegistryReads;
  std::vector<std::string> Messages, Captions, Events;
  std::vector<TShellCall> ShellCalls;
  std::string CurrentDir;
  bool TimerEnabled = false, Terminated = false;

  uint32_t PlatformId() override { return Platform; }

  bool ReadMachineValue(const std::string& SubKey, bool Create, const std::string& ValueName,
                        TRegistryValue& Value) override {
    RegistryReads.push_back({SubKey, Create, ValueName});
    if (UnopenableKeys.count(SubKey)) return false;
    const auto it = Registry.find(SubKey + "\\" + ValueName);
    if (it != Registry.end()) Value = it->second;
    return true;
  }

  bool DirectoryExists(const std::string& path) override {
    return std::filesystem::is_directory(Posix(path));
  }
  bool CreateDir(const std::string& path) override {
    Events.push_back("mkdir " + path);
    if (FailCreateDir.count(path)) return false;
    std::error_code ec;
    return std::filesystem::create_directory(Posix(path), ec);
  }
  bool FileExists(const std::string& path) override {
    if (path.ends_with("_Install.zip") && MissingPolls > 0) return --MissingPolls, false;
    return std::filesystem::is_regular_file(Posix(path));
  }
  bool RemoveFile(const std::string& path) override {
    Events.push_back("delete " + path);
    if (FailDelete.count(path)) return false;
    return ::unlink(Posix(path).c_str()) == 0;
  }
  void WriteNewFile(const std::string& path, const std::vector<uint8_t>& data) override {
    Events.push_back("write " + path);
    std::ofstream out;
    if (!FailCreateFile.count(path)) out.open(Posix(path), std::ios::binary | std::ios::trunc);
    if (!out.is_open()) throw EFCreateError("Cannot create file " + path);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out) throw EWriteError();
  }

  std::string ModulePath() override { return Module; }
  std::vector<uint8_t> ResourceBytes(const std::string& name) override {
    const auto it = Resources.find(name);
    if (it == Resources.end()) throw EResNotFound("Resource " + name + " not found");
    return it->second;
  }
  void SetCurrentDir(const std::string& path) override {
    Events.push_back("chdir " + path);
    std::error_code ec;
    if (FailSetCurrentDir == path) throw EInOutError("I/O error 3", 3);
    std::filesystem::current_path(Posix(path), ec);
    if (ec) throw EInOutError("I/O error " + std::to_string(ec.value()), ec.value());
    CurrentDir = path;
  }

  uintptr_t ShellStart(const std::string& Verb, const std::string& File,
                       const std::string& Parameters, const std::string& Directory,
                       int32_t ShowCommand) override {
    Events.push_back("shell " + File);
    ShellCalls.push_back({Verb, File, Parameters, Directory, ShowCommand});
    return ShellResult;
  }

  void ShowMessage(const std::string& Text) override {
    Events.push_back("message " + Text);
    Messages.push_back(Text);
  }
  void SetLabelCaption(const std::string& Caption) override { Captions.push_back(Caption); }
  void EnableTimer() override { TimerEnabled = true; }
  void Terminate() override { Terminated = true; }

  std::string Root;
  std::filesystem::path OldDirectory;
};

}  // namespace zipkit::testing
