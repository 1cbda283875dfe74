// Saving a ZIP archive. The new archive is built in full, entry by entry: entries without a
// change of data are copied from the old archive, new, freshened and replaced ones are
// compressed through the insert hooks, deleted ones are left out; the central directory and
// the end record follow.
//
// The old archive is only read until the new one is complete. A file archive is built in a
// temporary file beside it, which then takes its place in one step (host::ReplaceFile), so a
// failure, an abort or a killed process leaves the old archive as it was. Only where that cannot
// be done (removable disks, which receive a set one disk at a time, or a folder where no file can
// be created) is the new archive built in the temporary folder and copied over the old one.
//
// A spanned set is built as one image too and cut into volumes afterwards (zip_save_volumes.h):
// the images .z01, .z02, ... are written first and the archive file, volume 0, last.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "host/exceptions.h"
#include "host/host.h"
#include "support/errors.h"
#include "support/file_system.h"
#include "support/format.h"
#include "support/numeric.h"
#include "support/paths.h"
#include "zip/zip_archive.h"
#include "zip/zip_save_output.h"
#include "zip/zip_save_volumes.h"

namespace zipkit {

namespace {

constexpr int32_t kCopyBlock = 256 * 1024;
// Below this a volume cannot be relied on to hold the largest record the engine writes whole.
constexpr int64_t kMinVolumeSize = 64 * 1024;
// Images are named by two digits: the archive file and .z01 to .z99.
constexpr int32_t kMaxImageVolumes = 100;
constexpr int32_t kMaxVolumes = 65536;  // disk numbers are 16 bits
constexpr char kSavePrefix[] = "ZKS";

// Message 31: the spanning threshold cannot make a set of this archive (too small a volume, or
// more volumes than can be named).
class EAbZipSpanThreshold : public EAbZipException {
 public:
  EAbZipSpanThreshold() : EAbZipException(31, EngineText(31)) {}
};

// Message 16: an executable stub cannot begin a spanned set (the set's signature would
// overwrite it).
class EAbZipSpanStub : public EAbZipException {
 public:
  EAbZipSpanStub() : EAbZipException(16, EngineText(16)) {}
};

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void WriteSignature(TStream& Out, uint32_t Signature) {
  uint8_t b[4];
  PutLe32(b, Signature);
  Out.WriteBuffer(b, 4);
}

// Copies Count bytes from the position of From to the position of To.
void CopyBytes(TStream& From, TStream& To, int64_t Count, std::vector<uint8_t>& Buffer) {
  Buffer.resize(kCopyBlock);
  while (Count > 0) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(Count, kCopyBlock));
    From.ReadBuffer(Buffer.data(), n);
    To.WriteBuffer(Buffer.data(), n);
    Count -= n;
  }
}

bool IsFolderName(const std::string& Name) {
  return !Name.empty() && (Name.back() == '/' || Name.back() == '\\');
}

// The local header of an item as this writer writes it: the central record's values and name
// bytes, so that both records agree byte for byte, and the given extra field. With bit 3 the
// CRC-32 and sizes live in the data descriptor, and the header holds zeros as the format asks.
TAbZipLocalFileHeader LocalHeaderOf(const TAbZipItem& Item, const std::string& Extra) {
  const TAbZipDirectoryFileHeader& r = Item.DirectoryRecord;
  TAbZipLocalFileHeader h;
  h.VersionNeededToExtract = r.VersionNeededToExtract;
  h.GeneralPurposeBitFlag = r.GeneralPurposeBitFlag;
  h.CompressionMethod = r.CompressionMethod;
  h.LastModFileTime = r.LastModFileTime;
  h.LastModFileDate = r.LastModFileDate;
  if ((r.GeneralPurposeBitFlag & kFlagDataDescriptor) == 0) {
    h.CRC32 = r.CRC32;
    h.CompressedSize = r.CompressedSize;
    h.UncompressedSize = r.UncompressedSize;
  }
  h.FileName = r.FileName.substr(0, r.FileNameLength);
  h.FileNameLength = static_cast<uint16_t>(h.FileName.size());
  h.ExtraField = Extra.substr(0, 0xFFFF);
  h.ExtraFieldLength = static_cast<uint16_t>(h.ExtraField.size());
  return h;
}

