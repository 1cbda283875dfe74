// Changes of many entries at once: adding the files a mask finds, deleting, freshening and
// replacing the entries a mask selects. Each one goes through the single-entry operations, so
// confirmation, logging, failure reports and AutoSave work as they do for one entry.
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "host/exceptions.h"
#include "host/host.h"
#include "support/file_system.h"
#include "support/names.h"
#include "support/pad_lock.h"
#include "support/paths.h"

namespace zipkit {

namespace {

bool SamePath(const std::string& A, const std::string& B) {
#ifdef _WIN32
  return TAbArchiveList::SameName(A, B);
#else
  return A == B;
#endif
}

bool Selected(const TAbArchiveItem& Item, const std::string& Mask, const std::string& Exclude) {
  return Item.PendingAction != iaDelete && Item.MatchesMask(Mask) &&
         !(!Exclude.empty() && Item.MatchesMask(Exclude));
}

}  // namespace

void TAbArchive::AddFiles(const std::string& FileMask, int32_t SearchAttr) {
  AddFilesEx(FileMask, "", SearchAttr);
}

void TAbArchive::AddFilesEx(const std::string& FileMask, const std::string& ExclusionMask,
                            int32_t SearchAttr) {
  RequireOpen();
  const std::string self = host::ExpandFileName(ArchiveName);
  const bool folders = (SearchAttr & host::faDirectory) != 0 && !StoreOptions.Contains(soStripPath);
  // Items are made while BaseDirectory is current, so that relative names resolve against it;
  // they are added after the old folder is back, because AutoSave may write the archive, whose
  // name may be relative to it.
  std::vector<std::unique_ptr<TAbArchiveItem>> made;
  {
    TCurrentDirScope scope(FBaseDirectory);
    std::vector<std::string> names;
    CollectFiles(FileMask, SearchAttr, names, StoreOptions.Contains(soRecurse));
    for (std::string& name : names) {
      const std::string file_part = NamePart(name);
      if (file_part == "." || file_part == "..") continue;
      if (!ExclusionMask.empty() && NameMatchesMask(name, ExclusionMask)) continue;
      if (SamePath(host::ExpandFileName(name), self)) continue;
      const int32_t attr = host::FileGetAttr(name);
      if (attr != -1 && (attr & host::faDirectory) != 0) {
        if (!folders) continue;
        name += '\\';  // a folder entry: its stored name ends with "/"
      }
      made.push_back(MakeItem(name));
    }
  }
  for (auto& item : made) {
    // A file whose stored name the archive holds freshens or replaces that entry from itself:
    // with soStripPath or soRecurse its stored name alone would lead elsewhere.
    const bool freshen = StoreOptions.Contains(soFreshen);
    if ((freshen || StoreOptions.Contains(soReplace)) && Items.HasLiveName(item->StoredName())) {
      ChangeFromFile(Items.IndexOfName(item->StoredName()), item->DiskName,
                     freshen ? prFreshen : prReplace);
      continue;
    }
    AddItem(std::move(item));
  }
}

void TAbArchive::ChangeFromFile(int32_t Index, const std::string& DiskName,
                                TAbProcessType ProcessType) {
  RequireOpen();
  CommitBeforeItem(Items.ItemAt(Index));
  TAbArchiveItem* item = Items.ItemAt(Index);
  TWorkScope busy(*this);
  item->DiskName = DiskName;
  if (ProcessType == prFreshen) {
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
  }
  bool confirm = true;
  ConfirmItem(item, ProcessType, confirm);
  if (!confirm) return;
  item->PendingAction = ProcessType == prFreshen ? iaFreshen : iaReplace;
  Modified = true;
  if (AutoSave) Commit();
}

void TAbArchive::DeleteAt(int32_t Index) {
  RequireOpen();
  TAbArchiveItem* item = Items.ItemAt(Index);
  TWorkScope busy(*this);
  bool confirm = true;
  ConfirmItem(item, prDelete, confirm);
  if (!confirm) return;
  item->PendingAction = iaDelete;
  Modified = true;
  if (AutoSave) Commit();
}

void TAbArchive::DeleteItem(TAbArchiveItem* Item) {
  RequireOpen();
  const int32_t i = Items.IndexOf(Item);
  if (i != -1) DeleteAt(i);
}

void TAbArchive::DeleteFiles(const std::string& FileMask) { DeleteFilesEx(FileMask, ""); }

void TAbArchive::DeleteFilesEx(const std::string& FileMask, const std::string& ExclusionMask) {
  RequireOpen();
  // From the end: a commit (AutoSave) drops deleted items, which moves only later ones.
  for (int32_t i = ItemCount() - 1; i >= 0; --i) {
    if (i >= ItemCount()) continue;
    if (Selected(*Items.ItemAt(i), FileMask, ExclusionMask)) DeleteAt(i);
  }
}

void TAbArchive::FreshenFiles(const std::string& FileMask) { FreshenFilesEx(FileMask, ""); }

void TAbArchive::FreshenFilesEx(const std::string& FileMask, const std::string& ExclusionMask) {
  RequireOpen();
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (Selected(*Items.ItemAt(i), FileMask, ExclusionMask)) FreshenByIndex(i);
}

void TAbArchive::ReplaceFiles(const std::string& FileMask) { ReplaceFilesEx(FileMask, ""); }

void TAbArchive::ReplaceFilesEx(const std::string& FileMask, const std::string& ExclusionMask) {
  RequireOpen();
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (Selected(*Items.ItemAt(i), FileMask, ExclusionMask)) ReplaceByIndex(i);
}

}  // namespace zipkit
