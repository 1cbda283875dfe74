// TAbZipArchive: the archive specialised for ZIP files. Loading reads the end record and the
// central directory into TAbZipItems; extracting, testing and compressing one item is handed to
// hooks that the zip kit installs (the extraction driver, the compressor). Spanned sets (one
// archive cut into volumes on disks or image files) are read volume by volume.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/archive.h"
#include "zip/zip_item.h"
#include "zip/zip_records.h"

namespace zipkit {

class TAbZipArchive;

enum TAbZipSupportedMethod : uint8_t { smStored = 0, smDeflated = 1, smBestMethod = 2 };
enum TAbZipDeflationOption : uint8_t {
  doInvalid = 0,
  doNormal = 1,
  doMaximum = 2,
  doFast = 3,
  doSuperFast = 4,
};

using TAbNeedPasswordEvent = std::function<void(TObject* Sender, std::string& NewPassword)>;
using TAbRequestDiskEvent = std::function<void(TObject* Sender, bool& Abort)>;
using TAbRequestNthDiskEvent =
    std::function<void(TObject* Sender, uint8_t DiskNumber, bool& Abort)>;

// Hooks: one item of the archive to a file, to a stream (none: EAbBadStream), tested; one item
// compressed from its disk file or from an input stream into the output stream.
using TAbExtractHook =
    std::function<void(TAbZipArchive& Archive, TAbZipItem& Item, const std::string& Name)>;
using TAbExtractToStreamHook =
    std::function<void(TAbZipArchive& Archive, TAbZipItem& Item, TStream* OutStream)>;
using TAbVerifyHook = std::function<void(TAbZipArchive& Archive, TAbZipItem& Item)>;
using TAbInsertHook =
    std::function<void(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream)>;
using TAbInsertFromStreamHook = std::function<void(TAbZipArchive& Archive, TAbZipItem& Item,
                                                   TStream& OutStream, TStream* InStream)>;

class TAbZipArchive : public TAbArchive {
 public:
  TAbZipArchive(const std::string& FileName, uint16_t Mode);
  ~TAbZipArchive() override;

  // ---- The archive's operations ----
  std::unique_ptr<TAbArchiveItem> MakeItem(const std::string& FileName) override;
  // Through ExtractHook / ExtractToStreamHook / VerifyHook; EAbZipNoExtraction without one.
  void UnpackItemAt(int32_t Index, const std::string& OutName) override;
  void UnpackItemToStreamAt(int32_t Index, TStream* OutStream) override;
  void VerifyItemAt(int32_t Index) override;
  // Finds the end record, reads every central directory record into an item.
  void ReadCatalog() override;
  void WriteArchive() override;
  // DOS short name (DOSMode), no drive, no leading "\", soStripPath, soRemoveDots, "/".
  std::string NormalizeName(const std::string& Name) override;

  // Compress an item while saving, through InsertHook / InsertFromStreamHook (the latter with
  // SourceStream as input); EAbZipNoInsertion without one.
  void InsertItem(TAbZipItem& Item, TStream& OutStream);
  void InsertItemFromStream(TAbZipItem& Item, TStream& OutStream);

  // ---- Spanned sets ----
  // Each request sets Abort false and fires its event, or without one shows a task-modal
  // OK / Cancel message (Cancel aborts).
  virtual void RequestLastDisk(bool& Abort);
  virtual void RequestNthDisk(uint8_t DiskNumber, bool& Abort);
  virtual void RequestBlankDisk(bool& Abort);
  // Closes Stream and opens volume Volume (-1: the last volume of the set) for reading as the
  // new Stream. Raises EAbUserAbort when a request is refused, EAbFileNotFound when an image is
  // missing, the stream's open error otherwise; the archive then holds no stream.
  void OpenSpannedVolume(int32_t Volume);
  // Closes Stream and creates volume Volume for writing as the new Stream.
  void CreateSpannedVolume(int32_t Volume);

  // ---- Item access and the comment ----
  // The item at Index; EListError outside the list.
  TAbZipItem* ZipItem(int32_t Index) const;
  // EndRecord's comment up to its first zero byte.
  std::string ArchiveComment() const;
  // Replaces the comment; a text that is not empty also sets Modified.
  void SetArchiveComment(const std::string& Value);
  // LocateEndRecord on Stream.
  int32_t FindEndRecord();

  TAbZipSupportedMethod CompressionMethodToUse = smBestMethod;
  uint16_t CurrentDisk = 0;  // the volume Stream holds
  TAbZipDeflationOption DeflationOption = doNormal;
  bool RemovableMedia = false;
  std::unique_ptr<TAbZipDirectoryFileFooter> EndRecord;
  bool SelfExtracting = false;  // Stream begins with "MZ"
  std::string Password;
  uint8_t PasswordRetries = 3;
  int32_t StubLength = 0;  // executable stub in front of the archive data
  // How the volumes of a spanned set on a fixed drive are named. Ours: volume 0 is the archive
  // file, volume n its image with extension .zNN. The split naming of other tools: volume n is
  // .z(n+1) and the archive file is the last volume (LastVolume). Chosen while loading.
  bool SplitNaming = false;
  uint16_t LastVolume = 0;
  // Volume 0 of our naming when the archive was opened through its last image (BACKUP.Z03
  // gives BACKUP.ZIP); empty: the archive file.
  std::string FirstVolumeName;

  TAbExtractHook ExtractHook;
  TAbExtractToStreamHook ExtractToStreamHook;
  TAbVerifyHook VerifyHook;
  TAbInsertHook InsertHook;
  TAbInsertFromStreamHook InsertFromStreamHook;

  TAbNeedPasswordEvent OnNeedPassword;
  TAbRequestDiskEvent OnRequestLastDisk;
  TAbRequestNthDiskEvent OnRequestNthDisk;
  TAbRequestDiskEvent OnRequestBlankDisk;

 protected:
  void StoreNewName(TAbArchiveItem* Item, const std::string& Name) override;

 private:
  // The file name of volume Volume when no handler names it.
  std::string VolumeFileName(int32_t Volume) const;
  void ReadDirectory(int32_t EndPosition);
};

}  // namespace zipkit
