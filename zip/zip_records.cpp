#include "zip/zip_records.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/errors.h"

namespace zipkit {

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Reads Length bytes of a variable part (at most 65535, so never a large allocation).
void ReadBytes(TStream& Stream, std::string& Bytes, uint16_t Length) {
  Bytes.assign(Length, '\0');
  Stream.ReadBuffer(Bytes.data(), Length);
}

// The bytes of Text up to its first zero byte, cut to what a 16-bit length can count.
std::string UpToZero(const std::string& Text) {
  std::string s = Text.substr(0, Text.find('\0'));
  if (s.size() > 0xFFFF) s.resize(0xFFFF);
  return s;
}

void WriteBytes(TStream& Stream, const std::string& Bytes, uint16_t Length) {
  // A length field that disagrees with its bytes writes what the field says, zero-padded, so
  // that the record stays readable.
  std::string out = Bytes.substr(0, Length);
  out.resize(Length, '\0');
  Stream.WriteBuffer(out.data(), Length);
}

}  // namespace

// ---- TAbZipFileHeader ----

uint8_t TAbZipFileHeader::ImplodeDictionary() const {
  if (Method() != 6) return 0;
  return (GeneralPurposeBitFlag & kFlagImplode8K) ? 2 : 1;
}

uint8_t TAbZipFileHeader::ImplodeTrees() const {
  if (Method() != 6) return 0;
  return (GeneralPurposeBitFlag & kFlagImplode3Trees) ? 3 : 2;
}

void TAbZipFileHeader::SetFileName(const std::string& Text) {
  FileName = UpToZero(Text);
  FileNameLength = static_cast<uint16_t>(FileName.size());
}

void TAbZipFileHeader::SetExtraField(const std::string& Text) {
  ExtraField = UpToZero(Text);
  ExtraFieldLength = static_cast<uint16_t>(ExtraField.size());
}

// ---- TAbZipLocalFileHeader ----

void TAbZipLocalFileHeader::ReadFrom(TStream& Stream) {
  uint8_t b[kLocalHeaderSize];
  Stream.ReadBuffer(b, kLocalHeaderSize);
  Signature = Get32(b);
  VersionNeededToExtract = Get16(b + 4);
  GeneralPurposeBitFlag = Get16(b + 6);
  CompressionMethod = Get16(b + 8);
  LastModFileTime = Get16(b + 10);
  LastModFileDate = Get16(b + 12);
  CRC32 = Get32(b + 14);
  CompressedSize = static_cast<int32_t>(Get32(b + 18));
  UncompressedSize = static_cast<int32_t>(Get32(b + 22));
  FileNameLength = Get16(b + 26);
  ExtraFieldLength = Get16(b + 28);
  ReadBytes(Stream, FileName, FileNameLength);
  ReadBytes(Stream, ExtraField, ExtraFieldLength);
  if (!HasValidSignature()) throw EAbZipInvalid();
}

void TAbZipLocalFileHeader::WriteTo(TStream& Stream) const {
  uint8_t b[kLocalHeaderSize];
  Put32(b, ExpectedSignature);
  Put16(b + 4, VersionNeededToExtract);
  Put16(b + 6, GeneralPurposeBitFlag);
  Put16(b + 8, CompressionMethod);
  Put16(b + 10, LastModFileTime);
  Put16(b + 12, LastModFileDate);
  Put32(b + 14, CRC32);
  Put32(b + 18, static_cast<uint32_t>(CompressedSize));
  Put32(b + 22, static_cast<uint32_t>(UncompressedSize));
  Put16(b + 26, FileNameLength);
  Put16(b + 28, ExtraFieldLength);
  Stream.WriteBuffer(b, kLocalHeaderSize);
  WriteBytes(Stream, FileName, FileNameLength);
  WriteBytes(Stream, ExtraField, ExtraFieldLength);
}

// ---- TAbZipDirectoryFileHeader ----

