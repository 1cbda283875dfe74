// TAbBitBucketStream: an output stream that keeps only a ring of its newest bytes. Testing an
// item decodes into it, so the CRC-32 is checked without storing the data; the ring still
// answers the short backward seeks and reads of a sliding window above it.
#pragma once

#include <cstdint>
#include <memory>

#include "host/stream.h"

namespace zipkit {

class TAbBitBucketStream : public TStream {
 public:
  // Size 4096, 8192 or 32768; anything else (0 included) means 32768. The ring holds 1024
  // bytes more.
  explicit TAbBitBucketStream(int32_t Size = 0);

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t Seek(int32_t Offset, uint16_t Origin) override;

 private:
  std::unique_ptr<uint8_t[]> RingBuffer;  // not initialised
  int32_t RingSize;
  int32_t ReadIndex = 0;     // ring offset of the byte at the current position
  int32_t LogicalPos = 0;    // current position
  int32_t TotalWritten = 0;  // the stream's size
  int32_t WriteIndex = 0;    // ring offset of the next byte written
};

}  // namespace zipkit
