#include "archive/archive.h"

#include <exception>
#include <vector>

#include "host/exceptions.h"
#include "host/host.h"
#include "support/file_system.h"
#include "support/numeric.h"
#include "support/pad_lock.h"
#include "support/paths.h"

namespace zipkit {

namespace {

constexpr int32_t kLogWordBase = 310;  // message ids 310..316: " added " .. " logging "
constexpr int32_t kLogKindLogging = 6;
constexpr int32_t kDuplicateNameCode = 7;  // "Cannot insert file - duplicates stored name"

}  // namespace

// ---- Life ----

TAbArchive::TAbArchive(const std::string& FileName, uint16_t Mode) {
  State = stClosed;
  Stream = std::make_unique<TFileStream>(FileName, Mode);
  OwnsStream = true;
  ArchiveName = FileName;
  CurrentItemProgress = [this](uint8_t Progress, bool& Abort) {
    ReportCurrentItemProgress(Progress, Abort);
  };
  Spanned = false;
  OpenMode = Mode;
  SetBaseDirectory(FolderPart(host::ModuleFileName()));
  Modified = false;
  AutoSave = false;
  Guard = std::make_unique<TAbPadLock>();
  StoreOptions = {};
  ExtractOptions = {};
  State = stReady;
}

TAbArchive::~TAbArchive() {
  // Empty the list first, so that freeing an item need not take it out of its chain.
  std::vector<TAbArchiveItem*> items;
  items.reserve(static_cast<size_t>(Items.ItemCount()));
  for (int32_t i = 0; i < Items.ItemCount(); ++i) items.push_back(Items.ItemAt(i));
  Items.Reset();
  for (auto it = items.rbegin(); it != items.rend(); ++it) delete *it;
  Guard.reset();
  if (!OwnsStream) static_cast<void>(Stream.release());
  Stream.reset();
  LogStream.reset();
}

// ---- Settings ----

void TAbArchive::SetBaseDirectory(const std::string& Value) {
  std::string v = Value;
  if (v.size() > 1 && v.back() == '\\' && v[v.size() - 2] != ':') v.pop_back();
  if (!v.empty() && !FolderExists(v)) throw EAbNoSuchDirectory();
  FBaseDirectory = v;
}

void TAbArchive::SetLogging(bool Value) {
  FLogging = Value;
  LogStream.reset();
  if (!Value || LogFile.empty()) return;
  try {
    LogStream = std::make_unique<TFileStream>(LogFile, fmCreate);
    WriteLogLine(ArchiveName, kLogKindLogging);
  } catch (const Exception&) {
    throw EAbBadStream();
  }
}

void TAbArchive::WriteLogLine(const std::string& Name, int32_t Kind) {
  if (!LogStream || Kind < 0 || Kind > kLogKindLogging) return;
  const std::string line =
      Name + EngineText(kLogWordBase + Kind) + host::LocalDateTimeText() + "\r\n";
  LogStream->WriteBuffer(line.data(), static_cast<int32_t>(line.size()));
}

// ---- The frame ----

void TAbArchive::RequireOpen() const {
  if (State == stClosed) throw EAbNoArchive();
}

void TAbArchive::BeginWork() {
  Guard->SetHeld(true);
  State = stBusy;
}

void TAbArchive::EndWork() {
  if (State == stBusy) State = stReady;
  Guard->SetHeld(false);
}

void TAbArchive::CommitBeforeItem(TAbArchiveItem* Item) {
  if (Item->PendingAction != iaUnchanged) Commit();
}

// ---- Reports ----

void TAbArchive::ReportItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                   TAbErrorClass ErrorClass, int32_t ErrorCode) {
  if (OnProcessItemFailure) OnProcessItemFailure(this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbArchive::ReportArchiveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveProgress) OnArchiveProgress(this, Progress, Abort);
}

void TAbArchive::ReportItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveItemProgress) OnArchiveItemProgress(this, Item, Progress, Abort);
}

void TAbArchive::ConfirmItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm) {
  Confirm = true;
  if (OnConfirmProcessItem) OnConfirmProcessItem(this, Item, ProcessType, Confirm);
  if (Confirm && FLogging) WriteLogLine(Item->StoredName(), ProcessType);
}