void TAbZipDirectoryFileHeader::ReadFrom(TStream& Stream) {
  uint8_t b[kDirectoryHeaderSize];
  Stream.ReadBuffer(b, kDirectoryHeaderSize);
  Signature = Get32(b);
  VersionMadeBy = Get16(b + 4);
  VersionNeededToExtract = Get16(b + 6);
  GeneralPurposeBitFlag = Get16(b + 8);
  CompressionMethod = Get16(b + 10);
  LastModFileTime = Get16(b + 12);
  LastModFileDate = Get16(b + 14);
  CRC32 = Get32(b + 16);
  CompressedSize = static_cast<int32_t>(Get32(b + 20));
  UncompressedSize = static_cast<int32_t>(Get32(b + 24));
  FileNameLength = Get16(b + 28);
  ExtraFieldLength = Get16(b + 30);
  FileCommentLength = Get16(b + 32);
  DiskNumberStart = Get16(b + 34);
  InternalFileAttributes = Get16(b + 36);
  ExternalFileAttributes = Get32(b + 38);
  RelativeOffset = static_cast<int32_t>(Get32(b + 42));
  ReadBytes(Stream, FileName, FileNameLength);
  ReadBytes(Stream, ExtraField, ExtraFieldLength);
  ReadBytes(Stream, FileComment, FileCommentLength);
  if (!HasValidSignature()) throw EAbZipInvalid();
}

void TAbZipDirectoryFileHeader::WriteTo(TStream& Stream) const {
  uint8_t b[kDirectoryHeaderSize];
  Put32(b, ExpectedSignature);
  Put16(b + 4, VersionMadeBy);
  Put16(b + 6, VersionNeededToExtract);
  Put16(b + 8, GeneralPurposeBitFlag);
  Put16(b + 10, CompressionMethod);
  Put16(b + 12, LastModFileTime);
  Put16(b + 14, LastModFileDate);
  Put32(b + 16, CRC32);
  Put32(b + 20, static_cast<uint32_t>(CompressedSize));
  Put32(b + 24, static_cast<uint32_t>(UncompressedSize));
  Put16(b + 28, FileNameLength);
  Put16(b + 30, ExtraFieldLength);
  Put16(b + 32, FileCommentLength);
  Put16(b + 34, DiskNumberStart);
  Put16(b + 36, InternalFileAttributes);
  Put32(b + 38, ExternalFileAttributes);
  Put32(b + 42, static_cast<uint32_t>(RelativeOffset));
  Stream.WriteBuffer(b, kDirectoryHeaderSize);
  WriteBytes(Stream, FileName, FileNameLength);
  WriteBytes(Stream, ExtraField, ExtraFieldLength);
  WriteBytes(Stream, FileComment, FileCommentLength);
}

// ---- TAbZipDirectoryFileFooter ----

void TAbZipDirectoryFileFooter::ReadFrom(TStream& Stream) {
  uint8_t b[kEndRecordSize];
  Stream.ReadBuffer(b, kEndRecordSize);
  Signature = Get32(b);
  DiskNumber = Get16(b + 4);
  StartDiskNumber = Get16(b + 6);
  EntriesOnDisk = Get16(b + 8);
  TotalEntries = Get16(b + 10);
  DirectorySize = static_cast<int32_t>(Get32(b + 12));
  DirectoryOffset = static_cast<int32_t>(Get32(b + 16));
  ZipfileCommentLength = Get16(b + 20);
  ReadBytes(Stream, ZipfileComment, ZipfileCommentLength);
  if (!HasValidSignature()) throw EAbZipInvalid();
}

void TAbZipDirectoryFileFooter::WriteTo(TStream& Stream) const {
  uint8_t b[kEndRecordSize];
  Put32(b, ExpectedSignature);
  Put16(b + 4, DiskNumber);
  Put16(b + 6, StartDiskNumber);
  Put16(b + 8, EntriesOnDisk);
  Put16(b + 10, TotalEntries);
  Put32(b + 12, static_cast<uint32_t>(DirectorySize));
  Put32(b + 16, static_cast<uint32_t>(DirectoryOffset));
  Put16(b + 20, ZipfileCommentLength);
  Stream.WriteBuffer(b, kEndRecordSize);
  WriteBytes(Stream, ZipfileComment, ZipfileCommentLength);
}

