// TabSlidingWindowStream: the output stream of the decoders that copy earlier output (reduce,
// implode). It keeps the newest 32 KiB of output in memory, answers the decoders' backward
// seeks and reads from there, and passes each 8 KiB chunk to the real output once, in order,
// when it leaves the window (or at Flush / destruction).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "host/stream.h"

namespace zipkit {

class TabSlidingWindowStream : public TStream {
 public:
  static constexpr int32_t kChunkSize = 8192;
  static constexpr int32_t kChunkCount = 5;
  static constexpr int32_t kWindowSize = kChunkSize * (kChunkCount - 1);  // 32768

  explicit TabSlidingWindowStream(TStream& Target);
  // Flushes what the target has not seen yet. A failure here is swallowed: call Flush first
  // when it must be reported.
  ~TabSlidingWindowStream() override;
  TabSlidingWindowStream(const TabSlidingWindowStream&) = delete;
  TabSlidingWindowStream& operator=(const TabSlidingWindowStream&) = delete;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t Seek(int32_t Offset, uint16_t Origin) override;

  // Writes every chunk still held to the target (bsFlushAll); raises on a failed write.
  void Flush() { bsFlushAll(); }

 private:
  void bsWriteChunk(int32_t Index);
  void bsAdvance();
  void bsFlushAll();

  // Chunk 0 is the oldest, chunk 4 the one being written; zero-filled at creation.
  std::array<std::unique_ptr<uint8_t[]>, kChunkCount> bsChunkTable;
  int32_t bsWindowStart = -kWindowSize;  // stream position of the first byte of chunk 0
  int32_t bsTailFill = 0;                // bytes written into chunk 4
  int32_t bsChunkIndex = kChunkCount - 1;
  int32_t bsChunkPos = 0;
  int32_t bsWindowPos = kWindowSize;  // current position minus bsWindowStart
  int32_t bsStreamSize = 0;
  bool bsModified = false;
  TStream* bsTarget;  // not owned
};

}  // namespace zipkit