int64_t LocalHeaderLength(const TAbZipLocalFileHeader& H) {
  return kLocalHeaderSize + H.FileNameLength + H.ExtraFieldLength;
}

int64_t DirectoryRecordLength(const TAbZipDirectoryFileHeader& R) {
  return kDirectoryHeaderSize + R.FileNameLength + R.ExtraFieldLength + R.FileCommentLength;
}

bool IsAbsolutePath(const std::string& Name) {
  return (!Name.empty() && (Name[0] == '\\' || Name[0] == '/')) ||
         (Name.size() >= 2 && Name[1] == ':');
}

// The file an item is compressed from, as the insert hook finds it (from BaseDirectory).
std::string DiskPath(const TAbArchive& Archive, const TAbZipItem& Item) {
  if (IsAbsolutePath(Item.DiskName) || Archive.BaseDirectory().empty()) return Item.DiskName;
  return Archive.BaseDirectory() + "\\" + Item.DiskName;
}

// A folder entry has no data: it is made here rather than by the compressor.
void MakeFolderEntry(TAbZipItem& Item) {
  int32_t attr = host::FileGetAttr(Item.DiskName);
  if (attr == -1 || (attr & host::faDirectory) == 0) attr = host::faDirectory;
  // A folder's time comes from its folder entry (FileAge answers for files only).
  std::string folder = Item.DiskName;
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  host::TFindFiles find;
  host::TSearchRec rec;
  int64_t stamp = find.First(folder, host::faAnyFile, rec) ? rec.Time : 0;
  if (stamp == 0) stamp = host::NowDosDateTime();
  Item.SetMethod(0);
  Item.SetFlags(0);
  Item.SetChecksum(0);
  Item.SetPackedSize(0);
  Item.SetUnpackedSize(0);
  Item.SetVersionNeeded(20);  // a folder needs 2.0
  Item.SetMadeByVersion(20);
  Item.SetInternalAttributes(0);
  Item.SetAttributes(static_cast<uint32_t>(attr));
  Item.SetFileDate(static_cast<uint16_t>(static_cast<uint64_t>(stamp) >> 16));
  Item.SetFileTime(static_cast<uint16_t>(stamp & 0xFFFF));
}

// Deletes a temporary file when the save leaves without having used it.
class TTempFile {
 public:
  explicit TTempFile(std::string Name) : name_(std::move(Name)) {}
  ~TTempFile() {
    if (!name_.empty()) host::DeleteFile(name_);
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& Name() const { return name_; }
  void Release() { name_.clear(); }

 private:
  std::string name_;
};

// The items as they were before the save, to put back when the save fails: the old archive
// is then still the archive, and its items must describe it.
class TItemSnapshot {
 public:
  explicit TItemSnapshot(TAbZipArchive& Archive) {
    const int32_t n = Archive.ItemCount();
    records_.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) records_.push_back(Archive.ZipItem(i)->DirectoryRecord);
  }
  const TAbZipDirectoryFileHeader& Record(int32_t Index) const {
    return records_[static_cast<size_t>(Index)];
  }
  void Restore(TAbZipArchive& Archive) const {
    const int32_t n = std::min<int32_t>(Archive.ItemCount(), static_cast<int32_t>(records_.size()));
    for (int32_t i = 0; i < n; ++i) Archive.ZipItem(i)->DirectoryRecord = records_[static_cast<size_t>(i)];
  }

 private:
  std::vector<TAbZipDirectoryFileHeader> records_;
};

// One save: the state that building the image and putting it in place share.
class TZipSaver {
 public:
  explicit TZipSaver(TAbZipArchive& Archive) : a_(Archive), snapshot_(Archive) {}

  void Run();

 private:
  void ChooseVolumes();
  void Build(TZipSaveOutput& Out);
  void CopyEntry(TAbZipItem& Item, TZipSaveOutput& Out);
  bool InsertEntry(int32_t Index, TAbZipItem& Item, TZipSaveOutput& Out);
  void WriteDirectory(TZipSaveOutput& Out);
  void Place(TAbZipItem& Item, int64_t Position, int64_t Length);
  void WriteImages(TStream& Image);
  void CopyInPlace(TStream& Image);
  void ReopenArchive();
  void Finish();