void TAbZipDirectoryFileFooter::SetZipfileComment(const std::string& Text) {
  ZipfileComment = UpToZero(Text);
  ZipfileCommentLength = static_cast<uint16_t>(ZipfileComment.size());
}

// ---- TAbZipDataDescriptor ----

void TAbZipDataDescriptor::WriteTo(TStream& Stream) const {
  uint8_t b[kDataDescriptorSize];
  Put32(b, CRC32);
  Put32(b + 4, static_cast<uint32_t>(CompressedSize));
  Put32(b + 8, static_cast<uint32_t>(UncompressedSize));
  Stream.WriteBuffer(b, kDataDescriptorSize);
}

// ---- LocateEndRecord ----
//
// The search steps back from the end of the stream 28 bytes at a time, each step looking at a
// window of 32 bytes (28 for the first), and takes the earliest signature of the first window
// that holds one. Scanning each position once, that is: find the last signature of the stream,
// then the earliest one in the same 28-byte step. The stream is read backwards in large blocks.

namespace {

constexpr int32_t kStep = 28;
constexpr int32_t kSearchBlock = 1 << 20;
constexpr uint8_t kEndSig[4] = {0x50, 0x4B, 0x05, 0x06};

// Reads [Start, Start + Count) into Buffer; returns the bytes read (fewer at a short read).
int32_t ReadAt(TStream& Stream, int32_t Start, uint8_t* Buffer, int32_t Count) {
  if (Stream.Seek(Start, soFromBeginning) != Start) return 0;
  int32_t got = 0;
  while (got < Count) {
    const int32_t n = Stream.Read(Buffer + got, Count - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

// Offset of the last signature that lies wholly within Data[0, Count), or -1. Candidates are
// found by their rarest byte, the last one (0x06).
int32_t LastSignature(const uint8_t* Data, int32_t Count) {
  int32_t last = -1;
  int32_t from = 3;
  while (from < Count) {
    const void* hit = std::memchr(Data + from, kEndSig[3], static_cast<size_t>(Count - from));
    if (hit == nullptr) break;
    const int32_t at = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - Data);
    if (std::memcmp(Data + at - 3, kEndSig, 4) == 0) last = at - 3;
    from = at + 1;
  }
  return last;
}

}  // namespace

int32_t LocateEndRecord(TStream& Stream) {
  const int32_t size = Stream.Size();
  if (size < 4) return -1;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(size, kSearchBlock + 3)));

  // The last signature of the stream: blocks from the end, each overlapping the next by three
  // bytes so that a signature across their border is seen.
  int32_t found = -1;
  int32_t end = size;
  while (found < 0 && end >= 4) {
    const int32_t start = std::max(0, end - kSearchBlock);
    const int32_t got = ReadAt(Stream, start, buffer.data(), end - start);
    const int32_t at = LastSignature(buffer.data(), got);
    if (at >= 0) found = start + at;
    if (start == 0) break;
    end = start + 3;
  }
  if (found < 0) return -1;

  // The earliest signature within the same step as the last one.
  const int32_t back = size - found;
  const int32_t step = back <= kStep ? 1 : (back + kStep - 1) / kStep;
  const int32_t low = std::max(0, size - kStep * step);
  if (low < found) {
    uint8_t window[kStep + 3];
    const int32_t got = ReadAt(Stream, low, window, found - low + 3);
    for (int32_t i = 0; i + 4 <= got; ++i) {
      if (std::memcmp(window + i, kEndSig, 4) == 0) {
        found = low + i;
        break;
      }
    }
  }
  Stream.Seek(found, soFromBeginning);
  return found;
}

}  // namespace zipkit
