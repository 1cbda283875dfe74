// The ZIP records the engine reads and writes: local file header, central directory file header,
// end of central directory record and data descriptor, and the search for the end record.
// Integers are little-endian on disk. In memory the 16-bit fields stay unsigned; sizes and
// offsets are signed 32-bit (a value of 2 GiB or more reads as negative). A record is read or
// written at the stream's position and leaves the stream on the byte after it.
#pragma once

#include <cstdint>
#include <string>

#include "host/stream.h"

namespace zipkit {

constexpr uint32_t LocalHeaderSignature = 0x04034B50;      // PK 03 04
constexpr uint32_t DirectoryHeaderSignature = 0x02014B50;  // PK 01 02
constexpr uint32_t EndRecordSignature = 0x06054B50;        // PK 05 06
constexpr uint32_t SpanSignature = 0x08074B50;             // PK 07 08: first volume of a set
constexpr uint32_t SingleSpanMarker = 0x30304B50;          // PK00: written for spanning, one volume

// General purpose bit flag, as far as the engine interprets it.
constexpr uint16_t kFlagEncrypted = 0x0001;       // traditional encryption
constexpr uint16_t kFlagImplode8K = 0x0002;       // method 6: 8 KB dictionary
constexpr uint16_t kFlagImplode3Trees = 0x0004;   // method 6: three Shannon-Fano trees
constexpr uint16_t kFlagDataDescriptor = 0x0008;  // CRC-32 and sizes follow the data
constexpr uint16_t kFlagUtf8Name = 0x0800;        // name (and comment) are UTF-8

// Fixed lengths of the records before their variable parts.
constexpr int32_t kLocalHeaderSize = 30;
constexpr int32_t kDirectoryHeaderSize = 46;
constexpr int32_t kEndRecordSize = 22;
constexpr int32_t kDataDescriptorSize = 12;

// What the two header records share.
class TAbZipFileHeader {
 public:
  explicit TAbZipFileHeader(uint32_t Expected) : ExpectedSignature(Expected) {}

  // Low byte of the method field; setting stores Value masked with 0x7F in the whole field.
  uint8_t Method() const { return static_cast<uint8_t>(CompressionMethod & 0xFF); }
  void SetMethod(uint8_t Value) { CompressionMethod = Value & 0x7F; }
  bool IsEncrypted() const { return (GeneralPurposeBitFlag & kFlagEncrypted) != 0; }
  // Method 6 only: 2 (8 KB) or 1 (4 KB); 0 for other methods.
  uint8_t ImplodeDictionary() const;
  // Method 6 only: 3 or 2 trees; 0 for other methods.
  uint8_t ImplodeTrees() const;
  bool HasValidSignature() const { return Signature == ExpectedSignature; }

  // Replace the name / extra field with Text up to its first zero byte; the length follows.
  void SetFileName(const std::string& Text);
  void SetExtraField(const std::string& Text);

  uint32_t ExpectedSignature;
  uint32_t Signature = 0;  // as read
  uint16_t VersionNeededToExtract = 0;
  uint16_t GeneralPurposeBitFlag = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModFileTime = 0;
  uint16_t LastModFileDate = 0;
  uint32_t CRC32 = 0;
  int32_t CompressedSize = 0;
  int32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  std::string FileName;    // raw bytes (OEM code page, or UTF-8 with kFlagUtf8Name)
  std::string ExtraField;  // raw bytes
};

class TAbZipLocalFileHeader : public TAbZipFileHeader {
 public:
  TAbZipLocalFileHeader() : TAbZipFileHeader(LocalHeaderSignature) {}
  // Reads 30 bytes, the name and the extra field; then EAbZipInvalid when the signature is
  // wrong. A record cut short raises EReadError.
  void ReadFrom(TStream& Stream);
  void WriteTo(TStream& Stream) const;
};

class TAbZipDirectoryFileHeader : public TAbZipFileHeader {
 public:
  TAbZipDirectoryFileHeader() : TAbZipFileHeader(DirectoryHeaderSignature) {}
  // Reads 46 bytes, the name, the extra field and the comment; then EAbZipInvalid when the
  // signature is wrong. A record cut short raises EReadError.
  void ReadFrom(TStream& Stream);
  void WriteTo(TStream& Stream) const;

  uint16_t VersionMadeBy = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalFileAttributes = 0;
  uint32_t ExternalFileAttributes = 0;
  int32_t RelativeOffset = 0;  // of the local header, within volume DiskNumberStart
  std::string FileComment;
};

// The end of central directory record.
class TAbZipDirectoryFileFooter {
 public:
  // Reads 22 bytes and the comment; then EAbZipInvalid when the signature is wrong.
  void ReadFrom(TStream& Stream);
  void WriteTo(TStream& Stream) const;
  bool HasValidSignature() const { return Signature == ExpectedSignature; }
  // Replace the comment with Text up to its first zero byte.
  void SetZipfileComment(const std::string& Text);

  const uint32_t ExpectedSignature = EndRecordSignature;
  uint32_t Signature = 0;        // as read
  uint16_t DiskNumber = 0;       // volume holding this record
  uint16_t StartDiskNumber = 0;  // volume on which the directory starts
  uint16_t EntriesOnDisk = 0;
  uint16_t TotalEntries = 0;
  int32_t DirectorySize = 0;
  int32_t DirectoryOffset = 0;  // within volume StartDiskNumber
  uint16_t ZipfileCommentLength = 0;
  std::string ZipfileComment;
};

class TAbZipDataDescriptor {
 public:
  TAbZipDataDescriptor(uint32_t Crc, int32_t Packed, int32_t Unpacked)
      : CRC32(Crc), CompressedSize(Packed), UncompressedSize(Unpacked) {}
  void WriteTo(TStream& Stream) const;

  uint32_t CRC32;
  int32_t CompressedSize;
  int32_t UncompressedSize;
};

// The position of the end record's signature, searched backwards from the end of the stream,
// or -1. On success the stream stands on the signature. Of several signatures the one nearest
// the end wins (more exactly: the last 28-byte step of the stream that holds one, and the
// earliest within it); the first bytes of the stream are examined too, so an end record at
// offset 0 is found.
int32_t LocateEndRecord(TStream& Stream);

}  // namespace zipkit