  TAbZipArchive& a_;
  TItemSnapshot snapshot_;
  bool file_stream_ = false;
  bool make_spanned_ = false;
  int64_t volume_size_ = INT32_MAX;
  std::unique_ptr<TZipVolumePlan> plan_;
  std::vector<TAbZipItem*> written_;
  std::vector<uint8_t> buffer_;
  std::string target_;  // the archive file, links followed
  int32_t volumes_ = 1;
};

void TZipSaver::ChooseVolumes() {
  a_.RemovableMedia = IsRemovableDrive(a_.ArchiveName);
  if (a_.RemovableMedia) {
    volume_size_ = DriveFreeBytes(a_.ArchiveName);
    make_spanned_ = a_.Stream->Size() == 0;
  } else if (a_.SpanningThreshold() > 0) {
    make_spanned_ = true;
    volume_size_ = a_.SpanningThreshold();
    if (volume_size_ < kMinVolumeSize) throw EAbZipSpanThreshold();
  }
  // Without a threshold a fixed drive takes the archive whole: a file larger than the free space
  // fails to be written instead of turning into volumes that nothing marks as a set.
  if (volume_size_ <= 0) volume_size_ = INT32_MAX;
  plan_ = std::make_unique<TZipVolumePlan>(volume_size_);
}

void TZipSaver::Place(TAbZipItem& Item, int64_t Position, int64_t Length) {
  uint32_t volume = 0;
  int32_t offset = 0;
  plan_->Place(Position, Length, volume, offset);
  if (volume >= static_cast<uint32_t>(kMaxVolumes)) throw EAbZipSpanThreshold();
  Item.SetStartDisk(static_cast<uint16_t>(volume));
  Item.SetLocalHeaderOffset(offset);
}

void TZipSaver::CopyEntry(TAbZipItem& Item, TZipSaveOutput& Out) {
  TStream& in = *a_.Stream;
  const int32_t old_offset = Item.LocalHeaderOffset();
  const int32_t packed = Item.PackedSize();
  if (old_offset < 0 || packed < 0 || in.Seek(old_offset, soFromBeginning) != old_offset)
    throw EAbZipInvalid();
  TAbZipLocalFileHeader old;
  old.ReadFrom(in);
  // The old local header's extra field is kept whole (it may hold zero bytes, which the item's
  // text form of its central extra field would cut).
  const TAbZipLocalFileHeader header = LocalHeaderOf(Item, old.ExtraField);
  Place(Item, Out.Position(), LocalHeaderLength(header));
  header.WriteTo(Out);
  CopyBytes(in, Out, packed, buffer_);
  if (Item.Flags() & kFlagDataDescriptor) Item.WriteDataDescriptor(Out);
}

