#include "support/bit_bucket.h"

#include <algorithm>
#include <cstring>

#include "support/errors.h"

namespace zipkit {

namespace {

int32_t RingSizeFor(int32_t Size) {
  const int32_t requested = (Size == 4096 || Size == 8192 || Size == 32768) ? Size : 32768;
  return requested + 1024;
}

}  // namespace

TAbBitBucketStream::TAbBitBucketStream(int32_t Size)
    : RingBuffer(new uint8_t[static_cast<size_t>(RingSizeFor(Size))]),
      RingSize(RingSizeFor(Size)) {}

int32_t TAbBitBucketStream::Write(const void* Buffer, int32_t Count) {
  if (Count > RingSize) throw EAbBBSWriteTooManyBytes(Count);
  if (Count <= 0) return 0;
  if (Count > INT32_MAX - TotalWritten) throw EAbBBSWriteTooManyBytes(Count);  // 2 GiB limit
  const auto* src = static_cast<const uint8_t*>(Buffer);
  if (WriteIndex == RingSize) WriteIndex = 0;
  const int32_t first = std::min(Count, RingSize - WriteIndex);
  std::memcpy(RingBuffer.get() + WriteIndex, src, static_cast<size_t>(first));
  if (first < Count) {
    std::memcpy(RingBuffer.get(), src + first, static_cast<size_t>(Count - first));
    WriteIndex = Count - first;
  } else {
    WriteIndex += first;
  }
  TotalWritten += Count;
  LogicalPos = TotalWritten;
  ReadIndex = WriteIndex;
  return Count;
}

int32_t TAbBitBucketStream::Read(void* Buffer, int32_t Count) {
  if (Count > RingSize) throw EAbBBSReadTooManyBytes(Count);
  if (Count <= 0) return 0;
  // Both indexes may stand at RingSize itself, which is offset 0.
  const int32_t r = ReadIndex == RingSize ? 0 : ReadIndex;
  // The bytes from the position to the end, which seeks keep within the ring.
  if (TotalWritten - LogicalPos < Count) throw EAbBBSReadTooManyBytes(Count);
  auto* dst = static_cast<uint8_t*>(Buffer);
  const int32_t first = std::min(Count, RingSize - r);
  std::memcpy(dst, RingBuffer.get() + r, static_cast<size_t>(first));
  if (first < Count) std::memcpy(dst + first, RingBuffer.get(), static_cast<size_t>(Count - first));
  ReadIndex = (r + Count) % RingSize;
  LogicalPos += Count;
  return Count;
}

int32_t TAbBitBucketStream::Seek(int32_t Offset, uint16_t Origin) {
  int64_t pos;
  switch (Origin) {
    case soFromBeginning: pos = Offset; break;
    case soFromCurrent: pos = static_cast<int64_t>(LogicalPos) + Offset; break;
    case soFromEnd:
      if (Offset == 0) {
        ReadIndex = WriteIndex;
        LogicalPos = TotalWritten;
        return TotalWritten;
      }
      pos = static_cast<int64_t>(TotalWritten) + Offset;
      break;
    default: throw EAbBBSInvalidOrigin();
  }
  // At most RingSize - 1 bytes back from the end, and never before the first byte (the ring
  // holds nothing there).
  if (pos > TotalWritten || pos <= static_cast<int64_t>(TotalWritten) - RingSize || pos < 0)
    throw EAbBBSSeekOutsideBuffer();
  LogicalPos = static_cast<int32_t>(pos);
  ReadIndex = WriteIndex - (TotalWritten - LogicalPos);
  if (ReadIndex < 0) ReadIndex += RingSize;
  return LogicalPos;
}

}  // namespace zipkit
