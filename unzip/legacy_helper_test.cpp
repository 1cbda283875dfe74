// The older decoders inside the decompressor: what the target receives, the CRC-32, the
// progress reports and the failures are those of the byte-at-a-time decoders on the same data.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/stream.h"
#include "support/errors.h"
#include "unzip/testing/legacy_check.h"
#include "unzip/testing/mini_zip.h"
#include "unzip/testing/test_data.h"
#include "unzip/unzip_helper.h"

namespace zipkit {
namespace {

using testing::Codec;
using testing::DataKind;
using testing::Report;

// A memory target that records every write.
class RecordingStream : public TMemoryStream {
 public:
  struct Piece {
    int32_t at, size;
    bool operator==(const Piece&) const = default;
  };
  std::vector<Piece> writes;
  int32_t Write(const void* Buffer, int32_t Count) override {
    writes.push_back({Position(), Count});
    return TMemoryStream::Write(Buffer, Count);
  }
  std::vector<uint8_t> Bytes() { return {Memory(), Memory() + Size()}; }
};

struct Outcome {
  uint32_t crc = 0;
  std::vector<uint8_t> bytes;
  std::vector<RecordingStream::Piece> writes;
  std::vector<Report> reports;
};

// Decodes Packed (followed by a few bytes that are not the item's) with the decompressor.
// AbortAt: the progress hook asks to stop at this percentage or above.
Outcome Decompress(const Codec& C, std::vector<uint8_t> Packed, int32_t Expected,
                   int AbortAt = 101) {
  const int32_t packed_size = static_cast<int32_t>(Packed.size());
  Packed.insert(Packed.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  std::unique_ptr<TStream> archive = std::make_unique<TMemoryStream>();
  archive->WriteBuffer(Packed.data(), static_cast<int32_t>(Packed.size()));
  archive->SetPosition(0);
  RecordingStream target;
  TAbUnzipHelper h(archive, nullptr, target);
  h.Method = static_cast<uint8_t>(C.method);
  h.PackedBytes = packed_size;
  h.ExpectedSize = Expected;
  h.Dictionary = C.dict_8k ? 2 : 1;
  h.Trees = C.literal_tree ? 3 : 2;
  Outcome r;
  h.ProgressHook = [&](uint8_t Percent, bool& Abort) {
    r.reports.push_back({Percent, h.OutFlushed});
    Abort = Percent >= AbortAt;
  };
  try {
    r.crc = h.Decompress();
  } catch (...) {
    r.bytes = target.Bytes();
    r.writes = target.writes;
    throw std::make_pair(std::current_exception(), r);
  }
  r.bytes = target.Bytes();
  r.writes = target.writes;
  return r;
}

const Codec kCodecs[] = {{1},
                         {2},
                         {3},
                         {4},
                         {5},
                         {6, false, false},
                         {6, false, true},
                         {6, true, false},
                         {6, true, true}};

// Writes through the sliding window: whole 8 KB chunks in order, the rest at the end.
void ExpectChunked(const std::vector<RecordingStream::Piece>& Writes, size_t Total) {
  int32_t at = 0;
  for (size_t i = 0; i < Writes.size(); ++i) {
    EXPECT_EQ(Writes[i].at, at) << i;
    if (i + 1 < Writes.size()) {
      EXPECT_EQ(Writes[i].size, 8192) << i;
    }
    at += Writes[i].size;
  }
  EXPECT_EQ(static_cast<size_t>(at), Total);
}

TEST(LegacyHelper, DecodesAsTheByteAtATimeDecodersDid) {
  for (const Codec& c : kCodecs)
    for (DataKind kind : {DataKind::kText, DataKind::kRuns})
      for (int64_t scale : {2, 1}) {  // the true size, and a size that lies (too small)
        const auto data = testing::MakeData(kind, 90000, 6);
        const auto packed = testing::Encode(c, data);
        const int32_t expected = static_cast<int32_t>(data.size() * 2 / scale);
        SCOPED_TRACE(c.Label() + " " + testing::Name(kind) + " expected " +
                     std::to_string(expected));
        const auto ref = testing::DecodeReference(c, packed, expected);
        const Outcome r = Decompress(c, packed, expected);
        EXPECT_TRUE(r.bytes == ref.bytes);
        EXPECT_EQ(r.crc, testing::Crc32(ref.bytes));
        EXPECT_EQ(r.reports, ref.reports);
        if (scale == 2) {
          EXPECT_TRUE(r.bytes == data);
        }
        if (c.method == 1) {
          // No window: the target gets the output buffer's writes themselves.
          std::vector<int32_t> sizes;
          for (const auto& w : r.writes) sizes.push_back(w.size);
          EXPECT_EQ(sizes, ref.writes);
        } else {
          ExpectChunked(r.writes, ref.bytes.size());
        }
      }
}

TEST(LegacyHelper, TruncatedDataEndsTheItemLikeTheReference) {
  for (const Codec& c : kCodecs) {
    const auto data = testing::MakeData(DataKind::kText, 20000, 2);
    auto packed = testing::Encode(c, data);
    packed.resize(packed.size() / 2);
    const auto ref = testing::DecodeReference(c, packed, 20000);
    const Outcome r = Decompress(c, packed, 20000);
    EXPECT_TRUE(r.bytes == ref.bytes) << c.Label();
    EXPECT_EQ(r.crc, testing::Crc32(ref.bytes)) << c.Label();
    EXPECT_NE(r.crc, testing::Crc32(data)) << c.Label();
  }
}

TEST(LegacyHelper, AbortFromTheProgressHookStopsWhereTheReferenceReported) {
  for (const Codec& c : kCodecs) {
    const auto data = testing::MakeData(DataKind::kRuns, 60000, 3);
    const auto packed = testing::Encode(c, data);
    const auto ref = testing::DecodeReference(c, packed, 60000);
    size_t stop = 0;
    while (ref.reports[stop].percent < 37) ++stop;
    try {
      Decompress(c, packed, 60000, 37);
      ADD_FAILURE() << c.Label() << ": no abort";
    } catch (std::pair<std::exception_ptr, Outcome>& failure) {
      EXPECT_THROW(std::rethrow_exception(failure.first), EAbUserAbort) << c.Label();
      const Outcome& r = failure.second;
      EXPECT_EQ(r.reports, std::vector<Report>(ref.reports.begin(), ref.reports.begin() + stop + 1))
          << c.Label();
      // Everything decoded up to the report reached the target, and nothing after it.
      ASSERT_EQ(r.bytes.size(), static_cast<size_t>(ref.reports[stop].at)) << c.Label();
      EXPECT_TRUE(std::equal(r.bytes.begin(), r.bytes.end(), data.begin())) << c.Label();
    }
  }
}

TEST(LegacyHelper, DamagedDataFailsTheItem) {
  struct Case {
    const char* what;
    Codec codec;
    std::vector<uint8_t> packed;
  };
  testing::BitWriter wide;  // 'A', then five widenings
  wide.Put('A', 9);
  for (int size = 9; size <= 13; ++size) {
    wide.Put(256, size);
    wide.Put(1, size);
  }
  testing::BitWriter loop;  // a first code that is no byte, then used again
  loop.Put(300, 9);
  loop.Put(300, 9);
  const Case cases[] = {{"codes past 13 bits", {1}, wide.Finish()},
                        {"a string that never ends", {1}, loop.Finish()}};
  for (const Case& c : cases) {
    try {
      Decompress(c.codec, c.packed, 100);
      ADD_FAILURE() << c.what;
    } catch (std::pair<std::exception_ptr, Outcome>& failure) {
      EXPECT_THROW(std::rethrow_exception(failure.first), EAbZipBadCRC) << c.what;
      EXPECT_FALSE(failure.second.bytes.empty()) << c.what;  // what came before is kept
    }
  }
}

TEST(LegacyHelper, UnreduceTakesItsFactorFromTheMethod) {
  // The same expanded stream means different copies under each factor.
  testing::BitWriter w;
  for (int x = 0; x < 256; ++x) w.Put(0, 6);
  const std::vector<uint8_t> expanded = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 144, 0xE1, 2};
  for (uint8_t b : expanded) w.Put(b, 8);
  const auto packed = w.Finish();
  for (int factor = 1; factor <= 4; ++factor) {
    const Codec c{factor + 1};
    const auto ref = testing::DecodeReference(c, packed, 12);
    EXPECT_TRUE(Decompress(c, packed, 12).bytes == ref.bytes) << factor;
  }
}

}  // namespace
}  // namespace zipkit
