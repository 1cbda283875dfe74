#include "support/sliding_window.h"

#include <algorithm>
#include <cstring>

#include "host/exceptions.h"

namespace zipkit {

TabSlidingWindowStream::TabSlidingWindowStream(TStream& Target) : bsTarget(&Target) {
  for (auto& chunk : bsChunkTable) chunk = std::make_unique<uint8_t[]>(kChunkSize);  // zeroed
  bsTarget->Seek(0, soFromBeginning);
}

TabSlidingWindowStream::~TabSlidingWindowStream() {
  try {
    bsFlushAll();
  } catch (...) {
    // A destructor must not throw; the driver flushes explicitly and sees the error there.
  }
}

void TabSlidingWindowStream::bsWriteChunk(int32_t Index) {
  const int64_t pos = static_cast<int64_t>(bsWindowStart) + int64_t{kChunkSize} * Index;
  if (pos < 0) return;  // lies before the start of the data
  if (bsTarget->Seek(static_cast<int32_t>(pos), soFromBeginning) == -1)
    throw Exception("TabSlidingWindowStream.bsWriteChunk: seek failed");
  const int32_t count = Index == kChunkCount - 1 ? bsTailFill : kChunkSize;
  if (bsTarget->Write(bsChunkTable[Index].get(), count) != count)
    throw Exception("TabSlidingWindowStream.bsWriteChunk: write failed");
}

void TabSlidingWindowStream::bsAdvance() {
  bsWriteChunk(0);
  // The oldest block is reused as the new chunk 4; its stale bytes lie beyond the end of the
  // stream and are never read.
  std::rotate(bsChunkTable.begin(), bsChunkTable.begin() + 1, bsChunkTable.end());
  bsWindowStart += kChunkSize;
  bsChunkIndex = kChunkCount - 1;
  bsChunkPos = 0;
  bsTailFill = 0;
  bsWindowPos = kWindowSize;
}

void TabSlidingWindowStream::bsFlushAll() {
  if (!bsModified) return;
  for (int32_t i = 0; i < kChunkCount; ++i) bsWriteChunk(i);
  bsModified = false;
}

int32_t TabSlidingWindowStream::Write(const void* Buffer, int32_t Count) {
  if (static_cast<int64_t>(bsWindowStart) + bsWindowPos != bsStreamSize)
    throw Exception("TabSlidingWindowStream.Write: Not at end of stream");
  Count = std::clamp(Count, 0, kWindowSize);
  if (Count > INT32_MAX - bsStreamSize) Count = INT32_MAX - bsStreamSize;  // 2 GiB limit
  if (Count == 0) return 0;  // an empty write may come without a buffer
  const auto* src = static_cast<const uint8_t*>(Buffer);
  // The end of the stream always lies in chunk 4, at bsTailFill.
  int32_t piece = std::min(Count, kChunkSize - bsTailFill);
  std::memcpy(bsChunkTable[kChunkCount - 1].get() + bsTailFill, src, static_cast<size_t>(piece));
  bsModified = true;
  int32_t done = piece;
  int32_t fill = bsTailFill + piece;
  while (done < Count) {
    bsAdvance();
    piece = std::min(Count - done, kChunkSize);
    std::memcpy(bsChunkTable[kChunkCount - 1].get(), src + done, static_cast<size_t>(piece));
    done += piece;
    fill = piece;
  }
  bsChunkIndex = kChunkCount - 1;
  bsChunkPos = fill;
  bsTailFill = fill;
  bsWindowPos = kWindowSize + fill;
  bsStreamSize += Count;
  if (bsChunkPos == kChunkSize) bsAdvance();
  return Count;
}

int32_t TabSlidingWindowStream::Read(void* Buffer, int32_t Count) {
  const int64_t pos = static_cast<int64_t>(bsWindowStart) + bsWindowPos;
  Count = static_cast<int32_t>(std::min<int64_t>({Count, kWindowSize, bsStreamSize - pos}));
  if (Count <= 0) return 0;
  auto* dst = static_cast<uint8_t*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    if (bsChunkPos == kChunkSize) {  // the last read ended at a chunk boundary
      ++bsChunkIndex;
      bsChunkPos = 0;
    }
    const int32_t piece = std::min(Count - done, kChunkSize - bsChunkPos);
    std::memcpy(dst + done, bsChunkTable[bsChunkIndex].get() + bsChunkPos,
                static_cast<size_t>(piece));
    bsChunkPos += piece;
    done += piece;
  }
  bsWindowPos += Count;
  return Count;
}

int32_t TabSlidingWindowStream::Seek(int32_t Offset, uint16_t Origin) {
  int64_t pos;
  switch (Origin) {
    case soFromBeginning: pos = Offset; break;
    case soFromCurrent: pos = static_cast<int64_t>(bsWindowStart) + bsWindowPos + Offset; break;
    case soFromEnd: pos = static_cast<int64_t>(bsStreamSize) + Offset; break;
    default: throw Exception("TabSlidingWindowStream.Seek: invalid origin");
  }
  if (pos < bsWindowStart || pos > bsStreamSize)
    throw Exception("TabSlidingWindowStream.Seek: invalid new position");
  bsWindowPos = static_cast<int32_t>(pos - bsWindowStart);
  bsChunkIndex = bsWindowPos / kChunkSize;
  bsChunkPos = bsWindowPos % kChunkSize;
  return static_cast<int32_t>(pos);
}

}  // namespace zipkit
