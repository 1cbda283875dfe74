#include "zip/zip_names.h"

#include "host/host.h"
#include "zip/zip_archive.h"

namespace zipkit {

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

// New names of renamed items are stored as those of new items, so that a ZIP item presents
// them unchanged.
void TAbZipArchive::StoreNewName(TAbArchiveItem* Item, const std::string& Name) {
  SetZipItemName(*static_cast<TAbZipItem*>(Item), Name);
}

}  // namespace zipkit
