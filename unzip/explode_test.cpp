#include "unzip/explode.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "unzip/testing/legacy_check.h"
#include "unzip/testing/test_data.h"

namespace zipkit::legacy {
namespace {

using testing::Codec;
using testing::DataKind;

const Codec kImplode[] = {{6, false, false}, {6, false, true}, {6, true, false}, {6, true, true}};

std::vector<uint8_t> Uniform(size_t Count, uint8_t Length) {
  return std::vector<uint8_t>(Count, Length);
}

// Writes an imploded stream by hand: the tree descriptions, then literals and copies.
class ImplodeStream {
 public:
  ImplodeStream(bool Dict8K, bool LiteralTree, std::vector<uint8_t> LengthTree = Uniform(64, 6),
                std::vector<uint8_t> DistanceTree = Uniform(64, 6))
      : low_bits_(Dict8K ? 7 : 6),
        min_(LiteralTree ? 3 : 2),
        literal_tree_(LiteralTree),
        lit_len_(Uniform(256, 8)),
        len_len_(std::move(LengthTree)),
        dist_len_(std::move(DistanceTree)) {
    if (LiteralTree) testing::PutTreeDescription(w_, lit_len_);
    testing::PutTreeDescription(w_, len_len_);
    testing::PutTreeDescription(w_, dist_len_);
    lit_code_ = testing::ShannonFanoCodes(lit_len_);
    len_code_ = testing::ShannonFanoCodes(len_len_);
    dist_code_ = testing::ShannonFanoCodes(dist_len_);
  }
  ImplodeStream& Literal(uint8_t B) {
    w_.Put(1, 1);
    if (literal_tree_) {
      w_.Put(lit_code_[B], lit_len_[B]);
    } else {
      w_.Put(B, 8);
    }
    return *this;
  }
  ImplodeStream& Copy(uint32_t Back, uint32_t Length) {
    const uint32_t d = Back - 1, l = Length - min_;
    w_.Put(0, 1);
    w_.Put(d, low_bits_);
    w_.Put(dist_code_.at(d >> low_bits_), dist_len_.at(d >> low_bits_));
    w_.Put(len_code_.at(std::min(l, 63u)), len_len_.at(std::min(l, 63u)));
    if (l >= 63) w_.Put(l - 63, 8);
    return *this;
  }
  ImplodeStream& Raw(uint32_t Bits, int Count) {
    w_.Put(Bits, Count);
    return *this;
  }
  std::vector<uint8_t> Finish() { return w_.Finish(); }

