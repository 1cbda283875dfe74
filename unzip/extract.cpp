#include "unzip/extract.h"

#include <algorithm>
#include <memory>

#include "host/host.h"
#include "support/bit_bucket.h"
#include "support/errors.h"
#include "support/file_system.h"
#include "support/paths.h"
#include "unzip/unzip_helper.h"
#include "unzip/zdecoder.h"
#include "zip/zip_archive.h"
#include "zip/zip_item.h"

namespace zipkit {

namespace {

constexpr uint8_t kNewestVersion = 20;
// The most a ZIP method expands (deflate: 258 bytes from two bits and a bit more). A memory
// target is sized in advance only for a size that the packed data can honestly give (stored
// data gives itself), and never by more than kMaxHeadStart, so that a lying header cannot make
// it allocate gigabytes: beyond that it grows with the output that really arrives.
constexpr int64_t kMaxExpansion = 1032;
constexpr int64_t kMaxHeadStart = 64 << 20;
constexpr uint16_t kHostUnix = 3;
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixSymlink = 0120000;

bool IsFileStream(const TStream* S) { return dynamic_cast<const TFileStream*>(S) != nullptr; }

// Makes the archive's stream hold `Disk` of a spanned set.
void OpenVolume(TAbZipArchive& Archive, uint16_t Disk) {
  // After a failed change the archive holds no stream; opening the volume anew is fine then.
  if (Archive.Stream && !IsFileStream(Archive.Stream.get())) throw EAbZipBadSpanStream();
  Archive.OpenSpannedVolume(Disk);
}

void ChangeToItemVolume(TAbZipArchive& Archive, const TAbZipItem& Item) {
  if (!Archive.Spanned) {
    if (!Archive.Stream) throw EAbReadError();
    return;
  }
  if (Item.StartDisk() == Archive.CurrentDisk && Archive.Stream) return;
  Archive.CurrentDisk = Item.StartDisk();
  OpenVolume(Archive, Item.StartDisk());
}

// Reads the local header of Item; the stream is left on the first byte of its data.
void ReadLocalHeader(TAbZipArchive& Archive, const TAbZipItem& Item,
                     TAbZipLocalFileHeader& Header) {
  TStream& in = *Archive.Stream;
  if (in.Seek(Item.LocalHeaderOffset(), soFromBeginning) != Item.LocalHeaderOffset())
    throw EAbReadError();
  Header.ReadFrom(in);
}

void DeleteDecoder(TAbZDecoder* D) { delete D; }

}  // namespace

std::string SafeRelativePath(const std::string& Name) {
  std::string path = Name;
  ToBackslashes(path);
  // A drive letter ("C:" or "C:\").
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
    path.erase(0, 2);
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    start = end + 1;
    // "", "." and "..", and on Windows also any part of dots and blanks only (the file system
    // trims trailing dots and blanks, so "... " would be "..").
    if (part.find_first_not_of(". ") == std::string::npos) continue;
    // A colon inside a part would name a drive or a stream on Windows.
    for (char& c : part)
      if (c == ':') c = '_';
    if (!out.empty()) out += '\\';
    out += part;
  }
  // A folder entry keeps its trailing separator, so that it still names a folder.
  if (!out.empty() && !path.empty() && path.back() == '\\') out += '\\';
  return out;
}

void ExtractZipItemToStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream* OutStream) {
  if (OutStream == nullptr) throw EAbBadStream();
  if ((Item.VersionNeeded() & 0xFF) > kNewestVersion) throw EAbZipVersion();
  ChangeToItemVolume(Archive, Item);

  TAbZipLocalFileHeader header;
  ReadLocalHeader(Archive, Item, header);

  auto* memory = dynamic_cast<TMemoryStream*>(OutStream);
  bool sized_ahead = false;
  if (memory) {
    // The packed bytes that can really be there: at most what the archive holds behind the
    // header (a spanned item may hold less; sizing is only a head start).
    TStream& in = *Archive.Stream;
    const int64_t available = std::max(in.Size() - in.Position(), 0);
    const int64_t packed = std::min<int64_t>(std::max(Item.PackedSize(), 0), available);
    const int64_t honest = Item.Method() == 0 ? packed : kMaxExpansion * packed + 65536;
    if (Item.UnpackedSize() >= 0 && Item.UnpackedSize() <= std::min(honest, kMaxHeadStart)) {
      memory->SetSize(Item.UnpackedSize());
      sized_ahead = true;
    }
  }

  TAbZDecoder* decoder = nullptr;
  if (Item.Encrypted()) {
    Item.Decoder = TAbZDecoderPtr(
        new TAbZDecoder(Archive.Password, Archive.Stream, Item.Checksum(), true), DeleteDecoder);
    decoder = Item.Decoder.get();
    decoder->NeedPassword = Archive.OnNeedPassword;
    decoder->Password = Archive.Password;
    decoder->Retries = Archive.PasswordRetries;
    // Streaming encoders know no CRC-32 before the data and check against the file time.
    if (Item.Flags() & kFlagDataDescriptor) decoder->SetTimeCheck(Item.FileTime());
  }

  TAbUnzipHelper helper(Archive.Stream, decoder, *OutStream);
  if (decoder) {
    helper.CheckHeader = [decoder] { decoder->CheckHeader(); };
    helper.DecryptBuffer = [decoder](uint8_t* Buffer, int32_t Count) {
      decoder->DecryptBuffer(Buffer, Count);
    };
  }
  helper.OpenSpannedVolume = [&Archive](uint16_t Disk) { OpenVolume(Archive, Disk); };
  helper.Dictionary = Item.ImplodeDictionary();
  helper.PackedBytes = Item.PackedSize();
  helper.ExpectedSize = Item.UnpackedSize();
  helper.Method = Item.Method();
  helper.Trees = Item.ImplodeTrees();
  helper.ProgressHook = Archive.CurrentItemProgress;
  helper.Archive = &Archive;
  if (Archive.Spanned) {
    helper.CurrentDisk = Archive.CurrentDisk;
    helper.Spanned = true;
  }
  try {
    if (helper.PackedBytes < 0) throw EAbReadError();  // 2 GiB or more
    if (helper.Decompress() != Item.Checksum()) throw EAbZipBadCRC();
  } catch (...) {
    if (Archive.Spanned) Archive.CurrentDisk = helper.CurrentDisk;
    throw;
  }
  // The output passed its CRC-32 but may be shorter than the size declared: the head start
  // must not leave zeros behind it.
  if (sized_ahead && memory->Size() > memory->Position()) memory->SetSize(memory->Position());
  if (Archive.Spanned) Archive.CurrentDisk = helper.CurrentDisk;
}

