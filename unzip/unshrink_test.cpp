#include "unzip/unshrink.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "unzip/testing/legacy_check.h"
#include "unzip/testing/test_data.h"

namespace zipkit::legacy {
namespace {

using testing::DataKind;

const testing::Codec kShrink{1};

// A code stream; each code is written with the width given beside it (9 unless widened).
std::vector<uint8_t> Codes(const std::vector<std::pair<uint32_t, int>>& C) {
  testing::BitWriter w;
  for (auto [code, width] : C) w.Put(code, width);
  return w.Finish();
}
std::vector<uint8_t> Codes9(const std::vector<uint32_t>& C) {
  std::vector<std::pair<uint32_t, int>> v;
  for (uint32_t c : C) v.push_back({c, 9});
  return Codes(v);
}
std::string Text(const std::vector<uint8_t>& B) { return {B.begin(), B.end()}; }

TEST(Unshrink, DecodesHandWrittenCodeStreams) {
  struct Case {
    const char* what;
    std::vector<uint8_t> in;
    std::string out;
  };
  const Case cases[] = {
      {"empty data", {}, ""},
      {"a code defined by the one before", Codes9({65, 66, 257}), "ABAB"},
      {"a code used in the step that defines it", Codes9({65, 257}), "AAA"},
      {"widening makes the codes after it wider",
       Codes({{65, 9}, {256, 9}, {1, 9}, {66, 10}, {257, 10}, {256, 10}, {1, 10}, {258, 11}}),
       "ABABBA"},
      {"another sub-code does nothing", Codes9({65, 256, 7, 66, 256, 0, 257}), "ABAB"},
      // 257 AB, 258 BA, 259 ABB, 260 BAA; the clear frees the leaves 259 and 260; then 259
      // becomes ABC and 260 CA, while 257 and 258 keep their strings.
      {"a partial clear frees the leaves and reuses the lowest code",
       Codes9({65, 66, 257, 258, 257, 256, 2, 67, 259, 260, 258}), "ABABBAABCABCCABA"},
      {"an incomplete last code is not used", {0x41, 0x84}, "A"},
  };
  for (const Case& c : cases) {
    const auto d = testing::DecodeFast(kShrink, c.in, static_cast<int64_t>(c.out.size()));
    EXPECT_EQ(Text(d.bytes), c.out) << c.what;
    EXPECT_FALSE(d.corrupt) << c.what;
  }
}

TEST(Unshrink, RoundTripsWithWideningAndPartialClears) {
  struct Variant {
    const char* what;
    testing::ShrinkOptions options;
    size_t size;
  };
  const Variant variants[] = {
      {"clear when full", {true, 0, false}, 300000},
      {"full dictionary, never cleared", {false, 0, false}, 300000},
      {"clear every 300 codes", {true, 300, false}, 300000},
      {"clear after every code", {false, 1, false}, 20000},
      {"widen early", {true, 0, true}, 300000},
  };
  for (const Variant& v : variants)
    for (DataKind kind : {DataKind::kText, DataKind::kRandom, DataKind::kRuns, DataKind::kBinary}) {
      SCOPED_TRACE(std::string(v.what) + " " + testing::Name(kind));
      const auto data = testing::MakeData(kind, v.size, 5);
      const auto packed = testing::Shrink(data, v.options);
      const auto d = testing::DecodeFast(kShrink, packed, static_cast<int64_t>(data.size()));
      ASSERT_EQ(d.bytes.size(), data.size());
      EXPECT_TRUE(d.bytes == data);
    }
}

TEST(Unshrink, SmallItemsAndBlockEdges) {
  for (size_t size : {1u, 2u, 3u, 100u, 5000u})
    for (size_t block : {1u, 2u, 3u, 4096u}) {
      const auto data = testing::MakeData(DataKind::kBinary, size, static_cast<uint32_t>(size));
      const auto d =
          testing::DecodeFast(kShrink, testing::Shrink(data), static_cast<int64_t>(size), block);
      EXPECT_TRUE(d.bytes == data) << "size " << size << " block " << block;
    }
}

// Writes reach the target as the old decoder's buffer did (full blocks, and one at the item's
// size), and progress is reported at the same points, also when the size is wrong.
TEST(Unshrink, AgreesWithTheReferenceOnBytesWritesAndProgress) {
  for (DataKind kind : {DataKind::kText, DataKind::kRuns, DataKind::kRandom})
    for (int64_t scale : {2, 1, 4}) {
      const auto data = testing::MakeData(kind, 150000, 11);
      const auto packed = testing::Shrink(data, {true, 700, false});
      const int64_t expected = static_cast<int64_t>(data.size()) * 2 / scale;
      const auto fast = testing::DecodeFast(kShrink, packed, expected, 1000);
      const auto ref = testing::DecodeReference(kShrink, packed, expected);
      SCOPED_TRACE(std::string(testing::Name(kind)) + " expected " + std::to_string(expected));
      EXPECT_TRUE(fast.bytes == data);
      EXPECT_TRUE(fast.bytes == ref.bytes);
      EXPECT_EQ(fast.writes, ref.writes);
      EXPECT_EQ(fast.reports, ref.reports);
      EXPECT_FALSE(ref.reports.empty());
    }
}

TEST(Unshrink, RefusesCodesWiderThanThirteenBitsAndEndlessStrings) {
  struct Case {
    const char* what;
    std::vector<uint8_t> in;
    std::string before;  // what was put out before the failure
  };
  const Case cases[] = {
      {"a fifth widening",
       Codes({{65, 9},
              {256, 9},
              {1, 9},
              {256, 10},
              {1, 10},
              {256, 11},
              {1, 11},
              {256, 12},
              {1, 12},
              {66, 13},
              {256, 13},
              {1, 13},
              {67, 13}}),
       "AB"},
      {"a first code that is no byte, used again", Codes9({300, 300}), ","},
      // 258 is read before it exists, so its own number becomes the prefix of 258.
      {"a code whose prefix is itself", Codes9({65, 258, 66, 258}), "AAAB"},
  };
  for (const Case& c : cases) {
    const auto d = testing::DecodeFast(kShrink, c.in, 100);
    EXPECT_TRUE(d.corrupt) << c.what;
    EXPECT_EQ(Text(d.bytes).substr(0, c.before.size()), c.before) << c.what;
    EXPECT_LE(d.bytes.size(), 8194u) << c.what;
    EXPECT_TRUE(testing::DecodeReference(kShrink, c.in, 100).corrupt) << c.what;
  }
}

TEST(Unshrink, DamagedDataStaysInBoundsAndAgreesWithTheReference) {
  std::mt19937 rng(77);
  int corrupt = 0;
  // Random bytes, and valid streams with widening and frequent clears that are then damaged.
  const auto valid =
      testing::Shrink(testing::MakeData(DataKind::kText, 20000, 3), {true, 40, true});
  for (int i = 0; i < 3000; ++i) {
    std::vector<uint8_t> in;
    if (i % 2) {
      in.resize(rng() % 400);
      for (auto& b : in) b = static_cast<uint8_t>(rng());
    } else {
      const size_t from = rng() % (valid.size() - 500);
      in.assign(valid.begin() + from, valid.begin() + from + rng() % 500);
      for (int flips = 1 + rng() % 4; flips > 0 && !in.empty(); --flips)
        in[rng() % in.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    const int64_t expected = rng() % 40000;
    const auto fast = testing::DecodeFast(kShrink, in, expected, 1 + rng() % 100);
    const auto ref = testing::DecodeReference(kShrink, in, expected);
    ASSERT_EQ(fast.corrupt, ref.corrupt) << "case " << i;
    ASSERT_TRUE(fast.bytes == ref.bytes) << "case " << i;
    ASSERT_EQ(fast.writes, ref.writes) << "case " << i;
    ASSERT_EQ(fast.reports, ref.reports) << "case " << i;
    corrupt += fast.corrupt;
  }
  EXPECT_GT(corrupt, 0);
}

}  // namespace
}  // namespace zipkit::legacy