 private:
  testing::BitWriter w_;
  int low_bits_;
  uint32_t min_;
  bool literal_tree_;
  std::vector<uint8_t> lit_len_, len_len_, dist_len_;
  std::vector<uint16_t> lit_code_, len_code_, dist_code_;
};

std::vector<uint8_t> Decode(const Codec& C, const std::vector<uint8_t>& In, int64_t Expected) {
  testing::Decoded d = testing::DecodeFast(C, In, Expected);
  EXPECT_FALSE(d.corrupt);
  return d.bytes;
}

std::vector<uint8_t> Bytes(const std::string& S) { return {S.begin(), S.end()}; }

TEST(Explode, RoundTripsEveryDictionaryAndTreeCount) {
  for (const Codec& c : kImplode)
    for (DataKind kind : {DataKind::kText, DataKind::kRandom, DataKind::kRuns, DataKind::kBinary}) {
      SCOPED_TRACE(c.Label() + " " + testing::Name(kind));
      const std::vector<uint8_t> data = testing::MakeData(kind, 400000, 3);
      const std::vector<uint8_t> packed = testing::Encode(c, data);
      const auto out = Decode(c, packed, static_cast<int64_t>(data.size()));
      ASSERT_EQ(out.size(), data.size());
      EXPECT_TRUE(out == data);
    }
}

TEST(Explode, SmallItemsAndBlockEdges) {
  for (const Codec& c : kImplode)
    for (size_t size : {0u, 1u, 2u, 3u, 4u, 100u, 8193u})
      for (size_t block : {1u, 5u, 4096u}) {
        const auto data = testing::MakeData(DataKind::kText, size, static_cast<uint32_t>(size));
        const auto packed = testing::Encode(c, data);
        const auto d = testing::DecodeFast(c, packed, static_cast<int64_t>(size), block);
        EXPECT_TRUE(d.bytes == data) << c.Label() << " size " << size << " block " << block;
      }
}

// The byte-at-a-time decoder is the reference for the bytes and for the points where progress
// is reported, also when the item's size is wrong.
TEST(Explode, AgreesWithTheReferenceOnBytesAndProgress) {
  for (const Codec& c : kImplode)
    for (DataKind kind : {DataKind::kText, DataKind::kRuns, DataKind::kRandom})
      for (int64_t scale : {2, 1, 4}) {  // expected size: the true one, half, twice
        const auto data = testing::MakeData(kind, 30000, 9);
        const auto packed = testing::Encode(c, data);
        const int64_t expected = static_cast<int64_t>(data.size()) * 2 / scale;
        const auto fast = testing::DecodeFast(c, packed, expected, 777);
        const auto ref = testing::DecodeReference(c, packed, expected);
        SCOPED_TRACE(c.Label() + " " + testing::Name(kind) + " expected " +
                     std::to_string(expected));
        EXPECT_TRUE(fast.bytes == ref.bytes);
        EXPECT_EQ(fast.reports, ref.reports);
        EXPECT_FALSE(ref.reports.empty());
      }
}

TEST(Explode, DamagedDataStaysInBoundsAndAgreesWithTheReference) {
  std::mt19937 rng(2024);
  for (const Codec& c : kImplode)
    for (int i = 0; i < 400; ++i) {
      std::vector<uint8_t> in(rng() % 700);
      for (auto& b : in) b = static_cast<uint8_t>(rng());
      const int64_t expected = rng() % 5000;
      const auto fast = testing::DecodeFast(c, in, expected, 1 + rng() % 64);
      const auto ref = testing::DecodeReference(c, in, expected);
      ASSERT_TRUE(fast.bytes == ref.bytes) << c.Label() << " case " << i;
      ASSERT_EQ(fast.reports, ref.reports) << c.Label() << " case " << i;
      EXPECT_FALSE(fast.corrupt);
      // The loop stops at the size, or when the data ends; the last copy may run over.
      EXPECT_LE(static_cast<int64_t>(fast.bytes.size()), std::max<int64_t>(expected, 0) + 321);
    }
}

TEST(Explode, ShortestAndLongestCopiesDependOnTheTreeCount) {
  struct Case {
    bool literal_tree;
    uint32_t length;
  };
  for (const Case& k : {Case{false, 2}, Case{true, 3}, Case{false, 320}, Case{true, 321}}) {
    const Codec c{6, false, k.literal_tree};
    const auto packed =
        ImplodeStream(false, k.literal_tree).Literal('x').Copy(1, k.length).Literal('y').Finish();
    std::vector<uint8_t> want(1 + k.length, 'x');
    want.push_back('y');
    EXPECT_EQ(Decode(c, packed, static_cast<int64_t>(want.size())), want) << k.length;
  }
}

TEST(Explode, DistanceLowBitsFollowTheDictionarySize) {
  std::vector<uint8_t> head;
  for (int i = 0; i < 300; ++i) head.push_back(static_cast<uint8_t>(i * 13 + 5));
  for (bool dict8k : {false, true}) {
    ImplodeStream s(dict8k, false);
    for (uint8_t b : head) s.Literal(b);
    s.Copy(200, 5);  // 199 = 3 * 64 + 7 = 1 * 128 + 71
    const auto packed = s.Finish();
    std::vector<uint8_t> want = head;
    for (int i = 0; i < 5; ++i) want.push_back(head[100 + i]);
    EXPECT_EQ(Decode({6, dict8k, false}, packed, 305), want);
    // Read with the other dictionary size, the same bits mean another copy.
    EXPECT_NE(Decode({6, !dict8k, false}, packed, 305), want);
  }
}

TEST(Explode, CopiesBeforeTheStartGiveZerosAndDistanceOneRepeats) {
  const Codec c{6, true, true};
  const auto packed = ImplodeStream(true, true)
                          .Literal('q')
                          .Copy(3, 3)     // two bytes before the start, then the 'q'
                          .Copy(1, 4)     // repeats the last byte
                          .Copy(8192, 3)  // as far as an 8 KB dictionary reaches: before the start
                          .Copy(10, 4)
                          .Finish();
  const std::vector<uint8_t> want = {'q', 0, 0, 'q', 'q', 'q', 'q', 'q', 0, 0, 0, 0, 0, 'q', 'q'};
  EXPECT_EQ(Decode(c, packed, 15), want);
}

TEST(Explode, EmptyItemStillReadsItsTrees) {
  // Count the blocks taken, one byte each: exactly the two descriptions (5 bytes each).
  struct Counting : Input {
    MemoryInput in;
    int taken = 0;
    explicit Counting(const std::vector<uint8_t>& D) : in(D.data(), D.size(), 1) {}
    bool Next(const uint8_t*& Data, size_t& Size) override {
      const bool more = in.Next(Data, Size);
      taken += more;
      return more;
    }
  };
  auto packed = ImplodeStream(false, false).Finish();
  ASSERT_EQ(packed.size(), 10u);
  packed.insert(packed.end(), {0xFF, 0xFF, 0xFF});
  Counting in(packed);
  testing::RecordingOutput out(0);
  Explode(in, out, 0, false, false);
  out.Close();
  EXPECT_TRUE(out.bytes.empty());
  EXPECT_EQ(in.taken, 10);
  EXPECT_TRUE(out.reports.empty());
}

TEST(Explode, CodeMatchingNoEntryDecodesAsZeroAfterTheLongestLength) {
  // A distance tree of two 2-bit codes: the bits 0, 0 are value 1 and 0, 1 value 0; a first
  // bit of 1 matches nothing.
  const Codec c{6, false, false};
  ImplodeStream s(false, false, Uniform(64, 6), {2, 2});
  s.Literal('a').Literal('b').Literal('c');
  // Copy: low bits 1 (back 2), distance bits "1 1" (no match: 0), then length 0 (2 bytes).
  s.Raw(0, 1).Raw(1, 6).Raw(1, 1).Raw(1, 1);
  s.Raw(testing::ShannonFanoCodes(Uniform(64, 6))[0], 6);
  s.Literal('d');
  const auto packed = s.Finish();
  const std::vector<uint8_t> want = Bytes("abcbcd");
  EXPECT_EQ(Decode(c, packed, 6), want);
  EXPECT_TRUE(testing::DecodeReference(c, packed, 6).bytes == want);
}

TEST(Explode, UncoveredEntriesNeverDecodeAndSurplusLengthsAreDropped) {
  const Codec c{6, false, false};
  // A length tree whose description covers only 4 entries: a complete 2-bit code of its own.
  {
    ImplodeStream s(false, false, Uniform(4, 2));
    s.Literal('z').Copy(1, 5).Copy(1, 2);
    const std::vector<uint8_t> want(8, 'z');
    EXPECT_EQ(Decode(c, s.Finish(), 8), want);
  }
  // Descriptions for 80 entries of a 64-entry tree: the last 16 are dropped, and the codes are
  // those of 64 entries of length 6.
  {
    testing::BitWriter w;
    for (int tree = 0; tree < 2; ++tree) {
      w.Put(4, 8);  // five bytes follow
      for (int i = 0; i < 5; ++i) w.Put((15 << 4) | 5, 8);
    }
    const auto code = testing::ShannonFanoCodes(Uniform(64, 6));
    w.Put(1, 1);
    w.Put('k', 8);
    w.Put(0, 1);
    w.Put(0, 6);
    w.Put(code[0], 6);   // distance high part 0: back 1
    w.Put(code[40], 6);  // length 40 + 2
    const auto out = Decode(c, w.Finish(), 43);
    EXPECT_EQ(out, std::vector<uint8_t>(43, 'k'));
  }
}

}  // namespace
}  // namespace zipkit::legacy
