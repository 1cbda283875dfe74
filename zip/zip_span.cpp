// Spanned sets: disk and image requests, opening and creating volumes.
#include "host/host.h"
#include "support/errors.h"
#include "support/format.h"
#include "support/paths.h"
#include "zip/zip_archive.h"

namespace zipkit {

namespace {

// Message ids of the prompts.
constexpr int32_t kMsgInsertFloppy = 11;  // caption of every prompt
constexpr int32_t kMsgLastDisk = 12;
constexpr int32_t kMsgNthDisk = 14;
constexpr int32_t kMsgBlankDisk = 17;

// Prompts hold at most 255 characters, captions 80, each with its terminating zero.
constexpr size_t kPromptLimit = 254;
constexpr size_t kCaptionLimit = 79;

constexpr int32_t kMaxImage = 99;

// True when the user chose Cancel.
bool AskDisk(const std::string& Text) {
  const std::string caption = EngineText(kMsgInsertFloppy).substr(0, kCaptionLimit);
  return !host::TaskModalOkCancel(Text.substr(0, kPromptLimit), caption);
}

std::unique_ptr<TStream> OpenVolumeFile(const std::string& Name) {
  return std::make_unique<TFileStream>(Name, fmOpenRead | fmShareDenyWrite);
}

}  // namespace

void TAbZipArchive::RequestLastDisk(bool& Abort) {
  Abort = false;
  if (OnRequestLastDisk)
    OnRequestLastDisk(this, Abort);
  else
    Abort = AskDisk(EngineText(kMsgLastDisk));
}

void TAbZipArchive::RequestNthDisk(uint8_t DiskNumber, bool& Abort) {
  Abort = false;
  if (OnRequestNthDisk)
    OnRequestNthDisk(this, DiskNumber, Abort);
  else
    Abort = AskDisk(Format(EngineText(kMsgNthDisk), {static_cast<int32_t>(DiskNumber)}));
}

void TAbZipArchive::RequestBlankDisk(bool& Abort) {
  Abort = false;
  Spanned = true;
  if (OnRequestBlankDisk)
    OnRequestBlankDisk(this, Abort);
  else
    Abort = AskDisk(EngineText(kMsgBlankDisk));
}

std::string TAbZipArchive::VolumeFileName(int32_t Volume) const {
  std::string name = ArchiveName;
  if (SplitNaming) {
    if (Volume == LastVolume) return name;
    SetSpanExtension(name, static_cast<uint16_t>(Volume + 1));
    return name;
  }
  if (!FirstVolumeName.empty()) name = FirstVolumeName;
  if (Volume != 0) SetSpanExtension(name, static_cast<uint16_t>(Volume));
  return name;
}

void TAbZipArchive::OpenSpannedVolume(int32_t Volume) {
  bool abort = false;
  Stream.reset();
  std::string name = ArchiveName;

  if (RemovableMedia) {
    // Every disk holds a file of the archive's own name.
    if (Volume >= 0)
      RequestNthDisk(static_cast<uint8_t>(Volume + 1), abort);
    else
      RequestLastDisk(abort);
    if (abort) throw EAbUserAbort();
    Stream = OpenVolumeFile(name);
    return;
  }
  if (OnRequestImage) {
    OnRequestImage(this, Volume, name, abort);
    if (abort) throw EAbUserAbort();
    Stream = OpenVolumeFile(name);
    return;
  }
  if (Volume >= 0) {
    name = VolumeFileName(Volume);
    if (!host::FileExists(name)) throw EAbFileNotFound();
    Stream = OpenVolumeFile(name);
    return;
  }
  // The last volume: the first image, counting from 1, that holds an end record.
  for (int32_t i = 1; i <= kMaxImage; ++i) {
    name = ArchiveName;
    SetSpanExtension(name, static_cast<uint16_t>(i));
    if (!host::FileExists(name)) throw EAbFileNotFound();
    std::unique_ptr<TStream> volume = OpenVolumeFile(name);
    if (LocateEndRecord(*volume) >= 0) {
      Stream = std::move(volume);
      return;
    }
  }
  throw EAbFileNotFound();
}

void TAbZipArchive::CreateSpannedVolume(int32_t Volume) {
  bool abort = false;
  Stream.reset();
  std::string name = ArchiveName;
  if (RemovableMedia) {
    RequestBlankDisk(abort);
  } else if (OnRequestImage) {
    OnRequestImage(this, Volume, name, abort);
  } else {
    SetSpanExtension(name, static_cast<uint16_t>(Volume));
  }
  if (abort) throw EAbUserAbort();
  Stream = std::make_unique<TFileStream>(name, fmCreate);
}

}  // namespace zipkit
