// The zipper's changing operations: each one hands over to the open archive (archive/archive.h
// says what it does) and then tells the component's OnChange handler. Without an open archive
// every one raises EAbNoArchive.
#include "compress/compress_item.h"
#include "host/host.h"
#include "support/errors.h"
#include "zipkit/zip_kit.h"

namespace zipkit {

void TAbCustomZipper::InstallInsertHooks() {
  if (!FArchive) return;
  FArchive->InsertHook = [](TAbZipArchive& Archive, TAbZipItem& Item, TStream& Target) {
    CompressFileToItem(Archive, Item, Target);
  };
  FArchive->InsertFromStreamHook = [](TAbZipArchive& Archive, TAbZipItem& Item, TStream& Target,
                                      TStream* Source) {
    if (!Source) throw EAbZipNoInsertion();
    CompressStreamToItem(Archive, Item, Target, *Source);
  };
}

TAbZipArchive& TAbCustomZipper::RequireArchive() {
  if (!FArchive) throw EAbNoArchive();
  return *FArchive;
}

void TAbCustomZipper::AddFiles(const std::string& FileMask, int32_t SearchAttr) {
  RequireArchive().AddFiles(FileMask, SearchAttr);
  NotifyChange();
}

void TAbCustomZipper::AddFilesEx(const std::string& FileMask, const std::string& ExclusionMask,
                                 int32_t SearchAttr) {
  RequireArchive().AddFilesEx(FileMask, ExclusionMask, SearchAttr);
  NotifyChange();
}

void TAbCustomZipper::DeleteAt(int32_t Index) {
  RequireArchive().DeleteAt(Index);
  NotifyChange();
}

void TAbCustomZipper::DeleteFiles(const std::string& FileMask) {
  RequireArchive().DeleteFiles(FileMask);
  NotifyChange();
}

void TAbCustomZipper::DeleteFilesEx(const std::string& FileMask,
                                    const std::string& ExclusionMask) {
  RequireArchive().DeleteFilesEx(FileMask, ExclusionMask);
  NotifyChange();
}

void TAbCustomZipper::FreshenFiles(const std::string& FileMask) {
  RequireArchive().FreshenFiles(FileMask);
  NotifyChange();
}

void TAbCustomZipper::FreshenFilesEx(const std::string& FileMask,
                                     const std::string& ExclusionMask) {
  RequireArchive().FreshenFilesEx(FileMask, ExclusionMask);
  NotifyChange();
}

void TAbCustomZipper::Move(TAbArchiveItem* Item, const std::string& NewName) {
  RequireArchive().MoveItem(Item, NewName);
  NotifyChange();
}

void TAbCustomZipper::Replace(TAbArchiveItem* Item) {
  RequireArchive().ReplaceByItem(Item);
  NotifyChange();
}

void TAbCustomZipper::Save() {
  RequireArchive().Commit();
  NotifyChange();
}

}  // namespace zipkit
