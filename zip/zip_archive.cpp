#include "zip/zip_archive.h"

#include "host/host.h"
#include "support/errors.h"
#include "support/paths.h"
#include "zip/zip_names.h"

namespace zipkit {

TAbZipArchive::TAbZipArchive(const std::string& FileName, uint16_t Mode)
    : TAbArchive(FileName, Mode) {
  EndRecord = std::make_unique<TAbZipDirectoryFileFooter>();
  StoreOptions.Include(soStripDrive);
  TempDirectory.clear();
  SetSpanningThreshold(0);
}

TAbZipArchive::~TAbZipArchive() { EndRecord.reset(); }

// ---- Item access ----

TAbZipItem* TAbZipArchive::ZipItem(int32_t Index) const {
  return static_cast<TAbZipItem*>(Items.ItemAt(Index));
}

void TAbZipArchive::UnpackItemAt(int32_t Index, const std::string& OutName) {
  if (!ExtractHook) throw EAbZipNoExtraction();
  ExtractHook(*this, *ZipItem(Index), OutName);
}

void TAbZipArchive::UnpackItemToStreamAt(int32_t Index, TStream* OutStream) {
  if (!ExtractToStreamHook) throw EAbZipNoExtraction();
  ExtractToStreamHook(*this, *ZipItem(Index), OutStream);
}

void TAbZipArchive::VerifyItemAt(int32_t Index) {
  if (!VerifyHook) throw EAbZipNoExtraction();
  VerifyHook(*this, *ZipItem(Index));
}

void TAbZipArchive::InsertItem(TAbZipItem& Item, TStream& OutStream) {
  if (!InsertHook) throw EAbZipNoInsertion();
  InsertHook(*this, Item, OutStream);
}

void TAbZipArchive::InsertItemFromStream(TAbZipItem& Item, TStream& OutStream) {
  if (!InsertFromStreamHook) throw EAbZipNoInsertion();
  InsertFromStreamHook(*this, Item, OutStream, SourceStream);
}

// ---- New items and their names ----

std::unique_ptr<TAbArchiveItem> TAbZipArchive::MakeItem(const std::string& FileName) {
  auto item = std::make_unique<TAbZipItem>();
  item->SetMethod(8);
  item->SetFlags(0);
  item->SetPackedSize(0);
  item->SetChecksum(0);
  item->SetExtraData("");
  item->SetLocalHeaderOffset(0);
  // The disk name stays in the ANSI code page, as every other disk name of the engine: a name
  // the OEM code page cannot hold would not lead back to its file.
  item->DiskName = host::ExpandFileName(FileName);
  SetZipItemName(*item, NormalizeName(FileName));
  return item;
}

std::string TAbZipArchive::NormalizeName(const std::string& Name) {
  std::string name = Name;
  if (DOSMode) {
    const bool absolute =
        (name.size() >= 2 && name[1] == ':') || (!name.empty() && name[0] == '\\');
    if (!FBaseDirectory.empty() && !absolute) name = FBaseDirectory + "\\" + name;
    name = ShortPathName(name);
  }
  StoreOptions.Include(soStripDrive);
  DropDrive(name);
  if (!name.empty() && name[0] == '\\') name.erase(0, 1);
  if (StoreOptions.Contains(soStripPath)) name = NamePart(name);
  if (StoreOptions.Contains(soRemoveDots)) DropLeadingParents(name);
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

// ---- The comment ----

std::string TAbZipArchive::ArchiveComment() const {
  const std::string& c = EndRecord->ZipfileComment;
  return c.substr(0, c.find('\0'));
}

void TAbZipArchive::SetArchiveComment(const std::string& Value) {
  // A cleared comment also counts as a change, so that the next commit removes it.
  if (Value.empty() && EndRecord->ZipfileComment.empty()) return;
  EndRecord->SetZipfileComment(Value);
  Modified = true;
}

int32_t TAbZipArchive::FindEndRecord() { return Stream ? LocateEndRecord(*Stream) : -1; }

}  // namespace zipkit
