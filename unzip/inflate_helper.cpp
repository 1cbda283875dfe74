// Method 8 inside the decompressor: the inflate decoder reads the decompressor's input blocks
// and its output goes through the output buffer with the cut points of PutByte, so that the
// CRC-32, the progress reports and the abort check see what byte-by-byte storing would show.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "support/errors.h"
#include "unzip/inflate.h"
#include "unzip/unzip_helper.h"

namespace zipkit {

namespace {

class THelperInput : public TAbInflater::TInput {
 public:
  explicit THelperInput(TAbUnzipHelper& Helper) : h_(Helper) {}

  // The rest of the current block, or the next one. The decoder asks only when it needs a
  // byte past the current block, which is when FillInput would run for a byte-wise reader.
  bool NextSpan(const uint8_t*& Begin, const uint8_t*& End) override {
    if (h_.InNext > h_.InCount) {
      h_.FillInput();
      if (h_.InputEnded) return false;
      Begin = h_.InBuffer;  // FillInput handed out the first byte; the decoder takes it here
    } else {
      Begin = h_.InBuffer + (h_.InNext - 1);
    }
    End = h_.InBuffer + h_.InCount;
    h_.InNext = h_.InCount + 1;
    h_.CurrentByte = h_.InBuffer[h_.InCount - 1];
    return true;
  }

  // Past the end FillInput leaves the last byte taken in CurrentByte.
  uint8_t StaleByte() override { return h_.CurrentByte; }

 private:
  TAbUnzipHelper& h_;
};

class THelperOutput : public TAbInflater::TOutput {
 public:
  explicit THelperOutput(TAbUnzipHelper& Helper) : h_(Helper) {}

  void Put(const uint8_t* Data, size_t Count) override {
    // Sizes are signed 32-bit: output that would pass 2 GiB cannot belong to an item.
    if (static_cast<int64_t>(h_.OutFlushed) + h_.OutFill + static_cast<int64_t>(Count) > INT32_MAX)
      throw EAbZipInflateBlock();
    while (Count != 0) {
      // The buffer is flushed when it is full and when the output reaches the expected size.
      const int64_t total = static_cast<int64_t>(h_.OutFlushed) + h_.OutFill;
      int64_t room = TAbUnzipHelper::kOutBufferSize - h_.OutFill;
      if (total < h_.ExpectedSize) room = std::min<int64_t>(room, h_.ExpectedSize - total);
      const int32_t n = static_cast<int32_t>(std::min<int64_t>(room, static_cast<int64_t>(Count)));
      const bool flush = n == room;
      if (flush && h_.OutFill == 0) {
        // A whole piece: write it from where it lies; FlushOutput then only reports progress.
        h_.WriteToSink(Data, n);
        h_.FlushOutput();
      } else {
        std::memcpy(h_.OutBuffer.data() + h_.OutFill, Data, static_cast<size_t>(n));
        h_.OutFill += n;
        if (flush) h_.FlushOutput();
      }
      Data += n;
      Count -= static_cast<size_t>(n);
    }
  }

 private:
  TAbUnzipHelper& h_;
};

}  // namespace

void TAbUnzipHelper::Inflate() {
  CurrentByte = 0;
  THelperInput input(*this);
  THelperOutput output(*this);
  TAbInflater inflater(input, output, ExpectedSize > 0 ? static_cast<size_t>(ExpectedSize) : 0);
  inflater.Run();
}

}  // namespace zipkit