bool TZipSaver::InsertEntry(int32_t Index, TAbZipItem& Item, TZipSaveOutput& Out) {
  const TAbItemAction action = Item.PendingAction;
  const bool folder = IsFolderName(Item.StoredName()) && action != iaAddFromStream;
  // The compressor sets the flags anew; the name's encoding is the name's, not the data's.
  const uint16_t name_flags = Item.Flags() & kFlagUtf8Name;
  // Extra fields of an older version of the entry (time stamps, say) would describe old data.
  Item.SetExtraData("");
  const int64_t start = Out.Position();
  try {
    // The header is written again once the sizes are known; its length does not change.
    const TAbZipLocalFileHeader placeholder = LocalHeaderOf(Item, "");
    const int64_t header_length = LocalHeaderLength(placeholder);
    Place(Item, start, header_length);
    placeholder.WriteTo(Out);
    if (folder) MakeFolderEntry(Item);
    else if (action == iaAddFromStream) a_.InsertItemFromStream(Item, Out);
    else a_.InsertItem(Item, Out);
    Item.SetFlags(static_cast<uint16_t>((Item.Flags() & ~kFlagUtf8Name) | name_flags));
    if (Out.Failed()) throw EWriteError();
    // A file that changed size while it was read, or could not be read to its end (which a
    // reader takes for its end), would be stored cut short.
    if (!folder && action != iaAddFromStream &&
        host::FileSizeOf(DiskPath(a_, Item)) != Item.UnpackedSize())
      throw EReadError();
    const int64_t end = start + header_length + Item.PackedSize();
    // An insertion that wrote less than it claims (a file that shrank while it was read) would
    // leave an entry that cannot be read back.
    if (Item.PackedSize() < 0 || Out.Size() < end) throw EReadError();
    if (Out.Size() > end) Out.SetSize(static_cast<int32_t>(end));
    Out.Seek(static_cast<int32_t>(start), soFromBeginning);
    LocalHeaderOf(Item, "").WriteTo(Out);
    Out.Seek(static_cast<int32_t>(end), soFromBeginning);
    if (Item.Flags() & kFlagDataDescriptor) Item.WriteDataDescriptor(Out);
    return true;
  } catch (const std::exception& e) {
    // Failures of the new archive itself end the save; so does the user's abort. Anything else
    // is the entry's own input and costs only this entry.
    if (Out.Failed() || dynamic_cast<const EAbUserAbort*>(&e) != nullptr ||
        dynamic_cast<const EAbZipSpanThreshold*>(&e) != nullptr ||
        dynamic_cast<const std::bad_alloc*>(&e) != nullptr)
      throw;
  }
  Out.SetSize(static_cast<int32_t>(start));
  Out.Seek(static_cast<int32_t>(start), soFromBeginning);
  plan_->Rollback(start);
  Item.DirectoryRecord = snapshot_.Record(Index);
  if (action == iaFreshen || action == iaReplace) {
    // The entry exists in the old archive: it keeps its old data rather than being lost.
    CopyEntry(Item, Out);
    Item.PendingAction = iaUnchanged;
    a_.ReportItemFailure(&Item, action == iaFreshen ? prFreshen : prReplace, ecOpenFault, 0);
    return true;
  }
  Item.PendingAction = iaDelete;
  a_.ReportItemFailure(&Item, prAdd, ecOpenFault, 0);
  return false;
}

void TZipSaver::WriteDirectory(TZipSaveOutput& Out) {
  TMemoryStream directory;
  std::vector<int64_t> lengths;
  lengths.reserve(written_.size());
  for (TAbZipItem* item : written_) {
    item->WriteDirectoryHeader(directory);
    lengths.push_back(DirectoryRecordLength(item->DirectoryRecord));
  }
  TAbZipDirectoryFileFooter& end = *a_.EndRecord;
  const int64_t start = Out.Position();
  uint32_t start_volume = 0;
  int32_t start_offset = 0;
  plan_->Place(start, lengths.empty() ? 0 : lengths.front(), start_volume, start_offset);
  // Records per volume, for the end record's count of entries on its own volume.
  std::vector<uint32_t> record_volume;
  record_volume.reserve(lengths.size());
  int64_t position = start;
  for (int64_t length : lengths) {
    uint32_t volume = 0;
    int32_t offset = 0;
    plan_->Place(position, length, volume, offset);
    record_volume.push_back(volume);
    position += length;
  }
  Out.WriteBuffer(directory.Memory(), directory.Size());

  uint32_t end_volume = 0;
  int32_t end_offset = 0;
  plan_->Place(Out.Position(), kEndRecordSize + end.ZipfileCommentLength, end_volume, end_offset);
  if (end_volume >= static_cast<uint32_t>(kMaxVolumes)) throw EAbZipSpanThreshold();
  const int64_t total = static_cast<int64_t>(written_.size());
  const int64_t on_end_volume = std::count(record_volume.begin(), record_volume.end(), end_volume);
  // Entry counts are 16 bits; the loader reads the directory by position, not by count.
  end.DiskNumber = static_cast<uint16_t>(end_volume);
  end.StartDiskNumber = static_cast<uint16_t>(start_volume);
  end.TotalEntries = static_cast<uint16_t>(std::min<int64_t>(total, 0xFFFF));
  end.EntriesOnDisk = static_cast<uint16_t>(std::min<int64_t>(on_end_volume, 0xFFFF));
  end.DirectorySize = directory.Size();
  end.DirectoryOffset = start_offset;
  end.WriteTo(Out);
}

