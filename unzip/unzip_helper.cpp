#include "unzip/unzip_helper.h"

#include <algorithm>

#include "support/errors.h"
#include "support/sliding_window.h"
#include "support/crc32.h"
#include "support/percent.h"

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

  // The older methods copy earlier output by seeking back in what they write.
  std::unique_ptr<TabSlidingWindowStream> window;
  if (Method >= 2 && Method <= 6) {
    window = std::make_unique<TabSlidingWindowStream>(*Target);
    Sink = window.get();
  } else {
    Sink = Target;
  }

  InRemaining = PackedBytes;
  InNext = kInBufferSize + 1;
  if (CheckHeader) {
    CheckHeader();
    InRemaining -= 12;
  }

  auto finish = [&] {
    FlushOutput();
    window.reset();  // writes the chunks it still holds
    Sink = Target;
  };
  try {
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
  if (!Spanned) return;
  TStream& in = *StreamSlot;
  if (in.Position() != in.Size()) return;
  ++CurrentDisk;
  if (!OpenSpannedVolume) throw EAbZipBadSpanStream();
  OpenSpannedVolume(CurrentDisk);
}

int32_t TAbUnzipHelper::ReadBlock() {
  NextVolumeIfAtEnd();
  TStream& in = *StreamSlot;
  int32_t n = std::min(InRemaining, kInBufferSize);
  const int32_t left = in.Size() - in.Position();
  if (n >= left) n = left;  // a read never crosses the end of a volume
  const int32_t got = n > 0 ? in.Read(InBuffer, n) : 0;
  if (got <= 0) throw EAbReadError();
  if (DecryptBuffer) DecryptBuffer(InBuffer, got);
  return got;
}

void TAbUnzipHelper::FillInput() {
  if (InRemaining == 0) {
    InputEnded = true;
    InNext = InCount + 1;
    return;
  }
  InCount = ReadBlock();
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

void TAbUnzipHelper::CopyStored() {
  while (InRemaining != 0) {
    const int32_t n = ReadBlock();
    InRemaining -= n;
    WriteToSink(InBuffer, n);
    bool abort = false;
    ReportProgress(PercentOf(OutFlushed, ExpectedSize), abort);
    if (abort) throw EAbUserAbort();
  }
}

}  // namespace zipkit
