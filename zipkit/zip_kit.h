// TAbZipKit: the component an application places to work with one ZIP file. It keeps the
// archive settings as properties; assigning FileName opens (or creates) the file as a
// TAbZipArchive, copies the settings into it and wires the archive's callbacks to the
// component's handlers, which drive two optional progress meters and forward to the
// component's events (with the component as Sender).
//
// The chain, one concern per level: TAbBaseComponent (Version), TAbBaseBrowser (the archive,
// logging, folders, meters, common events), TAbCustomZipBrowser (passwords, disk requests,
// read-only opening), TAbCustomZipper (writing settings and events; opens read-write or
// creates), TAbCustomZipKit (extraction settings, events and hooks), TAbZipKit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/archive.h"
#include "archive/object.h"
#include "meter/meter.h"
#include "zip/zip_archive.h"

namespace zipkit {

using TNotifyEvent = std::function<void(TObject* Sender)>;

enum TOperation : uint8_t { opInsert, opRemove };

class TAbBaseComponent : public TObject {
 public:
  std::string Version() const { return "2.04"; }
  void SetVersion(const std::string&) {}  // read-only; never stored in a form

  // Called by the form loader once every stored property is assigned.
  virtual void Loaded() { Loading = false; }
  // Told when another component is inserted or removed.
  virtual void Notification(TObject* Component, TOperation Operation) {
    (void)Component;
    (void)Operation;
  }

  std::string Name;
  intptr_t Tag = 0;
  bool Designing = false;  // edited in a form designer
  bool Loading = false;    // properties are being read from a form
};

class TAbBaseBrowser : public TAbBaseComponent {
 public:
  TAbBaseBrowser();
  // Frees the archive without committing it.
  ~TAbBaseBrowser() override;

  // The handlers the archive's callbacks lead to.
  virtual void HandleItemProgress(TObject* Sender, TAbArchiveItem* Item, uint8_t Progress,
                                  bool& Abort);
  virtual void HandleArchiveProgress(TObject* Sender, uint8_t Progress, bool& Abort);
  virtual void NotifyChange();
  virtual void HandleConfirmItem(TObject* Sender, TAbArchiveItem* Item,
                                 TAbProcessType ProcessType, bool& Confirm);
  virtual void HandleLoaded(TObject* Sender);
  virtual void HandleItemFailure(TObject* Sender, TAbArchiveItem* Item,
                                 TAbProcessType ProcessType, TAbErrorClass ErrorClass,
                                 int32_t ErrorCode);
  // Copies the settings into the open archive and installs the callbacks.
  virtual void ConfigureArchive();

  const std::string& FileName() const { return FFileName; }
  // Closes the open archive (committing it), then opens or creates Value; "" only closes.
  virtual void SetFileName(const std::string& Value) = 0;
  // FileName := "" when a file is open.
  void CloseFile();
  // Resets the archive meter, then the item meter.
  void ClearMeters();

  void Loaded() override;
  // A removed meter is forgotten.
  void Notification(TObject* Component, TOperation Operation) override;

  // The archive of FileName, or none. Owned.
  TAbZipArchive* OpenedArchive() const { return FArchive.get(); }

  TAbMeter* ArchiveProgressMeter = nullptr;
  TAbMeter* ItemProgressMeter = nullptr;

  const std::string& BaseDirectory() const { return FBaseDirectory; }
  // With an archive open: its checking setter (EAbNoSuchDirectory keeps the old value), then
  // the archive's normalized value; without one: stored as given.
  void SetBaseDirectory(const std::string& Value);
  const std::string& LogFile() const { return FLogFile; }
  // Also Logging := (Value is not empty), outside the designer.
  void SetLogFile(const std::string& Value);
  bool Logging() const { return FLogging; }
  void SetLogging(bool Value);
  int32_t SpanningThreshold() const { return FSpanningThreshold; }
  void SetSpanningThreshold(int32_t Value);
  const std::string& TempDirectory() const { return FTempDirectory; }
  void SetTempDirectory(const std::string& Value);

  TAbArchiveProgressEvent OnArchiveProgress;
  TAbArchiveItemProgressEvent OnArchiveItemProgress;
  TNotifyEvent OnChange;
  TAbArchiveItemConfirmEvent OnConfirmProcessItem;
  TAbArchiveEvent OnLoad;
  TAbArchiveItemFailureEvent OnProcessItemFailure;
  const TAbRequestImageEvent& OnRequestImage() const { return FOnRequestImage; }
  void SetOnRequestImage(TAbRequestImageEvent Value);

 protected:
  std::unique_ptr<TAbZipArchive> FArchive;
  std::string FFileName;
  std::string FBaseDirectory;
  std::string FLogFile;
  bool FLogging = false;
  int32_t FSpanningThreshold = 0;
  std::string FTempDirectory;
  TAbRequestImageEvent FOnRequestImage;
};

class TAbCustomZipBrowser : public TAbBaseBrowser {
 public:
  // An existing file is opened read-only (others may read and write) and loaded; a missing
  // file leaves no archive open.
  void SetFileName(const std::string& Value) override;
  void ConfigureArchive() override;

