// TAbArchive: the archive independent of its format. It owns the data stream, the item list and
// the log, keeps state, settings and events, and runs every per-item operation in one frame:
// require open, lock, confirm (which writes the log line), work, report a failure, unlock.
// A format implements the six abstract operations (ZIP: zip/zip_archive.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/abset.h"
#include "archive/archive_item.h"
#include "archive/object.h"
#include "host/stream.h"
#include "support/errors.h"

namespace zipkit {

class TAbPadLock;

enum TAbProcessType : uint8_t {
  prAdd = 0,
  prDelete = 1,
  prExtract = 2,
  prFreshen = 3,
  prMove = 4,
  prReplace = 5,
};

enum TAbArchiveState : uint8_t {
  stClosed = 0,  // no usable archive: guarded operations raise EAbNoArchive
  stReady = 1,
  stBusy = 2,  // an operation is running
};

enum TAbStoreOption : uint8_t {
  soStripDrive = 0,
  soStripPath = 1,
  soRemoveDots = 2,
  soRecurse = 3,
  soFreshen = 4,
  soReplace = 5,
};
using TAbStoreOptions = TAbSet<TAbStoreOption>;

enum TAbExtractOption : uint8_t {
  eoCreateDirs = 0,
  eoRestorePath = 1,
};
using TAbExtractOptions = TAbSet<TAbExtractOption>;

// Events. "Assigned" means a non-empty function; Sender is the archive (or the component that
// forwards the event). Parameters passed by reference may be changed by the handler.
using TAbArchiveItemFailureEvent =
    std::function<void(TObject* Sender, TAbArchiveItem* Item, TAbProcessType ProcessType,
                       TAbErrorClass ErrorClass, int32_t ErrorCode)>;
using TAbArchiveProgressEvent = std::function<void(TObject* Sender, uint8_t Progress, bool& Abort)>;
using TAbArchiveItemProgressEvent =
    std::function<void(TObject* Sender, TAbArchiveItem* Item, uint8_t Progress, bool& Abort)>;
using TAbArchiveItemConfirmEvent = std::function<void(TObject* Sender, TAbArchiveItem* Item,
                                                      TAbProcessType ProcessType, bool& Confirm)>;
using TAbConfirmOverwriteEvent = std::function<void(std::string& Name, bool& Confirm)>;
using TAbArchiveConfirmEvent = std::function<void(TObject* Sender, bool& Confirm)>;
using TAbArchiveEvent = std::function<void(TObject* Sender)>;
using TAbRequestImageEvent =
    std::function<void(TObject* Sender, int32_t ImageNumber, std::string& ImageName, bool& Abort)>;
// The item progress callback the decoders report through (CurrentItemProgress).
using TAbProgressCallback = std::function<void(uint8_t Progress, bool& Abort)>;

class TAbArchive : public TObject {
 public:
  // Opens FileName with the file-stream Mode (fmCreate creates or truncates) and prepares an
  // empty, ready archive; the directory is read by LoadCatalog. A file that cannot be opened
  // raises the host's EFOpenError / EFCreateError.
  TAbArchive(const std::string& FileName, uint16_t Mode);
  // Frees the items, the list, the lock, the stream and the log; never commits.
  ~TAbArchive() override;

  // ---- The format's operations ----
  // A new item of the format's class for a disk file that is to be added.
  virtual std::unique_ptr<TAbArchiveItem> MakeItem(const std::string& FileName) = 0;
  // Extract the item at Index into the file OutName.
  virtual void UnpackItemAt(int32_t Index, const std::string& OutName) = 0;
  // Extract the item at Index into a stream (none raises EAbBadStream in the driver).
  virtual void UnpackItemToStreamAt(int32_t Index, TStream* OutStream) = 0;
  // Read the directory from Stream and append its items with PendingAction iaUnchanged.
  virtual void ReadCatalog() = 0;
  // Write the archive anew, applying every item's PendingAction.
  virtual void WriteArchive() = 0;
  // Test the item at Index.
  virtual void VerifyItemAt(int32_t Index) = 0;

