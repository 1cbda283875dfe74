// Loading a ZIP archive: the end record, then every central directory record into an item.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "host/host.h"
#include "support/errors.h"
#include "support/file_system.h"
#include "support/numeric.h"
#include "support/paths.h"
#include "zip/zip_archive.h"

namespace zipkit {

namespace {

// A read-ahead view of a stream for reading the directory record by record without one system
// call per field. Only reading and seeking; the source is put on the view's position when the
// view goes away.
class TReadAheadStream : public TStream {
 public:
  static constexpr int32_t kBlock = 64 * 1024;

  explicit TReadAheadStream(TStream& Source)
      : source_(Source), size_(Source.Size()), pos_(Source.Position()) {}
  ~TReadAheadStream() override { source_.Seek(pos_, soFromBeginning); }

  int32_t Read(void* Buffer, int32_t Count) override {
    auto* out = static_cast<uint8_t*>(Buffer);
    int32_t done = 0;
    while (done < Count) {
      if (pos_ < start_ || pos_ >= start_ + fill_) {
        if (!Refill()) break;
      }
      const int32_t n = std::min(Count - done, start_ + fill_ - pos_);
      std::memcpy(out + done, block_.data() + (pos_ - start_), static_cast<size_t>(n));
      done += n;
      pos_ += n;
    }
    return done;
  }

  int32_t Write(const void*, int32_t) override { return 0; }

  int32_t Seek(int32_t Offset, uint16_t Origin) override {
    int64_t base = 0;
    if (Origin == soFromCurrent)
      base = pos_;
    else if (Origin == soFromEnd)
      base = size_;
    else if (Origin != soFromBeginning)
      return -1;
    const int64_t target = base + Offset;
    if (target < 0 || target > INT32_MAX) return -1;
    pos_ = static_cast<int32_t>(target);
    return pos_;
  }

 private:
  bool Refill() {
    if (pos_ >= size_) return false;
    block_.resize(kBlock);
    if (source_.Seek(pos_, soFromBeginning) != pos_) return false;
    const int32_t n = source_.Read(block_.data(), std::min(kBlock, size_ - pos_));
    if (n <= 0) return false;
    start_ = pos_;
    fill_ = n;
    return true;
  }

