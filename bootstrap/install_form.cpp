#include "bootstrap/install_form.h"

#include <cstring>

#include "host/exceptions.h"

namespace zipkit {

namespace {

constexpr char kPayloadResource[] = "RESNAME";
constexpr char kSystemRootValue[] = "SystemRoot";
constexpr char kResellerFile[] = "m_reseller.bin";
constexpr char kArchiveFile[] = "_Install.zip";
constexpr char kSetupProgram[] = "Setup.exe";
constexpr int32_t kShowNormal = 1;

std::string WithTrailingBackslash(std::string Path) {
  if (Path.empty() || Path.back() != '\\') Path += '\\';
  return Path;
}

}  // namespace

std::string FileNamePart(const std::string& Path) {
  const size_t cut = Path.find_last_of("\\:");
  return cut == std::string::npos ? Path : Path.substr(cut + 1);
}

std::string ResellerTagOf(const std::string& ExecutableName) {
  const size_t dash = ExecutableName.find('-');
  if (dash == std::string::npos) return {};
  // The first "." of the whole name, even when it comes before the "-".
  const size_t dot = ExecutableName.find('.');
  if (dot == std::string::npos || dot <= dash + 1) return {};
  return ExecutableName.substr(dash + 1, dot - dash - 1);
}

std::string SystemRootKeyFor(uint32_t PlatformId) {
  switch (PlatformId) {
    case 1:
      return "\\Software\\Microsoft\\Windows\\CurrentVersion";
    case 2:
      return "\\Software\\Microsoft\\Windows NT\\CurrentVersion";
    default:
      return {};
  }
}

std::string RegistryString(const TRegistryValue& Value, const std::string& Name) {
  if (!Value.Exists || Value.Data.empty()) return {};
  if (Value.DataType != rvString && Value.DataType != rvExpandString)
    throw ERegistryException("Invalid data type for '" + Name + "'");
  return Value.Data.substr(0, std::strlen(Value.Data.c_str()));
}

void TInstallForm::LoadLayout(const TFormLayout& Layout) {
  // In the order the component publishes them; FileName is never stored.
  AbZipKit1.SetAutoSave(Layout.Boolean("AbZipKit1", "AutoSave"));
  AbZipKit1.SetDOSMode(Layout.Boolean("AbZipKit1", "DOSMode"));
  TAbExtractOptions options;
  for (const std::string& name : Layout.Names("AbZipKit1", "ExtractOptions")) {
    if (name == "eoCreateDirs")
      options.Include(eoCreateDirs);
    else if (name == "eoRestorePath")
      options.Include(eoRestorePath);
    else
      throw Exception("Layout value AbZipKit1.ExtractOptions names an unknown option " + name);
  }
  AbZipKit1.SetExtractOptions(options);
}

void TInstallForm::FormShow() {
  ResellerTag.clear();
  ExecutableName = FileNamePart(host_.ModulePath());
  ResellerTag = ResellerTagOf(ExecutableName);

  // The system root, from the registry key of this platform family.
  std::string SystemRootPath;
  const std::string key = SystemRootKeyFor(host_.PlatformId());
  const bool create = !key.empty();
  TRegistryValue value;
  if (host_.ReadMachineValue(create ? key.substr(1) : key, create, kSystemRootValue, value))
    SystemRootPath = RegistryString(value, kSystemRootValue);
  if (SystemRootPath.empty()) {
    host_.ShowMessage("Unable to find Windows-Path!");
    return;
  }

  SystemRootPath = WithTrailingBackslash(SystemRootPath);
  TargetDirectory = SystemRootPath + "temp";
  if (!host_.DirectoryExists(TargetDirectory) && !host_.CreateDir(TargetDirectory)) {
    host_.ShowMessage("Unable to create directory " + TargetDirectory);
    return;
  }
  TargetDirectory = WithTrailingBackslash(TargetDirectory);
  ArchivePath = TargetDirectory + kArchiveFile;

  // The reseller file holds the tag of this run only; an empty tag leaves none behind.
  const std::string reseller_path = SystemRootPath + kResellerFile;
  if (host_.FileExists(reseller_path)) host_.RemoveFile(reseller_path);
  if (!ResellerTag.empty()) {
    std::vector<uint8_t> line(ResellerTag.begin(), ResellerTag.end());
    line.push_back('\r');
    line.push_back('\n');
    host_.WriteNewFile(reseller_path, line);
  }

  host_.WriteNewFile(ArchivePath, host_.ResourceBytes(kPayloadResource));

  // The copy is written synchronously, so the first test normally succeeds.
  host_.SetLabelCaption("Warte auf " + ArchivePath);
  while (!host_.FileExists(ArchivePath)) host_.SetLabelCaption("Warte auf " + ArchivePath);

  host_.SetLabelCaption("Unzip files...");
  host_.SetCurrentDir(TargetDirectory);
  AbZipKit1.SetFileName(ArchivePath);
  AbZipKit1.ExtractMatching("*.*");
  AbZipKit1.CloseFile();
  host_.RemoveFile(ArchivePath);

  host_.SetLabelCaption("Starting Setup.exe...");
  const uintptr_t started =
      host_.ShellStart("open", TargetDirectory + kSetupProgram, "", "", kShowNormal);
  if (started <= 32) host_.ShowMessage("Unable to start setup.exe!");

  host_.SetLabelCaption("Installation running...");
  host_.EnableTimer();
}

void TInstallForm::Timer1Timer() { host_.Terminate(); }

}  // namespace zipkit
