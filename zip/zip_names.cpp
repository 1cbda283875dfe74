#include "zip/zip_names.h"

#include "host/host.h"
#include "support/errors.h"
#include "support/pad_lock.h"
#include "zip/zip_archive.h"

namespace zipkit {

namespace {

constexpr int32_t kDuplicateNameCode = 7;  // "Cannot insert file - duplicates stored name"

class TBusyScope {
 public:
  explicit TBusyScope(TAbArchive& Archive) : archive_(Archive) { archive_.BeginWork(); }
  ~TBusyScope() { archive_.EndWork(); }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

 private:
  TAbArchive& archive_;
};

}  // namespace

void SetZipItemName(TAbZipItem& Item, const std::string& AnsiName) {
  bool exact = true;
  std::string oem = host::AnsiToOem(AnsiName, &exact);
  if (exact) {
    Item.SetFlags(Item.Flags() & ~kFlagUtf8Name);
    Item.SetStoredName(oem);
  } else {
    Item.SetFlags(Item.Flags() | kFlagUtf8Name);
    Item.SetStoredName(host::AnsiToUtf8(AnsiName));
  }
}

// The archive core's rename, except that the new name is stored as SetZipItemName stores it
// (the core stores the text unconverted, which a ZIP item would present in another code page).
void TAbZipArchive::MoveItem(TAbArchiveItem* Item, const std::string& NewName) {
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
  TBusyScope busy(*this);
  bool confirm = true;
  ConfirmItem(Item, prMove, confirm);
  if (!confirm) return;
  SetZipItemName(*static_cast<TAbZipItem*>(Item), name);
  Item->PendingAction = iaMove;
  Modified = true;
  if (AutoSave) Commit();
}

}  // namespace zipkit