void TZipSaver::Build(TZipSaveOutput& Out) {
  const bool stub = a_.SelfExtracting && a_.StubLength > 0;
  if (stub) {
    a_.Stream->SetPosition(0);
    CopyBytes(*a_.Stream, Out, a_.StubLength, buffer_);
  } else if (make_spanned_) {
    WriteSignature(Out, SingleSpanMarker);
  }
  a_.EndRecord->EntriesOnDisk = 0;
  a_.EndRecord->TotalEntries = 0;

  const int32_t count = a_.ItemCount();
  written_.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    TAbZipItem* item = a_.ZipItem(i);
    a_.CurrentItem = item;
    switch (item->PendingAction) {
      case iaUnchanged:
      case iaMove:
        CopyEntry(*item, Out);
        written_.push_back(item);
        break;
      case iaAdd:
      case iaFreshen:
      case iaReplace:
      case iaAddFromStream:
        if (InsertEntry(i, *item, Out)) written_.push_back(item);
        break;
      default:  // iaDelete is left out; iaVoid writes nothing
        break;
    }
    bool abort = false;
    a_.ReportArchiveProgress(PercentOf((i + 1) * 9, count * 10), abort);
    if (abort) throw EAbUserAbort();
  }
  WriteDirectory(Out);

  volumes_ = plan_->VolumeCount(Out.Size());
  if (volumes_ > kMaxVolumes ||
      (volumes_ > kMaxImageVolumes && !a_.RemovableMedia && !a_.OnRequestImage))
    throw EAbZipSpanThreshold();
  a_.Spanned = make_spanned_ && a_.EndRecord->DiskNumber > 0;
  if (a_.Spanned) {
    if (stub) throw EAbZipSpanStub();
    Out.SetPosition(0);
    WriteSignature(Out, SpanSignature);
  }
  Out.Flush();
}

void TZipSaver::ReopenArchive() {
  const uint16_t mode =
      a_.OpenMode == fmCreate ? static_cast<uint16_t>(fmOpenReadWrite | fmShareDenyWrite) : a_.OpenMode;
  a_.Stream = std::make_unique<TFileStream>(a_.ArchiveName, mode);
  a_.CurrentDisk = 0;
}

// The images of a set, volume 1 on, each through CreateSpannedVolume (which may ask for a name).
void TZipSaver::WriteImages(TStream& Image) {
  const int64_t size = Image.Size();
  for (int32_t k = 1; k < volumes_; ++k) {
    const int64_t from = plan_->VolumeStart(k);
    const int64_t to = k + 1 < volumes_ ? plan_->VolumeStart(k + 1) : size;
    a_.CreateSpannedVolume(k);
    a_.CurrentDisk = static_cast<uint16_t>(k);
    Image.SetPosition(static_cast<int32_t>(from));
    CopyBytes(Image, *a_.Stream, to - from, buffer_);
  }
}

// The old way, for removable disks and folders without room for a second file: the image is
// copied over the archive file, and on into new volumes where it is cut.
void TZipSaver::CopyInPlace(TStream& Image) {
  const int64_t size = Image.Size();
  Image.SetPosition(0);
  if (!file_stream_) {
    a_.Stream->SetSize(0);
    a_.Stream->SetPosition(0);
    CopyBytes(Image, *a_.Stream, size, buffer_);
    return;
  }
  a_.Stream->SetPosition(0);
  int64_t copied = 0;
  for (int32_t k = 0; k < volumes_; ++k) {
    if (k > 0) {
      if (a_.RemovableMedia) {
        a_.CurrentDisk = static_cast<uint16_t>(k);
        WriteDiskLabel(Format("PKBACK# %3.3d", {k}), 'A');
      }
      a_.CreateSpannedVolume(k);
    }
    const int64_t to = k + 1 < volumes_ ? plan_->VolumeStart(k + 1) : size;
    while (copied < to) {
      const int32_t n = static_cast<int32_t>(std::min<int64_t>(to - copied, kCopyBlock));
      buffer_.resize(kCopyBlock);
      Image.ReadBuffer(buffer_.data(), n);
      a_.Stream->WriteBuffer(buffer_.data(), n);
      copied += n;
      if (a_.RemovableMedia) {
        bool abort = false;
        a_.ReportArchiveProgress(PercentOf(static_cast<int32_t>(copied), static_cast<int32_t>(size)),
                                 abort);
        if (abort) throw EAbUserAbort();
      }
    }
    if (auto* file = dynamic_cast<TFileStream*>(a_.Stream.get()))
      TruncateFileAt(*file, static_cast<int32_t>(to - plan_->VolumeStart(k)));
  }
  if (a_.Spanned && a_.RemovableMedia) WriteDiskLabel(Format("PKBACK# %3.3d", {volumes_}), 'A');
}

