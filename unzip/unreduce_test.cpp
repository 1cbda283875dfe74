#include "unzip/unreduce.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "unzip/testing/legacy_check.h"
#include "unzip/testing/test_data.h"

namespace zipkit::legacy {
namespace {

using testing::DataKind;

testing::Codec Reduce(int Factor) { return {Factor + 1}; }

// A reduced stream whose follower sets are all empty: every byte of the expanded stream is sent
// as a plain 8-bit value.
std::vector<uint8_t> Plain(const std::vector<uint8_t>& Expanded) {
  testing::BitWriter w;
  for (int x = 0; x < 256; ++x) w.Put(0, 6);
  for (uint8_t b : Expanded) w.Put(b, 8);
  return w.Finish();
}

TEST(Unreduce, ExpandsCopiesAndTheEscapeByte) {
  struct Case {
    const char* what;
    int factor;
    std::vector<uint8_t> expanded;
    std::vector<uint8_t> out;
  };
  std::vector<uint8_t> long_run(141, 'a');
  std::vector<uint8_t> after_ab(21, 0);
  after_ab[0] = 'a';
  after_ab[1] = 'b';
  std::vector<uint8_t> far(300, 0);
  for (int i = 0; i < 300; ++i) far[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> far_in;
  for (uint8_t b : far) {
    far_in.push_back(b);
    if (b == 144) far_in.push_back(0);
  }
  far_in.insert(far_in.end(), {144, 0x81, 0x2B});  // high bit 1, length 1 + 3, 256 + 43 + 1 back
  std::vector<uint8_t> far_out = far;
  far_out.insert(far_out.end(), {0, 1, 2, 3});
  const Case cases[] = {
      {"144, 0 is the byte 144", 1, {'A', 144, 0, 'B'}, {'A', 144, 'B'}},
      {"a copy before the start gives zeros", 4, {144, 0x02, 9, 'x'}, {0, 0, 0, 0, 0, 'x'}},
      {"factor 1: a full length field takes one more byte", 1, {'a', 144, 0x7F, 10, 0}, long_run},
      {"factor 1: the top bit of V is the high part of the distance", 1, far_in, far_out},
      // V = 144: length 16 + 3, distance 2 * 256 + 1 + 1, all before the start.
      {"144 after 144 starts a copy", 2, {'a', 'b', 144, 144, 1}, after_ab},
  };
  for (const Case& c : cases) {
    const auto d = testing::DecodeFast(Reduce(c.factor), Plain(c.expanded),
                                       static_cast<int64_t>(c.out.size()));
    EXPECT_EQ(d.bytes, c.out) << c.what;
  }
}

TEST(Unreduce, FactorDecidesLengthMaskAndReach) {
  // The longest copy at the farthest distance, for each factor.
  for (int f = 1; f <= 4; ++f) {
    const uint32_t mask = 0xFFu >> f, reach = 256u << f;
    std::vector<uint8_t> data(reach);
    for (uint32_t i = 0; i < reach; ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    std::vector<uint8_t> expanded;
    for (uint8_t b : data) {
      expanded.push_back(b);
      if (b == 144) expanded.push_back(0);
    }
    const uint32_t d = reach - 1;
    expanded.insert(expanded.end(), {144, static_cast<uint8_t>(((d >> 8) << (8 - f)) | mask), 255,
                                     static_cast<uint8_t>(d)});
    std::vector<uint8_t> want = data;
    for (uint32_t i = 0; i < mask + 258; ++i) want.push_back(want[want.size() - reach]);
    const auto out =
        testing::DecodeFast(Reduce(f), Plain(expanded), static_cast<int64_t>(want.size()));
    EXPECT_EQ(out.bytes.size(), want.size()) << "factor " << f;
    EXPECT_TRUE(out.bytes == want) << "factor " << f;
  }
}

TEST(Unreduce, FollowerSetsDecideHowEachByteIsRead) {
  testing::BitWriter w;
  for (int x = 255; x >= 0; --x) {
    if (x == 0) {  // one follower: indexed with 1 bit
      w.Put(1, 6);
      w.Put('Q', 8);
    } else if (x == 'Q') {  // three: 2 bits
      w.Put(3, 6);
      for (uint8_t b : {'x', 'y', 'z'}) w.Put(b, 8);
    } else {
      w.Put(0, 6);
    }
  }
  w.Put(0, 1);  // after 0: follower 0
  w.Put(0, 1);
  w.Put(0, 1);  // after Q: follower 2
  w.Put(2, 2);
  w.Put('R', 8);  // after z (no set): 8 plain bits, no flag
  w.Put('Q', 8);  // after R: the same
  w.Put(1, 1);    // after Q: flag 1, a plain byte
  w.Put('S', 8);
  const auto d = testing::DecodeFast(Reduce(3), w.Finish(), 5);
  EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), "QzRQS");
}

TEST(Unreduce, RoundTripsEveryFactorOverLongRepeats) {
  for (int f = 1; f <= 4; ++f) {
    testing::ReduceOptions o;
    o.factor = f;
    // The test data must hold the longest copies.
    const auto runs = testing::MakeData(DataKind::kRuns, 300000, 4);
    const auto expanded = testing::ReduceExpand(runs, o);
    int longest = 0;
    for (size_t i = 0; i + 2 < expanded.size(); ++i)
      if (expanded[i] == 144 && (expanded[i + 1] & (0xFF >> f)) == (0xFF >> f) &&
          expanded[i + 2] == 255)
        ++longest;
    EXPECT_GT(longest, 10) << "factor " << f;

    for (int followers : {32, 0, 1, 2, 5})
      for (DataKind kind :
           {DataKind::kRuns, DataKind::kText, DataKind::kBinary, DataKind::kRandom}) {
        SCOPED_TRACE("factor " + std::to_string(f) + " followers " + std::to_string(followers) +
                     " " + testing::Name(kind));
        o.max_followers = followers;
        const auto data = testing::MakeData(kind, 120000, 4);
        const auto d = testing::DecodeFast(Reduce(f), testing::Reduce(data, o),
                                           static_cast<int64_t>(data.size()));
        ASSERT_EQ(d.bytes.size(), data.size());
        EXPECT_TRUE(d.bytes == data);
      }
  }
}

TEST(Unreduce, SmallItemsAndBlockEdges) {
  for (int f = 1; f <= 4; ++f)
    for (size_t size : {0u, 1u, 2u, 3u, 4u, 200u, 6000u})
      for (size_t block : {1u, 3u, 4096u}) {
        testing::ReduceOptions o;
        o.factor = f;
        const auto data = testing::MakeData(DataKind::kRuns, size, static_cast<uint32_t>(size));
        const auto d = testing::DecodeFast(Reduce(f), testing::Reduce(data, o),
                                           static_cast<int64_t>(size), block);
        EXPECT_TRUE(d.bytes == data) << "factor " << f << " size " << size << " block " << block;
      }
}

TEST(Unreduce, AgreesWithTheReferenceOnBytesAndProgress) {
  for (int f = 1; f <= 4; ++f)
    for (int64_t scale : {2, 1, 4}) {
      testing::ReduceOptions o;
      o.factor = f;
      const auto data = testing::MakeData(DataKind::kRuns, 40000, 8);
      const auto packed = testing::Reduce(data, o);
      const int64_t expected = static_cast<int64_t>(data.size()) * 2 / scale;
      const auto fast = testing::DecodeFast(Reduce(f), packed, expected, 333);
      const auto ref = testing::DecodeReference(Reduce(f), packed, expected);
      SCOPED_TRACE("factor " + std::to_string(f) + " expected " + std::to_string(expected));
      EXPECT_TRUE(fast.bytes == ref.bytes);
      EXPECT_EQ(fast.reports, ref.reports);
      EXPECT_FALSE(ref.reports.empty());
    }
}

TEST(Unreduce, DamagedDataStaysInBoundsAndAgreesWithTheReference) {
  std::mt19937 rng(99);
  for (int i = 0; i < 2000; ++i) {
    const int f = 1 + i % 4;
    std::vector<uint8_t> in(rng() % 900);
    for (auto& b : in) b = static_cast<uint8_t>(rng());
    if (i % 3 == 0 && in.size() > 8) in[0] = in[1] = 0xFF;  // follower counts of 63
    const int64_t expected = rng() % 6000;
    const auto fast = testing::DecodeFast(Reduce(f), in, expected, 1 + rng() % 50);
    const auto ref = testing::DecodeReference(Reduce(f), in, expected);
    ASSERT_TRUE(fast.bytes == ref.bytes) << "case " << i;
    ASSERT_EQ(fast.reports, ref.reports) << "case " << i;
    EXPECT_LE(static_cast<int64_t>(fast.bytes.size()), std::max<int64_t>(expected, 0) + 385);
  }
}

TEST(Unreduce, FactorOutsideOneToFourFailsAtTheFirstCopy) {
  for (int factor : {0, 5, -1}) {
    const auto in = Plain({'a', 'b', 144, 0, 'c', 144, 3, 1, 'd'});
    MemoryInput input(in.data(), in.size());
    testing::RecordingOutput out(100);
    EXPECT_THROW(Unreduce(input, out, 100, factor), InvalidFactor) << factor;
    out.Close();
    EXPECT_EQ(out.bytes, (std::vector<uint8_t>{'a', 'b', 144, 'c'})) << factor;
  }
}

}  // namespace
}  // namespace zipkit::legacy
