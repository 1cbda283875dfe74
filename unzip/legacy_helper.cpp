// The decoders of the older methods inside the decompressor. They take its input blocks whole
// (decrypted, across volumes) and give their output to its sink, with the CRC-32, the progress
// reports and the final flush falling where the decompressor's byte-at-a-time buffer would have
// put them.
#include <cstring>
#include <limits>

#include "support/errors.h"
#include "support/numeric.h"
#include "unzip/explode.h"
#include "unzip/legacy_io.h"
#include "unzip/unreduce.h"
#include "unzip/unshrink.h"
#include "unzip/unzip_helper.h"

namespace zipkit {
namespace {

constexpr int32_t kMaxSize = std::numeric_limits<int32_t>::max();

class HelperInput final : public legacy::Input {
 public:
  explicit HelperInput(TAbUnzipHelper& H) : h_(H) {}

  bool Next(const uint8_t*& Data, size_t& Size) override {
    if (h_.InNext > h_.InCount) {
      h_.FillInput();
      if (h_.InputEnded) return false;
      h_.InNext = 1;  // the refill handed out its first byte; the block is taken whole
    }
    Data = h_.InBuffer + (h_.InNext - 1);
    Size = static_cast<size_t>(h_.InCount - h_.InNext + 1);
    h_.InNext = h_.InCount + 1;
    return true;
  }

 private:
  TAbUnzipHelper& h_;
};

class HelperOutput final : public legacy::Output {
 public:
  explicit HelperOutput(TAbUnzipHelper& H) : h_(H) {}

  void Write(const uint8_t* Data, int32_t Size) override {
    CheckRoom(Size);
    h_.WriteToSink(Data, Size);
  }
  // Into the output buffer: the decompressor's last flush writes them.
  void Leave(const uint8_t* Data, int32_t Size) override {
    CheckRoom(Size);
    std::memcpy(h_.OutBuffer.data(), Data, static_cast<size_t>(Size));
    h_.OutFill = Size;
  }
  int64_t ProgressDue() override {
    // Without a hook nothing remembers the last percentage; report each change once.
    const uint8_t last = h_.ProgressHook ? h_.LastPercent : Percent(h_.OutFlushed);
    return legacy::FirstCountWithNewPercent(h_.OutFlushed, h_.ExpectedSize, last,
                                            [this](int64_t c) { return Percent(c); });
  }
  void Progress() override {
    bool abort = false;
    const uint8_t percent = Percent(h_.OutFlushed);
    if (percent != h_.LastPercent) h_.ReportProgress(percent, abort);
    if (abort) throw EAbUserAbort();
  }

 private:
  uint8_t Percent(int64_t Count) const {
    return PercentOf(static_cast<int32_t>(Count < kMaxSize ? Count : kMaxSize), h_.ExpectedSize);
  }
  // Output sizes are signed 32-bit: a stream that decodes to more is damaged.
  void CheckRoom(int32_t Size) const {
    if (Size > kMaxSize - h_.OutFlushed - h_.OutFill) throw EAbZipBadCRC();
  }

  TAbUnzipHelper& h_;
};

// Runs a decoder; data it refuses to follow fails the item as damaged.
template <typename Decode>
void RunLegacy(TAbUnzipHelper& H, Decode&& Run) {
  HelperInput in(H);
  HelperOutput out(H);
  try {
    Run(in, out);
  } catch (const legacy::CorruptInput&) {
    throw EAbZipBadCRC();
  } catch (const legacy::InvalidFactor&) {
    throw EAbZipInvalidFactor();
  }
}

}  // namespace

void TAbUnzipHelper::Unshrink() {
  RunLegacy(*this, [&](legacy::Input& In, legacy::Output& Out) {
    legacy::Unshrink(In, Out, ExpectedSize);
  });
}

void TAbUnzipHelper::Unreduce() {
  RunLegacy(*this, [&](legacy::Input& In, legacy::Output& Out) {
    legacy::Unreduce(In, Out, ExpectedSize, Method - 1);
  });
}

void TAbUnzipHelper::Explode() {
  RunLegacy(*this, [&](legacy::Input& In, legacy::Output& Out) {
    legacy::Explode(In, Out, ExpectedSize, Dictionary == 2, Trees == 3);
  });
}

}  // namespace zipkit