namespace {

// Applies the item's attributes to the extracted file. Entries made on Unix carry their mode
// in the high half: the host applies only its permission bits (never set-uid, set-gid or
// sticky), and the owner always keeps read access to what he extracted. A symbolic link entry
// has been written as a plain file holding the link's text and gets plain permissions. A
// failure here is no failure of the extraction.
void ApplyAttributes(const std::string& Path, const TAbZipItem& Item) {
  const uint32_t attributes = Item.Attributes();
  const uint32_t mode = attributes >> 16;
  if ((Item.MadeByVersion() >> 8) == kHostUnix && mode != 0) {
    const bool link = (mode & kUnixTypeMask) == kUnixSymlink;
    host::FileSetUnixMode(Path, link ? 0644u : (mode & 0777u) | 0400u);
    return;
  }
  host::FileSetAttr(Path, static_cast<int32_t>(attributes));
}

}  // namespace

void ExtractZipItemToFile(TAbZipArchive& Archive, TAbZipItem& Item, const std::string& Name) {
  std::string name = Name;
  ToBackslashes(name);

  std::string path = Archive.BaseDirectory();
  if (!path.empty() && path.back() != '\\') path += '\\';
  if (Archive.ExtractOptions.Contains(eoRestorePath)) path += SafeRelativePath(name);
  else path += NamePart(name);

  std::string folder = FolderPart(path);
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  if (!folder.empty() && !FolderExists(folder)) {
    if (!Archive.ExtractOptions.Contains(eoCreateDirs)) throw EAbNoSuchDirectory();
    MakeFolderPath(host::ExpandFileName(folder));
  }

  bool confirm = true;
  if (host::FileExists(path) && Archive.OnConfirmOverwrite) Archive.OnConfirmOverwrite(path, confirm);
  if (!confirm) return;

  auto out = std::make_unique<TFileStream>(path, fmCreate);
  try {
    ExtractZipItemToStream(Archive, Item, out.get());
    const uint32_t stamp = (static_cast<uint32_t>(Item.FileDate()) << 16) | Item.FileTime();
    host::FileSetDate(*out, stamp);
    out.reset();
    ApplyAttributes(path, Item);
  } catch (...) {
    out.reset();
    try {
      throw;
    } catch (const EAbUserAbort&) {
      Archive.State = stClosed;
    } catch (...) {
    }
    if (host::FileExists(path)) host::DeleteFile(path);
    throw;
  }
}

void VerifyZipItem(TAbZipArchive& Archive, TAbZipItem& Item) {
  TAbBitBucketStream bucket;
  TAbZipLocalFileHeader header;
  ChangeToItemVolume(Archive, Item);
  ReadLocalHeader(Archive, Item, header);
  Archive.Stream->Seek(Item.LocalHeaderOffset(), soFromBeginning);

  const TAbZipDirectoryFileHeader& central = Item.DirectoryRecord;
  bool same = header.VersionNeededToExtract == central.VersionNeededToExtract &&
              header.GeneralPurposeBitFlag == central.GeneralPurposeBitFlag &&
              header.LastModFileTime == central.LastModFileTime &&
              header.LastModFileDate == central.LastModFileDate;
  // With a data descriptor the local header may hold zeros; the descriptor is not compared.
  if (same && !(central.GeneralPurposeBitFlag & kFlagDataDescriptor))
    same = header.CRC32 == central.CRC32 && header.CompressedSize == central.CompressedSize &&
           header.UncompressedSize == central.UncompressedSize;
  // Names as their bytes stand; an archive whose local headers carry the presented name passes
  // too.
  if (same) same = header.FileName == central.FileName || header.FileName == Item.StoredName();
  if (!same) throw EAbZipInvalidLFH();

  ExtractZipItemToStream(Archive, Item, &bucket);
}

}  // namespace zipkit
