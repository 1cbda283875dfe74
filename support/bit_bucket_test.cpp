#include "support/bit_bucket.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/errors.h"
#include "support/sliding_window.h"

namespace zipkit {
namespace {

std::vector<uint8_t> Pattern(int32_t n) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
  return v;
}

// Writes n bytes of Pattern in pieces of `piece` bytes.
void Fill(TAbBitBucketStream& b, const std::vector<uint8_t>& data, int32_t piece) {
  for (size_t done = 0; done < data.size(); done += piece) {
    const auto n = static_cast<int32_t>(std::min<size_t>(piece, data.size() - done));
    ASSERT_EQ(b.Write(data.data() + done, n), n);
  }
}

TEST(BitBucket, RingSizeFollowsTheRequest) {
  struct Case {
    int32_t requested, ring;
  } cases[] = {{4096, 5120}, {8192, 9216}, {32768, 33792}, {0, 33792}, {1000, 33792}};
  for (const auto& c : cases) {
    TAbBitBucketStream b(c.requested);
    const auto data = Pattern(c.ring + 1);
    EXPECT_EQ(b.Write(data.data(), c.ring), c.ring) << c.requested;
    try {
      b.Write(data.data(), c.ring + 1);
      ADD_FAILURE() << "a write beyond the ring passed, size " << c.requested;
    } catch (const EAbBBSWriteTooManyBytes& e) {
      EXPECT_EQ(e.ErrorCode, 43);
      EXPECT_EQ(e.Message(), "BBS: request to write too many bytes [" +
                                 std::to_string(c.ring + 1) + "]");
    }
    EXPECT_EQ(b.Size(), c.ring);  // unchanged by the refused write
  }
}

TEST(BitBucket, SeekWindowIsRingSizeMinusOne) {
  TAbBitBucketStream b;
  const int32_t ring = 33792;
  const auto data = Pattern(100000);
  Fill(b, data, 7001);  // uneven pieces wrap the ring at odd places
  const int32_t w = static_cast<int32_t>(data.size());
  EXPECT_EQ(b.Seek(w - (ring - 1), soFromBeginning), w - (ring - 1));
  std::vector<uint8_t> back(ring - 1);
  EXPECT_EQ(b.Read(back.data(), ring - 1), ring - 1);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), data.end() - (ring - 1)));
  EXPECT_EQ(b.Position(), w);
  EXPECT_THROW(b.Seek(w - ring, soFromBeginning), EAbBBSSeekOutsideBuffer);
  EXPECT_THROW(b.Seek(1, soFromEnd), EAbBBSSeekOutsideBuffer);
  EXPECT_THROW(b.Seek(0, 7), EAbBBSInvalidOrigin);
  EXPECT_EQ(b.Position(), w);  // failures leave the position
}

TEST(BitBucket, ReadsOnlyWhatLiesBeforeTheEnd) {
  TAbBitBucketStream b(4096);
  const auto data = Pattern(6000);
  Fill(b, data, 1000);
  b.Seek(-10, soFromEnd);
  uint8_t buf[16];
  EXPECT_THROW(b.Read(buf, 11), EAbBBSReadTooManyBytes);
  EXPECT_EQ(b.Read(buf, 10), 10);
  EXPECT_TRUE(std::equal(buf, buf + 10, data.end() - 10));
  EXPECT_THROW(b.Read(buf, 1), EAbBBSReadTooManyBytes);
  std::vector<uint8_t> big(5121);
  try {
    b.Read(big.data(), 5121);
    ADD_FAILURE();
  } catch (const EAbBBSReadTooManyBytes& e) {
    EXPECT_EQ(e.Message(), "BBS: request to read too many bytes [5121]");
  }
}

TEST(BitBucket, SeekToEndAlwaysSucceeds) {
  TAbBitBucketStream b;
  EXPECT_EQ(b.Seek(0, soFromEnd), 0);
  const auto data = Pattern(70000);
  Fill(b, data, 32768);
  b.Seek(-5, soFromCurrent);
  EXPECT_EQ(b.Seek(0, soFromEnd), 70000);
}

TEST(BitBucket, WritingAppendsWhateverThePosition) {
  TAbBitBucketStream b;
  const auto data = Pattern(100);
  b.Write(data.data(), 100);
  b.Seek(10, soFromBeginning);
  b.Write(data.data(), 5);
  EXPECT_EQ(b.Position(), 105);
  b.Seek(100, soFromBeginning);
  uint8_t buf[5];
  b.Read(buf, 5);
  EXPECT_TRUE(std::equal(buf, buf + 5, data.begin()));
}

TEST(BitBucket, NothingBeforeTheFirstByte) {
  TAbBitBucketStream b;
  const auto data = Pattern(10);
  b.Write(data.data(), 10);
  EXPECT_THROW(b.Seek(-1, soFromBeginning), EAbBBSSeekOutsideBuffer);
}

// The test of an item decodes the older methods through a sliding window into a bucket.
TEST(BitBucket, TakesEverySlidingWindowChunk) {
  TAbBitBucketStream bucket;
  const auto data = Pattern(200000);
  {
    TabSlidingWindowStream w(bucket);
    for (size_t done = 0; done < data.size(); done += 32768) {
      const auto n = static_cast<int32_t>(std::min<size_t>(32768, data.size() - done));
      ASSERT_EQ(w.Write(data.data() + done, n), n);
    }
    w.Flush();
  }
  EXPECT_EQ(bucket.Size(), 200000);
  bucket.Seek(-1000, soFromEnd);
  std::vector<uint8_t> tail(1000);
  bucket.Read(tail.data(), 1000);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), data.end() - 1000));
}

}  // namespace
}  // namespace zipkit