  // The item of the open archive at Index (only meaningful while one is open).
  virtual TAbZipItem* ItemAtIndex(int32_t Index);
  // Does nothing here; the zipper sets the archive's comment.
  virtual void WriteArchiveComment(const std::string& Text);

  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value);
  const TAbRequestDiskEvent& OnRequestLastDisk() const { return FOnRequestLastDisk; }
  void SetOnRequestLastDisk(TAbRequestDiskEvent Value);
  const TAbRequestNthDiskEvent& OnRequestNthDisk() const { return FOnRequestNthDisk; }
  void SetOnRequestNthDisk(TAbRequestNthDiskEvent Value);

 protected:
  // Steps shared by the opening variants: close (committing, failures ignored), then open with
  // Mode when the file exists (loading it) or, with Create, create it.
  void Reopen(const std::string& Value, uint16_t Mode, bool Create);

  std::string FPassword;
  TAbRequestDiskEvent FOnRequestLastDisk;
  TAbRequestNthDiskEvent FOnRequestNthDisk;
};

class TAbCustomZipper : public TAbCustomZipBrowser {
 public:
  TAbCustomZipper();

  // An existing file is opened read-write (others denied writing) and loaded; a missing one is
  // created as an empty archive.
  void SetFileName(const std::string& Value) override;
  void ConfigureArchive() override;
  // EAbNoArchive without an open archive; else sets its comment.
  void WriteArchiveComment(const std::string& Text) override;
  virtual void HandleConfirmSave(TObject* Sender, bool& Confirm);
  virtual void HandleSaved(TObject* Sender);

  // ---- Changes (zip_kit_writer.cpp): the archive's operations, then OnChange. Without an open
  // archive each raises EAbNoArchive. ----
  void AddFiles(const std::string& FileMask, int32_t SearchAttr);
  void AddFilesEx(const std::string& FileMask, const std::string& ExclusionMask,
                  int32_t SearchAttr);
  void DeleteAt(int32_t Index);
  void DeleteFiles(const std::string& FileMask);
  void DeleteFilesEx(const std::string& FileMask, const std::string& ExclusionMask);
  void FreshenFiles(const std::string& FileMask);
  void FreshenFilesEx(const std::string& FileMask, const std::string& ExclusionMask);
  void Move(TAbArchiveItem* Item, const std::string& NewName);
  void Replace(TAbArchiveItem* Item);
  // Writes the changes now (the archive's Commit).
  void Save();

  bool AutoSave() const { return FAutoSave; }
  void SetAutoSave(bool Value);
  TAbZipSupportedMethod CompressionMethodToUse() const { return FCompressionMethodToUse; }
  void SetCompressionMethodToUse(TAbZipSupportedMethod Value);
  TAbZipDeflationOption DeflationOption() const { return FDeflationOption; }
  void SetDeflationOption(TAbZipDeflationOption Value);
  bool DOSMode() const { return FDOSMode; }
  void SetDOSMode(bool Value);
  TAbStoreOptions StoreOptions() const { return FStoreOptions; }
  void SetStoreOptions(TAbStoreOptions Value);

  TAbArchiveConfirmEvent OnConfirmSave;
  TAbArchiveEvent OnSave;
  const TAbRequestDiskEvent& OnRequestBlankDisk() const { return FOnRequestBlankDisk; }
  void SetOnRequestBlankDisk(TAbRequestDiskEvent Value);

 protected:
  TAbZipArchive& RequireArchive();
  // The archive's insert hooks lead to the compressor (zip_kit_writer.cpp).
  void InstallInsertHooks();

  bool FAutoSave = false;
  TAbZipSupportedMethod FCompressionMethodToUse = smBestMethod;
  TAbZipDeflationOption FDeflationOption = doNormal;
  bool FDOSMode = false;
  TAbStoreOptions FStoreOptions;
  TAbRequestDiskEvent FOnRequestBlankDisk;
};

class TAbCustomZipKit : public TAbCustomZipper {
 public:
  TAbCustomZipKit();

  void ConfigureArchive() override;
  virtual void HandleConfirmOverwrite(std::string& Name, bool& Confirm);
  virtual void HandleNeedPassword(TObject* Sender, std::string& NewPassword);

  // Extracts every entry matching Mask, in archive order; a failing entry is reported through
  // OnProcessItemFailure. EAbNoArchive without an open archive.
  void ExtractMatching(const std::string& Mask);

  TAbExtractOptions ExtractOptions() const { return FExtractOptions; }
  void SetExtractOptions(TAbExtractOptions Value);
  uint8_t PasswordRetries() const { return FPasswordRetries; }
  void SetPasswordRetries(uint8_t Value);

  TAbConfirmOverwriteEvent OnConfirmOverwrite;
  TAbNeedPasswordEvent OnNeedPassword;

 protected:
  TAbExtractOptions FExtractOptions;
  uint8_t FPasswordRetries = 3;
};

// Publishes the properties; nothing else.
class TAbZipKit : public TAbCustomZipKit {};

}  // namespace zipkit
