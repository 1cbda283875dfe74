// The deflate bit writer: bits go out least significant first, through a 64-bit accumulator
// into a byte buffer that is handed to the output whenever it fills.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "compress/deflate.h"

namespace zipkit::deflate_detail {

class TBitWriter {
 public:
  // Bytes collected before they go to the output.
  static constexpr int32_t kBufferSize = 8192;

  explicit TBitWriter(TDeflateOutput& Output) : output_(Output) {}

  // Sends the low `n` bits of `value` (n <= 32, no bits above them set).
  void PutBits(uint32_t value, uint32_t n) {
    bits_ |= static_cast<uint64_t>(value) << count_;
    count_ += n;
    if (count_ >= 32) {
      StoreLE32(buffer_ + fill_, static_cast<uint32_t>(bits_));
      fill_ += 4;
      bits_ >>= 32;
      count_ -= 32;
      if (fill_ >= kBufferSize) FlushBuffer();
    }
  }

  // Pads to a byte boundary with zero bits and hands everything collected to the output.
  void AlignOutput() {
    while (count_ > 0) {
      buffer_[fill_++] = static_cast<uint8_t>(bits_);
      bits_ >>= 8;
      count_ = count_ > 8 ? count_ - 8 : 0;
    }
    bits_ = 0;
    FlushBuffer();
  }

  // Bytes that bypass the buffer (a stored block's data); the writer must be aligned.
  void PutAlignedBytes(const uint8_t* data, int32_t n) {
    FlushBuffer();
    if (n > 0) {
      output_.WriteOutput(data, n);
      total_ += n;
    }
  }

  void FlushBuffer() {
    if (fill_ == 0) return;
    const int32_t n = fill_;
    fill_ = 0;
    output_.WriteOutput(buffer_, n);
    total_ += n;
  }

  // Bytes handed to the output so far.
  int64_t Total() const { return total_; }

 private:
  static void StoreLE32(uint8_t* p, uint32_t v) {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
  }

  TDeflateOutput& output_;
  uint64_t bits_ = 0;
  uint32_t count_ = 0;
  int32_t fill_ = 0;
  int64_t total_ = 0;
  uint8_t buffer_[kBufferSize + 8];
};

}  // namespace zipkit::deflate_detail
