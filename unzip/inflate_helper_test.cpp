// Method 8 through the decompressor: its input blocks, its output buffer's flush points, the
// CRC-32, progress reports and the abort check.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "host/stream.h"
#include "support/errors.h"
#include "support/numeric.h"
#include "unzip/unzip_helper.h"

namespace zipkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Deflate(const Bytes& Data, int Level) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&z, static_cast<uLong>(Data.size())) + 16);
  z.next_in = const_cast<Bytef*>(Data.data());
  z.avail_in = static_cast<uInt>(Data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes Text(size_t N, uint32_t Seed) {
  static const char* const kWords[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon "};
  std::mt19937 rng(Seed);
  Bytes b;
  while (b.size() < N) {
    const char* w = kWords[rng() % 5];
    while (*w) b.push_back(static_cast<uint8_t>(*w++));
    if (rng() % 7 == 0) b.push_back(static_cast<uint8_t>(rng()));
  }
  b.resize(N);
  return b;
}

// A target that records the size of every write.
class TRecordingStream : public TMemoryStream {
 public:
  int32_t Write(const void* Buffer, int32_t Count) override {
    Writes.push_back(Count);
    return TMemoryStream::Write(Buffer, Count);
  }
  Bytes Contents() { return Bytes(Memory(), Memory() + Size()); }
  std::vector<int32_t> Writes;
};

struct TRun {
  bool Ok = false;
  bool Aborted = false;
  bool Inflate = false;  // failed with EAbZipInflateBlock
  uint32_t Crc = 0;
  Bytes Output;
  std::vector<int32_t> Writes;
  std::vector<uint8_t> Progress;
};

// Decompresses Stream as the compressed data of a method 8 item.
TRun Extract(const Bytes& Stream, int32_t ExpectedSize, int AbortAtReport = 0) {
  std::unique_ptr<TStream> archive = std::make_unique<TMemoryStream>();
  archive->WriteBuffer(Stream.data(), static_cast<int32_t>(Stream.size()));
  archive->SetPosition(0);
  TRecordingStream target;
  TAbUnzipHelper helper(archive, nullptr, target);
  helper.PackedBytes = static_cast<int32_t>(Stream.size());
  helper.ExpectedSize = ExpectedSize;
  helper.Method = 8;
  TRun r;
  helper.ProgressHook = [&](uint8_t Percent, bool& Abort) {
    r.Progress.push_back(Percent);
    if (static_cast<int>(r.Progress.size()) == AbortAtReport) Abort = true;
  };
  try {
    r.Crc = helper.Decompress();
    r.Ok = true;
  } catch (const EAbUserAbort&) {
    r.Aborted = true;
  } catch (const EAbZipInflateBlock&) {
    r.Inflate = true;
  }
  r.Output = target.Contents();
  r.Writes = target.Writes;
  return r;
}

// The writes and reports that storing the bytes one at a time gives: the buffer is flushed when
// it holds 32768 bytes or when the output reaches the expected size, and once more at the end.
void ByteWiseFlushes(int64_t Total, int32_t ExpectedSize, std::vector<int32_t>& Writes,
                     std::vector<uint8_t>& Progress) {
  int32_t fill = 0, flushed = 0;
  uint8_t last = 0;
  auto flush = [&] {
    if (fill != 0) Writes.push_back(fill);
    flushed += fill;
    fill = 0;
    const uint8_t percent = PercentOf(flushed, ExpectedSize);
    if (percent != last) {
      Progress.push_back(percent);
      last = percent;
    }
  };
  for (int64_t i = 0; i < Total; ++i) {
    ++fill;
    if (fill == 32768 || flushed + fill == ExpectedSize) flush();
  }
  flush();
}

uint32_t Crc(const Bytes& Data) {
  return static_cast<uint32_t>(crc32(0, Data.data(), static_cast<uInt>(Data.size())));
}

TEST(InflateHelper, OutputCrcWritesAndProgressMatchByteWiseStoring) {
  struct TCase {
    const char* Name;
    size_t Size;
    int64_t ExpectedDelta;  // ExpectedSize = Size + delta
  };
  const TCase cases[] = {
      {"empty output", 0, 0},           {"one byte", 1, 0},
      {"below one buffer", 30000, 0},   {"exactly one buffer", 32768, 0},
      {"many buffers", 1000003, 0},     {"expected size too small", 200000, -70001},
      {"expected size too large", 100000, 5000}, {"expected size zero", 70000, -70000},
      {"far more output than expected", 3000000, -2999990},
  };
  for (const TCase& c : cases) {
    const Bytes data = Text(c.Size, static_cast<uint32_t>(c.Size));
    const int32_t expected = static_cast<int32_t>(static_cast<int64_t>(c.Size) + c.ExpectedDelta);
    const TRun r = Extract(Deflate(data, 6), expected);
    ASSERT_TRUE(r.Ok) << c.Name;
    EXPECT_TRUE(r.Output == data) << c.Name;
    EXPECT_EQ(r.Crc, Crc(data)) << c.Name;
    std::vector<int32_t> writes;
    std::vector<uint8_t> progress;
    ByteWiseFlushes(static_cast<int64_t>(c.Size), expected, writes, progress);
    EXPECT_EQ(r.Writes, writes) << c.Name;
    EXPECT_EQ(r.Progress, progress) << c.Name;
  }
}

TEST(InflateHelper, AbortStopsAtTheReport) {
  const Bytes data = Text(500000, 1);
  const TRun r = Extract(Deflate(data, 6), 500000, 3);
  EXPECT_TRUE(r.Aborted);
  ASSERT_EQ(r.Progress.size(), 3u);
  // Only the pieces flushed up to the third report reached the target.
  std::vector<int32_t> writes;
  std::vector<uint8_t> progress;
  ByteWiseFlushes(500000, 500000, writes, progress);
  size_t pieces = 0;
  int32_t flushed = 0;
  while (PercentOf(flushed, 500000) < progress[2]) flushed += writes[pieces++];
  EXPECT_EQ(r.Output.size(), static_cast<size_t>(flushed));
  EXPECT_TRUE(std::equal(r.Output.begin(), r.Output.end(), data.begin()));
}

TEST(InflateHelper, DamagedAndCutOffItems) {
  const Bytes data = Text(200000, 2);
  // The data in non-final blocks, a flush, then a final fixed block with only its end code.
  Bytes flushed;
  size_t finalBlock = 0;
  {
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    flushed.resize(deflateBound(&z, 200000) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = 200000;
    z.next_out = flushed.data();
    z.avail_out = static_cast<uInt>(flushed.size());
    ASSERT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
    finalBlock = z.total_out;
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    flushed.resize(z.total_out);
    deflateEnd(&z);
  }
  ASSERT_EQ(flushed[finalBlock], 0x03);  // final, fixed codes
  Bytes badType = flushed;
  badType[finalBlock] = 0x07;  // final, block type 3
  const Bytes whole = Deflate(data, 6);

  struct TCase {
    const char* Name;
    Bytes Stream;
    bool Fails;          // EAbZipInflateBlock; otherwise the CRC-32 is wrong
    size_t UnsureTail;   // bytes at the end of the output that may differ from the data
  };
  const TCase cases[] = {
      {"no compressed bytes", {}, true, 0},
      {"cut inside a block that is not the last", Bytes(flushed.begin(), flushed.begin() + 5000), true, 258},
      {"cut inside the last block", Bytes(whole.begin(), whole.end() - 100), false, 258},
      {"invalid block type after the data", badType, true, 0},
  };
  for (const TCase& c : cases) {
    const TRun r = Extract(c.Stream, 200000);
    if (c.Fails) {
      EXPECT_TRUE(r.Inflate) << c.Name;
    } else {
      ASSERT_TRUE(r.Ok) << c.Name;
      EXPECT_NE(r.Crc, Crc(data)) << c.Name;
    }
    // What was decoded before the end was written: the start of the data, but for the symbol
    // the end cut through.
    ASSERT_LE(r.Output.size(), data.size()) << c.Name;
    const size_t sure = r.Output.size() > c.UnsureTail ? r.Output.size() - c.UnsureTail : 0;
    EXPECT_TRUE(std::equal(r.Output.begin(), r.Output.begin() + static_cast<std::ptrdiff_t>(sure),
                           data.begin()))
        << c.Name;
    if (c.Stream.size() > 1000) {
      EXPECT_GT(sure, 0u) << c.Name;
    }
  }
  EXPECT_TRUE(Extract(badType, 200000).Output == data);
}

TEST(InflateHelper, BytesAfterTheFinalBlockAreIgnored) {
  const Bytes data = Text(9000, 3);
  Bytes stream = Deflate(data, 9);
  stream.resize(stream.size() + 10000, 0xEE);  // several input blocks of trailing bytes
  const TRun r = Extract(stream, 9000);
  ASSERT_TRUE(r.Ok);
  EXPECT_TRUE(r.Output == data);
  EXPECT_EQ(r.Crc, Crc(data));
}

}  // namespace
}  // namespace zipkit
