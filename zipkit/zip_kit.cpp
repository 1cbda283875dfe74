#include "zipkit/zip_kit.h"

#include "host/host.h"
#include "unzip/extract.h"

namespace zipkit {

// ---- TAbBaseBrowser -----------------------------------------------------------------------

TAbBaseBrowser::TAbBaseBrowser() = default;

TAbBaseBrowser::~TAbBaseBrowser() = default;

void TAbBaseBrowser::HandleItemProgress(TObject*, TAbArchiveItem* Item, uint8_t Progress,
                                        bool& Abort) {
  Abort = false;
  if (ItemProgressMeter) ItemProgressMeter->ShowPercent(Progress);
  if (OnArchiveItemProgress) OnArchiveItemProgress(this, Item, Progress, Abort);
}

void TAbBaseBrowser::HandleArchiveProgress(TObject*, uint8_t Progress, bool& Abort) {
  Abort = false;
  if (ArchiveProgressMeter) ArchiveProgressMeter->ShowPercent(Progress);
  if (OnArchiveProgress) OnArchiveProgress(this, Progress, Abort);
}

void TAbBaseBrowser::NotifyChange() {
  if (OnChange) OnChange(this);
}

void TAbBaseBrowser::HandleConfirmItem(TObject*, TAbArchiveItem* Item,
                                       TAbProcessType ProcessType, bool& Confirm) {
  Confirm = true;
  if (ItemProgressMeter) ItemProgressMeter->ResetMeter();
  if (OnConfirmProcessItem) OnConfirmProcessItem(this, Item, ProcessType, Confirm);
}

void TAbBaseBrowser::HandleLoaded(TObject*) {
  if (OnLoad) OnLoad(this);
}

void TAbBaseBrowser::HandleItemFailure(TObject*, TAbArchiveItem* Item,
                                       TAbProcessType ProcessType, TAbErrorClass ErrorClass,
                                       int32_t ErrorCode) {
  if (OnProcessItemFailure) OnProcessItemFailure(this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbBaseBrowser::ConfigureArchive() {
  ClearMeters();
  TAbZipArchive* archive = FArchive.get();
  if (!archive) return;
  archive->SetSpanningThreshold(FSpanningThreshold);
  archive->LogFile = FLogFile;
  archive->SetLogging(FLogging);
  archive->TempDirectory = FTempDirectory;
  // Replaces the archive's default folder (the program's) with the component's.
  SetBaseDirectory(FBaseDirectory);
  archive->OnArchiveProgress = [this](TObject* Sender, uint8_t Progress, bool& Abort) {
    HandleArchiveProgress(Sender, Progress, Abort);
  };
  archive->OnArchiveItemProgress = [this](TObject* Sender, TAbArchiveItem* Item,
                                          uint8_t Progress, bool& Abort) {
    HandleItemProgress(Sender, Item, Progress, Abort);
  };
  archive->OnConfirmProcessItem = [this](TObject* Sender, TAbArchiveItem* Item,
                                         TAbProcessType ProcessType, bool& Confirm) {
    HandleConfirmItem(Sender, Item, ProcessType, Confirm);
  };
  archive->OnLoad = [this](TObject* Sender) { HandleLoaded(Sender); };
  archive->OnProcessItemFailure = [this](TObject* Sender, TAbArchiveItem* Item,
                                         TAbProcessType ProcessType, TAbErrorClass ErrorClass,
                                         int32_t ErrorCode) {
    HandleItemFailure(Sender, Item, ProcessType, ErrorClass, ErrorCode);
  };
  archive->OnRequestImage = FOnRequestImage;
}

void TAbBaseBrowser::CloseFile() {
  if (!FFileName.empty()) SetFileName("");
}

void TAbBaseBrowser::ClearMeters() {
  if (ArchiveProgressMeter) ArchiveProgressMeter->ResetMeter();
  if (ItemProgressMeter) ItemProgressMeter->ResetMeter();
}

void TAbBaseBrowser::Loaded() {
  TAbBaseComponent::Loaded();
  NotifyChange();
}

void TAbBaseBrowser::Notification(TObject* Component, TOperation Operation) {
  TAbBaseComponent::Notification(Component, Operation);
  if (Operation != opRemove) return;
  if (Component == ArchiveProgressMeter) ArchiveProgressMeter = nullptr;
  if (Component == ItemProgressMeter) ItemProgressMeter = nullptr;
}

void TAbBaseBrowser::SetBaseDirectory(const std::string& Value) {
  if (FArchive) {
    FArchive->SetBaseDirectory(Value);  // may raise; the old value stays then
    FBaseDirectory = FArchive->BaseDirectory();
  } else {
    FBaseDirectory = Value;
  }
}

void TAbBaseBrowser::SetLogFile(const std::string& Value) {
  FLogFile = Value;
  if (Designing) return;
  if (FArchive) FArchive->LogFile = Value;
  SetLogging(!Value.empty());
}

void TAbBaseBrowser::SetLogging(bool Value) {
  FLogging = Value;
  if (Designing) return;
  if (FArchive) FArchive->SetLogging(Value);
}

void TAbBaseBrowser::SetSpanningThreshold(int32_t Value) {
  FSpanningThreshold = Value;
  if (FArchive) FArchive->SetSpanningThreshold(Value);
}

void TAbBaseBrowser::SetTempDirectory(const std::string& Value) {
  FTempDirectory = Value;
  if (FArchive) FArchive->TempDirectory = Value;
}

void TAbBaseBrowser::SetOnRequestImage(TAbRequestImageEvent Value) {
  FOnRequestImage = std::move(Value);
  if (FArchive) FArchive->OnRequestImage = FOnRequestImage;
}

// ---- TAbCustomZipBrowser ------------------------------------------------------------------

void TAbCustomZipBrowser::Reopen(const std::string& Value, uint16_t Mode, bool Create) {
  FFileName = Value;
  if (Designing) return;
  if (FArchive) {
    // The old archive's changes are lost when they cannot be written.
    try {
      FArchive->Commit();
    } catch (...) {
    }
    FArchive.reset();
  }
  if (Value.empty()) {
    NotifyChange();
    return;
  }
  if (host::FileExists(Value)) {
    FArchive = std::make_unique<TAbZipArchive>(Value, Mode);
    ConfigureArchive();
    FArchive->LoadCatalog();  // a failed load leaves the archive attached
  } else if (Create) {
    FArchive = std::make_unique<TAbZipArchive>(Value, fmCreate);
    ConfigureArchive();
  }
  NotifyChange();
}

void TAbCustomZipBrowser::SetFileName(const std::string& Value) {
  Reopen(Value, fmOpenRead | fmShareDenyNone, false);
}

void TAbCustomZipBrowser::ConfigureArchive() {
  TAbBaseBrowser::ConfigureArchive();
  if (!FArchive) return;
  FArchive->Password = FPassword;
  FArchive->OnRequestLastDisk = FOnRequestLastDisk;
  FArchive->OnRequestNthDisk = FOnRequestNthDisk;
}

TAbZipItem* TAbCustomZipBrowser::ItemAtIndex(int32_t Index) {
  return FArchive ? FArchive->ZipItem(Index) : nullptr;
}

void TAbCustomZipBrowser::WriteArchiveComment(const std::string&) {}

void TAbCustomZipBrowser::SetPassword(const std::string& Value) {
  FPassword = Value;
  if (FArchive) FArchive->Password = Value;
}

void TAbCustomZipBrowser::SetOnRequestLastDisk(TAbRequestDiskEvent Value) {
  FOnRequestLastDisk = std::move(Value);
  if (FArchive) FArchive->OnRequestLastDisk = FOnRequestLastDisk;
}

void TAbCustomZipBrowser::SetOnRequestNthDisk(TAbRequestNthDiskEvent Value) {
  FOnRequestNthDisk = std::move(Value);
  if (FArchive) FArchive->OnRequestNthDisk = FOnRequestNthDisk;
}

// ---- TAbCustomZipper ----------------------------------------------------------------------

TAbCustomZipper::TAbCustomZipper() : FStoreOptions{soStripDrive, soRemoveDots} {}

void TAbCustomZipper::SetFileName(const std::string& Value) {
  Reopen(Value, fmOpenReadWrite | fmShareDenyWrite, true);
}

void TAbCustomZipper::ConfigureArchive() {
  TAbCustomZipBrowser::ConfigureArchive();
  if (!FArchive) return;
  FArchive->AutoSave = FAutoSave;
  FArchive->CompressionMethodToUse = FCompressionMethodToUse;
  FArchive->DeflationOption = FDeflationOption;
  FArchive->DOSMode = FDOSMode;
  FArchive->StoreOptions = FStoreOptions;
  FArchive->OnConfirmSave = [this](TObject* Sender, bool& Confirm) {
    HandleConfirmSave(Sender, Confirm);
  };
  FArchive->OnRequestBlankDisk = FOnRequestBlankDisk;
  FArchive->OnSave = [this](TObject* Sender) { HandleSaved(Sender); };
  InstallInsertHooks();
}

void TAbCustomZipper::WriteArchiveComment(const std::string& Text) {
  if (!FArchive) throw EAbNoArchive();
  FArchive->SetArchiveComment(Text);
}

void TAbCustomZipper::HandleConfirmSave(TObject*, bool& Confirm) {
  Confirm = true;
  if (OnConfirmSave) OnConfirmSave(this, Confirm);
}

void TAbCustomZipper::HandleSaved(TObject*) {
  if (OnSave) OnSave(this);
}

void TAbCustomZipper::SetAutoSave(bool Value) {
  FAutoSave = Value;
  if (FArchive) FArchive->AutoSave = Value;
}

void TAbCustomZipper::SetCompressionMethodToUse(TAbZipSupportedMethod Value) {
  FCompressionMethodToUse = Value;
  if (FArchive) FArchive->CompressionMethodToUse = Value;
}

void TAbCustomZipper::SetDeflationOption(TAbZipDeflationOption Value) {
  FDeflationOption = Value;
  if (FArchive) FArchive->DeflationOption = Value;
}

void TAbCustomZipper::SetDOSMode(bool Value) {
  FDOSMode = Value;
  if (FArchive) FArchive->DOSMode = Value;
}

void TAbCustomZipper::SetStoreOptions(TAbStoreOptions Value) {
  FStoreOptions = Value;
  if (FArchive) FArchive->StoreOptions = Value;
}

void TAbCustomZipper::SetOnRequestBlankDisk(TAbRequestDiskEvent Value) {
  FOnRequestBlankDisk = std::move(Value);
  if (FArchive) FArchive->OnRequestBlankDisk = FOnRequestBlankDisk;
}

// ---- TAbCustomZipKit ----------------------------------------------------------------------

TAbCustomZipKit::TAbCustomZipKit() : FExtractOptions{eoCreateDirs} {}

void TAbCustomZipKit::ConfigureArchive() {
  TAbCustomZipper::ConfigureArchive();
  if (!FArchive) return;
  FArchive->ExtractOptions = FExtractOptions;
  FArchive->PasswordRetries = FPasswordRetries;
  FArchive->OnConfirmOverwrite = [this](std::string& Name, bool& Confirm) {
    HandleConfirmOverwrite(Name, Confirm);
  };
  FArchive->OnNeedPassword = [this](TObject* Sender, std::string& NewPassword) {
    HandleNeedPassword(Sender, NewPassword);
  };
  FArchive->ExtractHook = [](TAbZipArchive& Archive, TAbZipItem& Item, const std::string& Name) {
    ExtractZipItemToFile(Archive, Item, Name);
  };
  FArchive->ExtractToStreamHook = [](TAbZipArchive& Archive, TAbZipItem& Item, TStream* Out) {
    ExtractZipItemToStream(Archive, Item, Out);
  };
  FArchive->VerifyHook = [](TAbZipArchive& Archive, TAbZipItem& Item) {
    VerifyZipItem(Archive, Item);
  };
}

void TAbCustomZipKit::HandleConfirmOverwrite(std::string& Name, bool& Confirm) {
  Confirm = true;
  if (OnConfirmOverwrite) OnConfirmOverwrite(Name, Confirm);
}

void TAbCustomZipKit::HandleNeedPassword(TObject*, std::string& NewPassword) {
  if (!OnNeedPassword) return;
  OnNeedPassword(this, NewPassword);
  FPassword = NewPassword;  // the archive's copy is not touched here
}

void TAbCustomZipKit::ExtractMatching(const std::string& Mask) {
  if (!FArchive) throw EAbNoArchive();
  FArchive->ExtractMatching(Mask);
}

void TAbCustomZipKit::SetExtractOptions(TAbExtractOptions Value) {
  FExtractOptions = Value;
  if (FArchive) FArchive->ExtractOptions = Value;
}

void TAbCustomZipKit::SetPasswordRetries(uint8_t Value) {
  FPasswordRetries = Value;
  if (FArchive) FArchive->PasswordRetries = Value;
}

}  // namespace zipkit