  TStream& source_;
  const int32_t size_;
  int32_t pos_;
  int32_t start_ = 0;
  int32_t fill_ = 0;
  std::vector<uint8_t> block_;
};

// How often a disk or image request may hand over a volume without an end record before the
// search for the last volume gives up.
constexpr int kLastVolumeAttempts = 16;

bool IsExecutableStub(const uint8_t Head[4], int32_t Got) {
  if (Got >= 2 && Head[0] == 'M' && Head[1] == 'Z') return true;  // DOS / Windows program
  return Got >= 4 && std::memcmp(Head,
                                 "\x7F"
                                 "ELF",
                                 4) == 0;  // ELF program
}

// When Name is the image of volume Disk of a set of ours (BACKUP.Z03 for disk 3), the archive
// file that is its volume 0 (BACKUP.ZIP); otherwise "".
std::string FirstVolumeOfOurSet(const std::string& Name, uint16_t Disk) {
  std::string image = Name;
  SetSpanExtension(image, Disk);
  const size_t dot = Name.rfind('.');
  if (image != Name || dot == std::string::npos || dot + 1 >= Name.size()) return "";
  const char letter = Name[dot + 1];
  if (letter == 'z') return Name.substr(0, dot) + ".zip";
  if (letter == 'Z') return Name.substr(0, dot) + ".ZIP";
  return "";
}

}  // namespace

void TAbZipArchive::ReadCatalog() {
  if (!Stream) throw EAbNoArchive();  // a failed volume request left no volume open
  if (Stream->Size() == 0) return;

  uint8_t head[4] = {0, 0, 0, 0};
  Stream->Seek(0, soFromBeginning);
  const int32_t got = Stream->Read(head, 4);
  if (got < 2) throw EReadError();
  SelfExtracting = IsExecutableStub(head, got);
  const bool begins_with_pk = head[0] == 'P' && head[1] == 'K';
  const bool is_file = dynamic_cast<TFileStream*>(Stream.get()) != nullptr;
  if (is_file) RemovableMedia = IsRemovableDrive(ArchiveName);

  int32_t end_position = LocateEndRecord(*Stream);
  if (end_position == -1) {
    if (!is_file) throw EAbZipBadSpanStream();
    if (!begins_with_pk) {
      State = stClosed;
      throw EAbZipInvalid();
    }
    // A volume of a spanned set whose end record lies on another volume: ask for the last one.
    for (int attempt = 0; end_position == -1; ++attempt) {
      if (attempt == kLastVolumeAttempts) throw EAbFileNotFound();
      OpenSpannedVolume(-1);
      end_position = LocateEndRecord(*Stream);
    }
    Spanned = true;
  }

  EndRecord->ReadFrom(*Stream);
  CurrentDisk = EndRecord->DiskNumber;
  if (!Spanned && EndRecord->DiskNumber > 0) {
    // The file holds the end record of a later volume: the last volume of a split set of
    // another tool, whose other volumes are named .z01, .z02, ...
    if (!is_file) throw EAbZipBadSpanStream();
    Spanned = true;
    FirstVolumeName = FirstVolumeOfOurSet(ArchiveName, EndRecord->DiskNumber);
    if (FirstVolumeName.empty()) {
      SplitNaming = true;
      LastVolume = EndRecord->DiskNumber;
    }
  }
  if (Spanned && EndRecord->StartDiskNumber != EndRecord->DiskNumber) {
    if (EndRecord->StartDiskNumber > EndRecord->DiskNumber) throw EAbZipInvalid();
    CurrentDisk = EndRecord->StartDiskNumber;
    OpenSpannedVolume(CurrentDisk);
  }
  if (EndRecord->DirectoryOffset < 0 ||
      Stream->Seek(EndRecord->DirectoryOffset, soFromBeginning) != EndRecord->DirectoryOffset)
    throw EReadError();

  ReadDirectory(end_position);

  bool abort = false;
  ReportArchiveProgress(100, abort);
  Modified = false;
}

void TAbZipArchive::ReadDirectory(int32_t EndPosition) {
  int32_t lowest_offset = INT32_MAX;
  const uint16_t last_disk = EndRecord->DiskNumber;
  const int32_t total = EndRecord->TotalEntries;
  int32_t count = 0;
  // The claimed count is only a hint (at most 65,535), and no more records fit than bytes allow.
  Items.Reserve(
      std::min<int32_t>(total, (Stream->Size() - Stream->Position()) / kDirectoryHeaderSize));
  auto reader = std::make_unique<TReadAheadStream>(*Stream);
  while (!(CurrentDisk == last_disk && reader->Position() == EndPosition)) {
    if (Spanned && reader->Position() >= reader->Size()) {
      // This volume is used up; the directory goes on at the start of the next one, which
      // must not lie beyond the volume of the end record.
      if (CurrentDisk >= last_disk) throw EAbZipInvalid();
      reader.reset();
      ++CurrentDisk;
      OpenSpannedVolume(CurrentDisk);
      reader = std::make_unique<TReadAheadStream>(*Stream);
    }
    auto item = std::make_unique<TAbZipItem>();
    item->LoadFromDirectory(*reader);
    if (SelfExtracting && item->LocalHeaderOffset() >= 0)
      lowest_offset = std::min(lowest_offset, item->LocalHeaderOffset());
    Items.Append(item.get());
    item.release()->PendingAction = iaUnchanged;
    ++count;
    bool abort = false;
    ReportArchiveProgress(PercentOf(count, total), abort);
    if (abort) {
      State = stClosed;
      throw EAbUserAbort();
    }
  }
  if (SelfExtracting && lowest_offset != INT32_MAX) StubLength = lowest_offset;
}

}  // namespace zipkit
