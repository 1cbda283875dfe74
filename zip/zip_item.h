// TAbZipItem: one entry of a ZIP archive's central directory. Every ZIP value of the item lives
// in its DirectoryRecord; the archive item's properties present that record. Names are stored
// as OEM bytes (UTF-8 when flag bit 11 is set) and presented in the ANSI code page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/archive_item.h"
#include "host/stream.h"
#include "zip/zip_records.h"

namespace zipkit {

class TAbZDecoder;
// The item owns its decoder; whoever attaches one (the extraction driver) supplies its deleter,
// so that this layer needs no complete type.
using TAbZDecoderPtr = std::unique_ptr<TAbZDecoder, void (*)(TAbZDecoder*)>;

class TAbZipItem : public TAbArchiveItem {
 public:
  TAbZipItem();
  ~TAbZipItem() override;

  int32_t PackedSize() const override { return DirectoryRecord.CompressedSize; }
  uint32_t Checksum() const override { return DirectoryRecord.CRC32; }
  uint32_t Attributes() const override { return DirectoryRecord.ExternalFileAttributes; }
  // The name bytes up to the first zero byte, converted to ANSI (from UTF-8 when flag bit 11
  // is set, otherwise from the OEM code page).
  std::string StoredName() const override;
  bool Encrypted() const override { return DirectoryRecord.IsEncrypted(); }
  uint16_t FileDate() const override { return DirectoryRecord.LastModFileDate; }
  uint16_t FileTime() const override { return DirectoryRecord.LastModFileTime; }
  int32_t UnpackedSize() const override { return DirectoryRecord.UncompressedSize; }

  void SetPackedSize(int32_t Value) override { DirectoryRecord.CompressedSize = Value; }
  void SetChecksum(uint32_t Value) override { DirectoryRecord.CRC32 = Value; }
  void SetAttributes(uint32_t Value) override { DirectoryRecord.ExternalFileAttributes = Value; }
  // SetEncrypted is not overridden: encryption is set through Flags.
  void SetFileDate(uint16_t Value) override { DirectoryRecord.LastModFileDate = Value; }
  void SetFileTime(uint16_t Value) override { DirectoryRecord.LastModFileTime = Value; }
  void SetUnpackedSize(int32_t Value) override { DirectoryRecord.UncompressedSize = Value; }

  // ZIP properties, read from and written to DirectoryRecord.
  uint8_t Method() const { return DirectoryRecord.Method(); }
  void SetMethod(uint8_t Value) { DirectoryRecord.SetMethod(Value); }
  uint8_t ImplodeDictionary() const { return DirectoryRecord.ImplodeDictionary(); }
  uint8_t ImplodeTrees() const { return DirectoryRecord.ImplodeTrees(); }
  uint16_t Flags() const { return DirectoryRecord.GeneralPurposeBitFlag; }
  void SetFlags(uint16_t Value) { DirectoryRecord.GeneralPurposeBitFlag = Value; }
  uint16_t VersionNeeded() const { return DirectoryRecord.VersionNeededToExtract; }
  void SetVersionNeeded(uint16_t Value) { DirectoryRecord.VersionNeededToExtract = Value; }
  uint16_t MadeByVersion() const { return DirectoryRecord.VersionMadeBy; }
  void SetMadeByVersion(uint16_t Value) { DirectoryRecord.VersionMadeBy = Value; }
  uint16_t StartDisk() const { return DirectoryRecord.DiskNumberStart; }
  void SetStartDisk(uint16_t Value) { DirectoryRecord.DiskNumberStart = Value; }
  uint16_t InternalAttributes() const { return DirectoryRecord.InternalFileAttributes; }
  void SetInternalAttributes(uint16_t Value) { DirectoryRecord.InternalFileAttributes = Value; }
  int32_t LocalHeaderOffset() const { return DirectoryRecord.RelativeOffset; }
  void SetLocalHeaderOffset(int32_t Value) { DirectoryRecord.RelativeOffset = Value; }
  // The extra field's bytes up to the first zero byte.
  std::string ExtraData() const;
  // Replaces the extra field with Value's bytes; "" leaves none.
  void SetExtraData(const std::string& Value);

  // Reads the central directory record at the stream's position; DiskName becomes the
  // presented name with "\" between folders. Raises what the record's ReadFrom raises.
  void LoadFromDirectory(TStream& Stream);
  // A local header built from the item's properties (presented name, ExtraData).
  void WriteLocalHeader(TStream& Stream);
  void WriteDirectoryHeader(TStream& Stream) const;
  // Checksum, PackedSize, UnpackedSize.
  void WriteDataDescriptor(TStream& Stream);

  TAbZipDirectoryFileHeader DirectoryRecord;
  TAbZDecoderPtr Decoder;  // decryption state attached by the extraction driver, or none

 protected:
  // Stores Value unconverted as the record's name bytes.
  void DoSetStoredName(const std::string& Value) override;
};

}  // namespace zipkit
