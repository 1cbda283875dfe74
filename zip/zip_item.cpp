#include "zip/zip_item.h"

#include "host/host.h"
#include "support/paths.h"

namespace zipkit {

namespace {

std::string_view UpToZero(const std::string& Bytes) {
  return std::string_view(Bytes).substr(0, Bytes.find('\0'));
}

std::string Cut16(const std::string& Bytes) { return Bytes.substr(0, 0xFFFF); }

// Printable ASCII is the same in every code page the host converts between.
bool IsPrintableAscii(std::string_view Bytes) {
  for (unsigned char c : Bytes)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

}  // namespace

TAbZipItem::TAbZipItem() : Decoder(nullptr, nullptr) {}

TAbZipItem::~TAbZipItem() = default;

std::string TAbZipItem::StoredName() const {
  const std::string_view bytes = UpToZero(DirectoryRecord.FileName);
  if (IsPrintableAscii(bytes)) return std::string(bytes);
  if (Flags() & kFlagUtf8Name) return host::Utf8ToAnsi(bytes);
  return host::OemToAnsi(bytes);
}

void TAbZipItem::DoSetStoredName(const std::string& Value) {
  DirectoryRecord.FileName = Cut16(Value);
  DirectoryRecord.FileNameLength = static_cast<uint16_t>(DirectoryRecord.FileName.size());
}

std::string TAbZipItem::ExtraData() const {
  return std::string(UpToZero(DirectoryRecord.ExtraField));
}

void TAbZipItem::SetExtraData(const std::string& Value) {
  DirectoryRecord.ExtraField = Cut16(Value);
  DirectoryRecord.ExtraFieldLength = static_cast<uint16_t>(DirectoryRecord.ExtraField.size());
}

void TAbZipItem::LoadFromDirectory(TStream& Stream) {
  DirectoryRecord.ReadFrom(Stream);
  std::string disk_name = StoredName();
  ToBackslashes(disk_name);
  DiskName = disk_name;
  PendingAction = iaUnchanged;
}

void TAbZipItem::WriteLocalHeader(TStream& Stream) {
  TAbZipLocalFileHeader header;
  header.VersionNeededToExtract = VersionNeeded();
  header.GeneralPurposeBitFlag = Flags();
  header.SetMethod(Method());
  header.LastModFileTime = FileTime();
  header.LastModFileDate = FileDate();
  header.CRC32 = Checksum();
  header.CompressedSize = PackedSize();
  header.UncompressedSize = UnpackedSize();
  const std::string name = StoredName();
  if (!name.empty()) header.SetFileName(name);
  const std::string extra = ExtraData();
  if (!extra.empty()) header.SetExtraField(extra);
  header.WriteTo(Stream);
}

void TAbZipItem::WriteDirectoryHeader(TStream& Stream) const { DirectoryRecord.WriteTo(Stream); }

void TAbZipItem::WriteDataDescriptor(TStream& Stream) {
  TAbZipDataDescriptor(Checksum(), PackedSize(), UnpackedSize()).WriteTo(Stream);
}

}  // namespace zipkit
