#include "compress/zip_helper.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "compress/deflate_levels.h"
#include "support/crc32.h"
#include "support/errors.h"
#include "support/numeric.h"
#include "unzip/zdecoder.h"

namespace zipkit {

namespace {

// Bytes moved per read and write by the stored copy.
constexpr int32_t kCopyChunk = 8192;

}  // namespace

// Hands the deflater the source's bytes, at most InputSize of them, keeping the CRC-32 and
// reporting progress.
class TAbZipHelper::TSourceReader : public TDeflateInput {
 public:
  explicit TSourceReader(TAbZipHelper& helper) : helper_(helper) {}

  int32_t ReadInput(uint8_t* Buffer, int32_t Count) override {
    const int32_t want = std::min(Count, helper_.InputSize - bytes_read);
    if (want <= 0) return 0;
    const int32_t n = std::min(helper_.source_.Read(Buffer, want), want);
    if (n <= 0) return 0;
    UpdateCrc32(crc, Buffer, n);
    bytes_read += n;
    if (bytes_read % 1024 == 0 || bytes_read == helper_.InputSize) {
      bool abort = false;
      helper_.ReportPercent(PercentOf(bytes_read, helper_.InputSize), abort);
      if (abort) throw EAbUserAbort();
    }
    return n;
  }

  int32_t bytes_read = 0;
  uint32_t crc = 0xFFFFFFFF;

 private:
  TAbZipHelper& helper_;
};

// Writes the entry's bytes to the target, encrypted when there is a decoder (through a copy:
// the deflater's bytes, stored blocks straight from its window among them, stay as they are).
// A target that fails or takes fewer bytes than given is full as far as the entry is concerned.
class TAbZipHelper::TTargetWriter : public TDeflateOutput {
 public:
  TTargetWriter(TStream& target, TAbZDecoder* decoder) : target_(target), decoder_(decoder) {
    if (decoder_ != nullptr) scratch_.resize(kCopyChunk);
  }

  void WriteOutput(const uint8_t* Buffer, int32_t Count) override {
    if (decoder_ == nullptr) {
      Put(Buffer, Count);
      return;
    }
    while (Count > 0) {
      const int32_t n = std::min(Count, kCopyChunk);
      std::copy_n(Buffer, n, scratch_.data());
      decoder_->EncryptBuffer(scratch_.data(), n);
      Put(scratch_.data(), n);
      Buffer += n;
      Count -= n;
    }
  }

 private:
  void Put(const uint8_t* Buffer, int32_t Count) {
    int32_t written = 0;
    try {
      written = target_.Write(Buffer, Count);
    } catch (const Exception&) {
      throw EAbZipStreamFull();
    }
    if (written != Count) throw EAbZipStreamFull();
  }

  TStream& target_;
  TAbZDecoder* decoder_;
  std::vector<uint8_t> scratch_;
};

TAbZipHelper::TAbZipHelper(TStream& Source, TAbZDecoder* Decoder, TStream& Target)
    : InputSize(Source.Size()), source_(Source), decoder_(Decoder), target_(Target) {}

void TAbZipHelper::ReportPercent(uint8_t Percent, bool& Abort) {
  if (!OnProgress || Percent == last_percent_) return;
  last_percent_ = Percent;
  OnProgress(Percent, Abort);
}

void TAbZipHelper::Compress() {
  InputSize = std::max(InputSize, 0);
  const int32_t start = target_.Position();
  switch (Method) {
    case kStored:
      StoreCopy();
      break;
    case kDeflated:
    case kBestMethod:
      DeflateStream(LevelForOption(DeflationOption));
      if (Method == kBestMethod) {
        if (CompressedSize >= InputSize) {
          // Deflate did not pay: the data goes in as it is, over what deflate wrote. The key
          // stream has moved on, so an encrypted entry starts again with a fresh header.
          if (decoder_ != nullptr) {
            target_.Seek(start - TAbZDecoder::kHeaderSize, soFromBeginning);
            decoder_->MakeHeader();
          } else {
            target_.Seek(start, soFromBeginning);
          }
          Method = kStored;
          StoreCopy();
          target_.SetSize(target_.Position());
        } else {
          Method = kDeflated;
        }
      }
      break;
    default:
      throw EAbZipUnsupported();
  }
  CRC32 = ~CRC32;
}

void TAbZipHelper::StoreCopy() {
  source_.Seek(0, soFromBeginning);
  TTargetWriter writer(target_, decoder_);
  std::vector<uint8_t> buffer(kCopyChunk);
  uint32_t crc = 0xFFFFFFFF;
  int32_t copied = 0;
  while (copied < InputSize) {
    const int32_t want = std::min(kCopyChunk, InputSize - copied);
    const int32_t n = std::min(source_.Read(buffer.data(), want), want);
    if (n <= 0) break;
    UpdateCrc32(crc, buffer.data(), n);
    writer.WriteOutput(buffer.data(), n);
    copied += n;
    bool abort = false;
    ReportPercent(PercentOf(copied, InputSize), abort);
    if (abort) throw EAbUserAbort();
  }
  CRC32 = crc;
  InputSize = copied;
  CompressedSize = copied;
}

void TAbZipHelper::DeflateStream(int Level) {
  DataType = dtUnknown;
  source_.Seek(0, soFromBeginning);
  TSourceReader reader(*this);
  TTargetWriter writer(target_, decoder_);
  const TDeflateResult result = TDeflater(Level).Run(reader, writer);
  CRC32 = reader.crc;
  DataType = result.DataType;
  InputSize = reader.bytes_read;
  // A target holds less than 2 GiB (it refuses more, which ends the run as full).
  CompressedSize = static_cast<int32_t>(std::min<int64_t>(result.CompressedSize, INT32_MAX));
}

}  // namespace zipkit