void TAbArchive::ConfirmSaving(bool& Confirm) {
  Confirm = true;
  if (OnConfirmSave) OnConfirmSave(this, Confirm);
}

void TAbArchive::ReportLoaded() {
  if (OnLoad) OnLoad(this);
}

void TAbArchive::ReportCurrentItemProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  ReportItemProgress(CurrentItem, Progress, Abort);
}

void TAbArchive::ReportSaved() {
  if (OnSave) OnSave(this);
}

// ---- Loading and saving ----

void TAbArchive::LoadCatalog() {
  TWorkScope frame(*this);
  try {
    ReadCatalog();
  } catch (...) {
    ReportLoaded();
    throw;
  }
  State = stReady;
  ReportLoaded();
}

void TAbArchive::Commit() {
  if (State == stClosed) return;
  if (!Modified && ItemCount() > 0) return;
  TWorkScope frame(*this);
  bool confirm = true;
  ConfirmSaving(confirm);
  if (!confirm) return;
  WriteArchive();
  Modified = false;
  ReportSaved();
}

// ---- Extraction ----

void TAbArchive::ExtractMatching(const std::string& Mask) { ExtractMatchingExcept(Mask, ""); }

void TAbArchive::ExtractMatchingExcept(const std::string& Mask, const std::string& ExcludeMask) {
  // BaseDirectory is already ANSI text: it is checked again, not converted again.
  SetBaseDirectory(FBaseDirectory);
  RequireOpen();
  if (ItemCount() == 0) return;
  const int32_t n = ItemCount();
  bool abort = false;
  for (int32_t i = 0; i < n; ++i) {
    const TAbArchiveItem* item = Items.ItemAt(i);
    if (item->MatchesMask(Mask) && !item->MatchesMask(ExcludeMask)) ExtractByIndex(i, "");
    ReportArchiveProgress(PercentOf(i + 1, ItemCount()), abort);
    if (abort) throw EAbUserAbort();
  }
  ReportArchiveProgress(100, abort);
}

void TAbArchive::ExtractByIndex(int32_t Index, const std::string& NewName) {
  RequireOpen();
  CommitBeforeItem(Items.ItemAt(Index));
  // A commit may have dropped items; take the item at Index afresh.
  TAbArchiveItem* item = Items.ItemAt(Index);
  TWorkScope frame(*this);
  bool confirm = true;
  ConfirmItem(item, prExtract, confirm);
  if (!confirm) return;
  const std::string name = NewName.empty() ? item->StoredName() : NewName;
  CurrentItem = item;
  try {
    UnpackItemAt(Index, name);
  } catch (const std::exception& e) {
    TAbErrorClass error_class = ecUnclassified;
    int32_t error_code = 0;
    ClassifyException(e, error_class, error_code);
    ReportItemFailure(item, prExtract, error_class, error_code);
  }
}

// ---- Changes ----

std::string TAbArchive::NormalizeName(const std::string& Name) {
  std::string name = Name;
  if (DOSMode) {
    const bool absolute =
        (name.size() >= 2 && name[1] == ':') || (!name.empty() && name[0] == '\\');
    if (!FBaseDirectory.empty() && !absolute) name = FBaseDirectory + "\\" + name;
    name = ShortPathName(name);
  }
  if (StoreOptions.Contains(soStripDrive)) DropDrive(name);
  if (!name.empty() && name[0] == '\\') name.erase(0, 1);
  if (StoreOptions.Contains(soStripPath)) name = NamePart(name);
  if (StoreOptions.Contains(soRemoveDots)) DropLeadingParents(name);
  return name;
}

void TAbArchive::AddItem(std::unique_ptr<TAbArchiveItem> Item) {
  RequireOpen();
  if (Items.HasLiveName(Item->StoredName())) {
    if (StoreOptions.Contains(soFreshen)) {
      FreshenByItem(Item.get());
    } else if (StoreOptions.Contains(soReplace)) {
      ReplaceByItem(Item.get());
    } else {
      ReportItemFailure(Item.get(), prAdd, ecArchiveFault, kDuplicateNameCode);
    }
    return;
  }
  bool confirm = true;
  ConfirmItem(Item.get(), prAdd, confirm);
  if (!confirm) return;
  TWorkScope frame(*this);
  Item->PendingAction = iaAdd;
  Items.Append(Item.get());
  static_cast<void>(Item.release());  // the archive owns it now
  Modified = true;
  if (AutoSave) Commit();
}

