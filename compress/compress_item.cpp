#include "compress/compress_item.h"

#include <memory>
#include <vector>

#include "compress/zip_helper.h"
#include "host/exceptions.h"
#include "host/host.h"
#include "support/crc32.h"
#include "support/file_system.h"
#include "unzip/zdecoder.h"

namespace zipkit {

namespace {

// Version 2.0, made on a system whose attributes are DOS attributes: what the attributes the
// entry carries are. (Only a system reporting version 0 in the high half of its version number
// would be 0x0A14, which no system this runs on does.)
constexpr uint16_t kMadeByVersion = 20;
constexpr uint16_t kVersionStored = 10;
constexpr uint16_t kVersionDeflated = 20;

uint8_t HelperMethod(TAbZipSupportedMethod Method) {
  switch (Method) {
    case smStored: return TAbZipHelper::kStored;
    case smDeflated: return TAbZipHelper::kDeflated;
    case smBestMethod: return TAbZipHelper::kBestMethod;
  }
  return 0xFF;  // refused by Compress
}

// The decoder writes its header through a stream slot; here that is the target, which the slot
// must not own.
class TBorrowedSlot {
 public:
  explicit TBorrowedSlot(TStream& Stream) : slot(&Stream) {}
  ~TBorrowedSlot() { (void)slot.release(); }
  TBorrowedSlot(const TBorrowedSlot&) = delete;
  TBorrowedSlot& operator=(const TBorrowedSlot&) = delete;

  std::unique_ptr<TStream> slot;
};

uint32_t StreamCrc(TStream& Source) {
  std::vector<uint8_t> buffer(32768);
  uint32_t crc = 0xFFFFFFFF;
  Source.Seek(0, soFromBeginning);
  for (;;) {
    const int32_t n = Source.Read(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (n <= 0) break;
    UpdateCrc32(crc, buffer.data(), n);
  }
  Source.Seek(0, soFromBeginning);
  return ~crc;
}

}  // namespace

void CompressFileToItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& Target) {
  std::unique_ptr<TFileStream> file;
  int64_t stamp = -1;
  {
    TCurrentDirScope dir(Archive.BaseDirectory());
    const std::string& name = Item.DiskName;
    file = std::make_unique<TFileStream>(name, fmOpenRead | fmShareDenyWrite);
    const int32_t attributes = host::FileGetAttr(name);
    Item.SetAttributes(attributes >= 0 ? static_cast<uint32_t>(attributes) : 0);
    Item.SetUnpackedSize(file->Size());
    stamp = host::FileAge(name);
  }
  if (stamp >= 0) {
    Item.SetFileTime(static_cast<uint16_t>(stamp & 0xFFFF));
    Item.SetFileDate(static_cast<uint16_t>((stamp >> 16) & 0xFFFF));
  }
  CompressStreamToItem(Archive, Item, Target, *file);
}

void CompressStreamToItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& Target, TStream& Source) {
  // Whatever happens, the item keeps no decoder: one left by an extraction must not encrypt a
  // new entry; only the archive's password does.
  Item.Decoder.reset();
  Item.SetFlags(0);
  Item.SetPackedSize(0);
  if (dynamic_cast<TFileStream*>(&Source) == nullptr) {
    const uint32_t now = host::NowDosDateTime();
    Item.SetFileTime(static_cast<uint16_t>(now & 0xFFFF));
    Item.SetFileDate(static_cast<uint16_t>(now >> 16));
    Item.SetAttributes(0);
    Item.SetUnpackedSize(Source.Size());
  }
  Item.SetMadeByVersion(kMadeByVersion);

  TBorrowedSlot slot(Target);
  std::unique_ptr<TAbZDecoder> decoder;
  if (!Archive.Password.empty()) {
    const uint32_t crc = StreamCrc(Source);
    Item.SetChecksum(crc);
    decoder = std::make_unique<TAbZDecoder>(Archive.Password, slot.slot, crc, false);
    decoder->MakeHeader();
  }

  TAbZipHelper helper(Source, decoder.get(), Target);
  helper.Method = HelperMethod(Archive.CompressionMethodToUse);
  helper.DeflationOption = Archive.DeflationOption;
  helper.OnProgress = Archive.CurrentItemProgress;
  helper.Compress();

  Item.SetChecksum(helper.CRC32);
  Item.SetUnpackedSize(helper.InputSize);
  Item.SetInternalAttributes(helper.IsText() ? 1 : 0);
  Item.SetMethod(helper.Method);
  Item.SetVersionNeeded(helper.Method == TAbZipHelper::kDeflated ? kVersionDeflated : kVersionStored);
  if (decoder != nullptr) {
    Item.SetPackedSize(helper.CompressedSize + TAbZDecoder::kHeaderSize);
    Item.SetFlags(Item.Flags() | kFlagEncrypted);
  } else {
    Item.SetPackedSize(helper.CompressedSize);
  }
}

}  // namespace zipkit