void TZipSaver::Finish() {
  for (int32_t i = a_.ItemCount() - 1; i >= 0; --i) {
    TAbArchiveItem* item = a_.Items.ItemAt(i);
    if (item->PendingAction == iaDelete) a_.Items.RemoveAt(i);
    else if (item->PendingAction != iaVoid) item->PendingAction = iaUnchanged;
  }
  bool abort = false;
  a_.ReportArchiveProgress(100, abort);
}

void TZipSaver::Run() {
  if (!a_.Stream) throw EAbNoArchive();  // a failed volume request left no volume open
  file_stream_ = dynamic_cast<TFileStream*>(a_.Stream.get()) != nullptr;
  // An archive opened for reading only is not written, whatever the file system would allow.
  if (file_stream_ && a_.OpenMode != fmCreate && (a_.OpenMode & 0x3) == fmOpenRead)
    throw EWriteError();
  ChooseVolumes();

  // Where the image is built: beside the archive file (the same file system, so that it can
  // take the archive's place), or failing that in the temporary folder.
  std::string temp_name;
  if (file_stream_ && !a_.RemovableMedia) {
    target_ = host::RealFileName(a_.ArchiveName);
    temp_name = host::GetTempFileName(FolderPart(target_), kSavePrefix, true);
  }
  const bool in_place = temp_name.empty();
  if (in_place && file_stream_) {
    temp_name = NewTempFile(a_.TempDirectory);
    if (temp_name.empty()) throw EFCreateError("Cannot create file " + a_.TempDirectory);
  }
  TTempFile temp(temp_name);
  std::unique_ptr<TStream> image;
  if (temp_name.empty()) image = std::make_unique<TMemoryStream>();
  else image = std::make_unique<TFileStream>(temp_name, fmOpenReadWrite | fmShareExclusive);

  bool overwriting = false;  // the old archive is being changed: nothing to put back
  bool released = false;     // the old archive's stream was closed
  try {
    {
      TZipSaveOutput out(*image);
      Build(out);
    }
    if (in_place) {
      overwriting = true;
      CopyInPlace(*image);
    } else {
      a_.Stream.reset();  // the old archive has been read
      released = true;
      if (a_.Spanned) {
        WriteImages(*image);
        image->SetSize(static_cast<int32_t>(plan_->VolumeStart(1)));
      }
      image.reset();
      if (!host::ReplaceFile(temp_name, target_)) {
        const int32_t code = host::LastError();
        throw EInOutError(host::SysErrorMessage(code), code);
      }
      temp.Release();
      overwriting = true;
      // A set keeps its last volume open, as CurrentDisk says; a single file is opened again.
      if (!a_.Spanned) ReopenArchive();
    }
  } catch (...) {
    if (!overwriting) {
      snapshot_.Restore(a_);
      a_.Spanned = false;
      if (released) {
        try {
          ReopenArchive();
        } catch (const std::exception&) {
          // the archive stays without a stream; its operations then report EAbNoArchive
        }
      }
    }
    throw;
  }
  Finish();
}

}  // namespace

void TAbZipArchive::WriteArchive() {
  if (Spanned) {
    // A set is never rewritten. Entries that exist keep their place; new ones, which were never
    // written, are dropped rather than left looking like entries of the set.
    for (int32_t i = ItemCount() - 1; i >= 0; --i) {
      TAbArchiveItem* item = Items.ItemAt(i);
      if (item->PendingAction == iaAdd || item->PendingAction == iaAddFromStream)
        Items.RemoveAt(i);
      else if (item->PendingAction != iaVoid)
        item->PendingAction = iaUnchanged;
    }
    Modified = false;
    throw EAbZipSpanOverwrite();
  }
  TZipSaver(*this).Run();
}

}  // namespace zipkit