void TAbArchive::MoveItem(TAbArchiveItem* Item, const std::string& NewName) {
  RequireOpen();
  const std::string name = NormalizeName(NewName);
  if (Items.HasLiveName(name)) {
    ReportItemFailure(Item, prMove, ecArchiveFault, kDuplicateNameCode);
    return;
  }
  // An item marked for deletion is dropped by the commit below: nothing is left to rename.
  if (Item->PendingAction == iaDelete) {
    Commit();
    return;
  }
  CommitBeforeItem(Item);
  TWorkScope frame(*this);
  bool confirm = true;
  ConfirmItem(Item, prMove, confirm);
  if (!confirm) return;
  StoreNewName(Item, name);
  Item->PendingAction = iaMove;
  Modified = true;
  if (AutoSave) Commit();
}

int32_t TAbArchive::IndexOfItemName(const TAbArchiveItem* Item) const {
  return Items.IndexOfName(Item->StoredName());
}

void TAbArchive::FreshenByItem(TAbArchiveItem* Item) {
  RequireOpen();
  const int32_t i = IndexOfItemName(Item);
  if (i != -1) FreshenByIndex(i);
}

void TAbArchive::ReplaceByItem(TAbArchiveItem* Item) {
  RequireOpen();
  const int32_t i = IndexOfItemName(Item);
  if (i != -1) ReplaceByIndex(i);
}

void TAbArchive::FreshenByIndex(int32_t Index) {
  RequireOpen();
  CommitBeforeItem(Items.ItemAt(Index));
  TAbArchiveItem* item = Items.ItemAt(Index);
  TWorkScope frame(*this);
  ResolveDiskName(item);
  bool changed = false;
  try {
    changed = DiskFileChanged(item);
  } catch (const std::exception& e) {
    TAbErrorClass error_class = ecUnclassified;
    int32_t error_code = 0;
    ClassifyException(e, error_class, error_code);
    ReportItemFailure(item, prFreshen, error_class, error_code);
  }
  if (!changed) return;
  bool confirm = true;
  ConfirmItem(item, prFreshen, confirm);
  if (!confirm) return;
  item->PendingAction = iaFreshen;
  Modified = true;
  if (AutoSave) Commit();
}

void TAbArchive::ReplaceByIndex(int32_t Index) {
  RequireOpen();
  CommitBeforeItem(Items.ItemAt(Index));
  TAbArchiveItem* item = Items.ItemAt(Index);
  TWorkScope frame(*this);
  ResolveDiskName(item);
  bool confirm = true;
  ConfirmItem(item, prReplace, confirm);
  if (!confirm) return;
  item->PendingAction = iaReplace;
  Modified = true;
  if (AutoSave) Commit();
}

bool TAbArchive::DiskFileChanged(TAbArchiveItem* Item) {
  TCurrentDirScope dir(FBaseDirectory);
  int64_t stamp = -1;
  {
    TFileStream file(Item->DiskName, fmOpenRead | fmShareDenyWrite);
    stamp = host::FileAge(Item->DiskName);
  }
  const uint16_t date = static_cast<uint16_t>(static_cast<uint64_t>(stamp) >> 16);
  const uint16_t time = static_cast<uint16_t>(stamp & 0xFFFF);
  return !(stamp >= 0 && date == Item->FileDate() && time == Item->FileTime());
}

void TAbArchive::ResolveDiskName(TAbArchiveItem* Item) {
  const std::string stored = Item->StoredName();
  if (StoreOptions.Contains(soRecurse) && ClassifyPath(stored) == pkBareName) {
    std::vector<std::string> files;
    {
      TCurrentDirScope dir(FBaseDirectory);
      CollectFiles(stored, 0x2F, files, true);
    }
    std::string name;
    if (!files.empty()) {
      name = files.front();
      ToBackslashes(name);
      if (!FBaseDirectory.empty()) name = FBaseDirectory + "\\" + name;
    }
    Item->DiskName = name;
    return;
  }
  std::string name = FBaseDirectory.empty() ? stored : FBaseDirectory + "\\" + stored;
  ToBackslashes(name);
  Item->DiskName = name;
}

}  // namespace zipkit
