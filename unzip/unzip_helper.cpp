#include "unzip/unzip_helper.h"

#include <algorithm>

#include "support/crc32.h"
#include "support/errors.h"
#include "support/numeric.h"
#include "support/sliding_window.h"

namespace zipkit {

TAbUnzipHelper::TAbUnzipHelper(std::unique_ptr<TStream>& StreamSlot, TAbZDecoder* Decoder,
                               TStream& Target)
    : Sink(&Target),
      Target(&Target),
      PackedBytes(StreamSlot ? StreamSlot->Size() : 0),
      Decoder(Decoder),
      OutBuffer(kOutBufferSize, 0),
      StreamSlot(StreamSlot) {}

TAbUnzipHelper::~TAbUnzipHelper() = default;

uint32_t TAbUnzipHelper::Decompress() {
  BitsInByte = 0;
  CurrentByte = 0;
  InCount = 0;
  OutFlushed = 0;
  OutFill = 0;
  InputEnded = false;
  if (!StreamSlot) throw EAbReadError();

  // The older methods copy earlier output by seeking back in what they write.
  std::unique_ptr<TabSlidingWindowStream> window;
  if (Method >= 2 && Method <= 6) {
    window = std::make_unique<TabSlidingWindowStream>(*Target);
    Sink = window.get();
  } else {
    Sink = Target;
  }

  auto finish = [&] {
    FlushOutput();
    if (window) window->Flush();  // the chunks it still holds
    window.reset();
    Sink = Target;
  };
  try {
    InRemaining = PackedBytes;
    InNext = kInBufferSize + 1;
    if (CheckHeader) {
      CheckHeader();
      InRemaining -= 12;
    }
    if (InRemaining < 0) throw EAbReadError();  // smaller than its encryption header
    // Counted once; the reads below keep it, so no block needs a seek to learn it.
    TStream& in = *StreamSlot;
    VolumeLeft = std::max(in.Size() - in.Position(), 0);

    switch (Method) {
      case 0: CopyStored(); break;
      case 1: Unshrink(); break;
      case 2: case 3: case 4: case 5: Unreduce(); break;
      case 6: Explode(); break;
      case 8: Inflate(); break;
      default: throw EAbZipInvalidMethod();
    }
  } catch (...) {
    // Keep the first failure; a second one while flushing would only hide it.
    try {
      finish();
    } catch (...) {
    }
    throw;
  }
  finish();
  return ~CrcRegister;
}

// Changes to the next volume when the current one is used up (spanned sets only).
void TAbUnzipHelper::NextVolumeIfAtEnd() {
  if (!Spanned || VolumeLeft > 0) return;
  ++CurrentDisk;
  if (!OpenSpannedVolume) throw EAbZipBadSpanStream();
  OpenSpannedVolume(CurrentDisk);
  if (!StreamSlot) throw EAbReadError();
  TStream& in = *StreamSlot;
  VolumeLeft = std::max(in.Size() - in.Position(), 0);
}

int32_t TAbUnzipHelper::ReadBlock(uint8_t* Buffer, int32_t Capacity) {
  NextVolumeIfAtEnd();
  const int32_t n = std::min({InRemaining, Capacity, VolumeLeft});
  const int32_t got = n > 0 ? StreamSlot->Read(Buffer, n) : 0;
  if (got <= 0) throw EAbReadError();  // cut off while compressed bytes remain
  VolumeLeft -= got;
  if (DecryptBuffer) DecryptBuffer(Buffer, got);
  return got;
}

void TAbUnzipHelper::FillInput() {
  if (InRemaining <= 0) {
    InputEnded = true;
    InNext = InCount + 1;
    return;
  }
  InCount = ReadBlock(InBuffer, kInBufferSize);
  InRemaining -= InCount;
  InputEnded = false;
  CurrentByte = InBuffer[0];
  InNext = 2;
}

void TAbUnzipHelper::PutByte(uint8_t b) {
  OutBuffer[OutFill++] = b;
  if (OutFill == kOutBufferSize || OutFlushed + OutFill == ExpectedSize) FlushOutput();
}

void TAbUnzipHelper::WriteToSink(const uint8_t* Data, int32_t Count) {
  // A short write (a full disk) must not pass silently.
  if (Sink->Write(Data, Count) != Count) throw EAbZipStreamFull();
  UpdateCrc32(CrcRegister, Data, Count);
  OutFlushed += Count;
}

void TAbUnzipHelper::FlushOutput() {
  if (OutFill != 0) {
    const int32_t n = OutFill;
    OutFill = 0;
    WriteToSink(OutBuffer.data(), n);
  }
  bool abort = false;
  const uint8_t percent = PercentOf(OutFlushed, ExpectedSize);
  if (percent != LastPercent) ReportProgress(percent, abort);
  if (abort) throw EAbUserAbort();
}

uint32_t TAbUnzipHelper::ReadBits(int n) {
  uint32_t result = 0;
  int shift = 0;
  for (;;) {
    if (BitsInByte == 0) {
      NextByte();
      BitsInByte = 8;
    }
    if (n < BitsInByte) {
      result |= static_cast<uint32_t>(CurrentByte & ((1u << n) - 1)) << shift;
      CurrentByte = static_cast<uint8_t>(CurrentByte >> n);
      BitsInByte = static_cast<uint8_t>(BitsInByte - n);
      return result;
    }
    // Take what is left of this byte and continue with the next one.
    const int k = BitsInByte;
    result |= static_cast<uint32_t>(CurrentByte) << shift;
    CurrentByte = 0;
    BitsInByte = 0;
    shift += k;
    n -= k;
    if (n == 0) return result;
  }
}

void TAbUnzipHelper::ReportProgress(uint8_t Percent, bool& Abort) {
  if (ProgressHook && Percent != LastPercent) {
    LastPercent = Percent;
    ProgressHook(Percent, Abort);
  }
}

// Stored data needs no decoding: it goes straight from the archive through the output buffer
// (a larger block than the input buffer, so big entries cost fewer calls).
void TAbUnzipHelper::CopyStored() {
  while (InRemaining > 0) {
    const int32_t n = ReadBlock(OutBuffer.data(), kOutBufferSize);
    InRemaining -= n;
    WriteToSink(OutBuffer.data(), n);
    bool abort = false;
    ReportProgress(PercentOf(OutFlushed, ExpectedSize), abort);
    if (abort) throw EAbUserAbort();
  }
}

}  // namespace zipkit