  // ---- Reports and confirmations; each fires its event when assigned ----
  virtual void ReportItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                 TAbErrorClass ErrorClass, int32_t ErrorCode);
  virtual void ReportArchiveProgress(uint8_t Progress, bool& Abort);
  virtual void ReportItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort);
  // Also writes the log line of ProcessType when confirmed and logging.
  virtual void ConfirmItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm);
  virtual void ConfirmSaving(bool& Confirm);
  virtual void ReportLoaded();
  // Item progress of CurrentItem; CurrentItemProgress leads here.
  virtual void ReportCurrentItemProgress(uint8_t Progress, bool& Abort);
  virtual void ReportSaved();

  // The name under which a new entry is stored.
  virtual std::string NormalizeName(const std::string& Name);
  virtual int32_t SpanningThreshold() const { return FSpanningThreshold; }
  virtual void SetSpanningThreshold(int32_t Value) { FSpanningThreshold = Value; }

  // ---- Operations ----
  // Adds an item (made by MakeItem). The archive keeps it when it is appended; in every other
  // branch (duplicate refused, freshen or replace of the existing entry, not confirmed) it is
  // freed before AddItem returns.
  virtual void AddItem(std::unique_ptr<TAbArchiveItem> Item);
  // Reads the directory: ReadCatalog under the lock; OnLoad fires also when it fails.
  virtual void LoadCatalog();
  // Renames an item (stored at the next save).
  virtual void MoveItem(TAbArchiveItem* Item, const std::string& NewName);
  // Writes the archive when it was modified or holds no items.
  virtual void Commit();

  void ExtractMatching(const std::string& Mask);
  // Extracts, in archive order, every item matching Mask and not ExcludeMask. A failing item is
  // reported through OnProcessItemFailure and the loop goes on.
  void ExtractMatchingExcept(const std::string& Mask, const std::string& ExcludeMask);
  // Extracts one item; an empty NewName means the item's stored name.
  void ExtractByIndex(int32_t Index, const std::string& NewName);

  void FreshenByItem(TAbArchiveItem* Item);
  void FreshenByIndex(int32_t Index);
  void ReplaceByItem(TAbArchiveItem* Item);
  void ReplaceByIndex(int32_t Index);
  int32_t IndexOfItemName(const TAbArchiveItem* Item) const;

  int32_t ItemCount() const { return Items.ItemCount(); }

  // ---- Changes of many entries at once (archive_changes.cpp) ----
  // Adds every file matching FileMask whose attributes are within SearchAttr (host::faAnyFile
  // and the like; with faDirectory also folders, as folder entries "name/"). Relative masks are
  // taken from BaseDirectory, subfolders too with soRecurse; names matching ExclusionMask and the
  // archive's own file are skipped. Each file goes through MakeItem and AddItem.
  void AddFiles(const std::string& FileMask, int32_t SearchAttr);
  void AddFilesEx(const std::string& FileMask, const std::string& ExclusionMask,
                  int32_t SearchAttr);
  // Marks an item iaDelete after confirmation (prDelete); it is dropped at the next save.
  void DeleteAt(int32_t Index);
  void DeleteItem(TAbArchiveItem* Item);
  // DeleteAt for every item matching FileMask and not ExclusionMask.
  void DeleteFiles(const std::string& FileMask);
  void DeleteFilesEx(const std::string& FileMask, const std::string& ExclusionMask);
  // FreshenByIndex / ReplaceByIndex for every item matching FileMask and not ExclusionMask.
  void FreshenFiles(const std::string& FileMask);
  void FreshenFilesEx(const std::string& FileMask, const std::string& ExclusionMask);
  void ReplaceFiles(const std::string& FileMask);
  void ReplaceFilesEx(const std::string& FileMask, const std::string& ExclusionMask);

  // ---- Settings with checks ----
  const std::string& BaseDirectory() const { return FBaseDirectory; }
  // Drops one trailing "\" (except from "\" and "C:\"); a folder that does not exist or holds
  // wildcards raises EAbNoSuchDirectory and keeps the old value; "" is always accepted.
  void SetBaseDirectory(const std::string& Value);
  bool Logging() const { return FLogging; }
  // Closes the log; switching on with a LogFile creates it anew and writes its first line.
  // A log that cannot be created or written raises EAbBadStream.
  void SetLogging(bool Value);

  // ---- State and plain settings ----
  std::string ArchiveName;
  bool AutoSave = false;
  TAbArchiveItem* CurrentItem = nullptr;  // the item being extracted
  bool DOSMode = false;
  TAbExtractOptions ExtractOptions;
  TStream* SourceStream = nullptr;  // data of iaAddFromStream items (never set here)
  bool Modified = false;
  TAbArchiveList Items;
  std::string LogFile;
  std::unique_ptr<TFileStream> LogStream;
  uint16_t OpenMode = 0;
  bool OwnsStream = true;
  std::unique_ptr<TAbPadLock> Guard;
  bool Spanned = false;
  TAbArchiveState State = stClosed;
  TAbStoreOptions StoreOptions;
  // The archive data. Always reached through this slot: a change of volume of a spanned set
  // frees the old stream and stores the new one here.
  std::unique_ptr<TStream> Stream;
  std::string TempDirectory;

  TAbArchiveItemFailureEvent OnProcessItemFailure;
  TAbArchiveProgressEvent OnArchiveProgress;
  TAbArchiveItemProgressEvent OnArchiveItemProgress;
  TAbArchiveItemConfirmEvent OnConfirmProcessItem;
  TAbConfirmOverwriteEvent OnConfirmOverwrite;  // fired by the extraction driver
  TAbArchiveConfirmEvent OnConfirmSave;
  TAbArchiveEvent OnLoad;
  TAbProgressCallback CurrentItemProgress;  // preset to ReportCurrentItemProgress
  TAbRequestImageEvent OnRequestImage;      // used by spanned sets
  TAbArchiveEvent OnSave;

  // ---- The frame of every operation ----
  // EAbNoArchive when the archive is closed.
  void RequireOpen() const;
  // Takes the lock and marks the archive busy / returns it to ready (a close during the
  // operation stays) and releases the lock.
  void BeginWork();
  void EndWork();
  // BeginWork for the lifetime of the object, EndWork however the operation is left.
  class TWorkScope {
   public:
    explicit TWorkScope(TAbArchive& Archive) : archive_(Archive) { archive_.BeginWork(); }
    ~TWorkScope() { archive_.EndWork(); }
    TWorkScope(const TWorkScope&) = delete;
    TWorkScope& operator=(const TWorkScope&) = delete;

   private:
    TAbArchive& archive_;
  };
  // Commits first when the item has a pending change.
  void CommitBeforeItem(TAbArchiveItem* Item);
  // One log line: Name, the word of Kind (0..6), the local date-time, CR LF.
  void WriteLogLine(const std::string& Name, int32_t Kind);

 protected:
  // How MoveItem stores a new name in an item: as it is here; a format may encode it.
  virtual void StoreNewName(TAbArchiveItem* Item, const std::string& Name) {
    Item->SetStoredName(Name);
  }
  // Freshens (prFreshen) or replaces (prReplace) the item at Index from the file DiskName,
  // which AddFiles found, rather than from the file its stored name leads to.
  void ChangeFromFile(int32_t Index, const std::string& DiskName, TAbProcessType ProcessType);
  // Finds the item's disk file (soRecurse searches BaseDirectory and its subfolders).
  void ResolveDiskName(TAbArchiveItem* Item);
  // Whether the disk file's date-time differs from the item's.
  bool DiskFileChanged(TAbArchiveItem* Item);

  std::string FBaseDirectory;
  bool FLogging = false;
  int32_t FSpanningThreshold = 0;
};

}  // namespace zipkit
