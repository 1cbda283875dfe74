#include "unzip/legacy_io.h"

#include <gtest/gtest.h>

#include <vector>

#include "unzip/testing/bit_writer.h"
#include "unzip/testing/reference_decoders.h"

namespace zipkit::legacy {
namespace {

// Reads the widths in Reads from Data cut into blocks of Block bytes; returns the values and,
// after each read, whether the reader had ended.
std::vector<std::pair<uint32_t, bool>> ReadAll(const std::vector<uint8_t>& Data, size_t Block,
                                               const std::vector<int>& Reads) {
  MemoryInput in(Data.data(), Data.size(), Block);
  BitReader r(in);
  std::vector<std::pair<uint32_t, bool>> out;
  for (int n : Reads) {
    const uint32_t v = r.Bits(n);
    out.push_back({v, r.Ended()});
  }
  return out;
}

TEST(BitReader, HandsOutBitsLeastSignificantFirstAcrossBlocks) {
  // Values of every width written and read back, whatever the block size.
  const std::vector<int> widths = {1, 9, 13, 8, 3, 16, 7, 32, 5, 12, 2, 11, 6, 24, 4};
  std::vector<uint32_t> values;
  testing::BitWriter w;
  uint32_t seed = 12345;
  for (int round = 0; round < 40; ++round)
    for (int n : widths) {
      seed = seed * 1103515245u + 12345u;
      const uint32_t v = n == 32 ? seed : seed & ((1u << n) - 1);
      values.push_back(v);
      w.Put(v, n);
    }
  const std::vector<uint8_t> data = w.Finish();
  std::vector<int> reads;
  for (int round = 0; round < 40; ++round) reads.insert(reads.end(), widths.begin(), widths.end());

  for (size_t block : {1u, 2u, 3u, 7u, 8u, 9u, 64u, 4096u}) {
    SCOPED_TRACE(block);
    const auto got = ReadAll(data, block, reads);
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(got[i].first, values[i]) << "read " << i;
      ASSERT_FALSE(got[i].second) << "read " << i;
    }
  }
}

TEST(BitReader, EndsWhenAReadTakesBitsPastTheData) {
  const std::vector<uint8_t> two = {0xA5, 0x3C};
  struct Case {
    std::vector<int> reads;
    std::vector<bool> ended;
  };
  const Case cases[] = {
      {{16}, {false}},
      {{16, 1}, {false, true}},
      {{9, 7}, {false, false}},
      {{9, 8}, {false, true}},
      {{8, 8, 8, 8}, {false, false, true, true}},
      {{17}, {true}},
  };
  for (const Case& c : cases)
    for (size_t block : {1u, 2u}) {
      const auto got = ReadAll(two, block, c.reads);
      for (size_t i = 0; i < c.reads.size(); ++i) EXPECT_EQ(got[i].second, c.ended[i]) << i;
    }
  // Past the end the bits are zeros; the bits before the end are still the data's.
  EXPECT_EQ(ReadAll(two, 1, {12, 8})[1].first, 0x3u);
  EXPECT_EQ(ReadAll({}, 1, {9})[0], std::make_pair(0u, true));
}

// Counts the blocks a reader asks for.
class CountingInput : public Input {
 public:
  CountingInput(const std::vector<uint8_t>& Data, size_t Block)
      : in_(Data.data(), Data.size(), Block) {}
  bool Next(const uint8_t*& Data, size_t& Size) override {
    ++calls;
    return in_.Next(Data, Size);
  }
  int calls = 0;

 private:
  MemoryInput in_;
};

TEST(BitReader, TakesANewBlockOnlyWhenTheBitsAreNeeded) {
  const std::vector<uint8_t> data(12, 0xFF);
  CountingInput in(data, 4);
  BitReader r(in);
  r.Bits(32);
  EXPECT_EQ(in.calls, 1);
  r.Bits(1);
  EXPECT_EQ(in.calls, 2);
  r.Fill();  // tops up from the current block only
  EXPECT_EQ(in.calls, 2);
  r.Bits(31);
  r.Bits(32);
  EXPECT_EQ(in.calls, 3);
  EXPECT_FALSE(r.Ended());
  r.Bits(1);
  EXPECT_TRUE(r.Ended());
}

TEST(ProgressDue, IsTheFirstCountWithAnotherPercentage) {
  auto percent = [](int64_t whole) {
    return [whole](int64_t c) { return testing::TestPercentOf(c, whole); };
  };
  struct Case {
    int64_t from, whole;
    uint8_t last;
    int64_t due;
  };
  const Case cases[] = {
      {0, 200, 0, 2},  // 1% at 2 bytes of 200
      {1, 200, 0, 2},
      {2, 200, 1, 4},
      {0, 3, 0, 1},   // 33% at 1 byte of 3
      {2, 3, 66, 3},  // 100% at the whole
      {3, 3, 100, Output::kNever},
      {0, 0, 0, Output::kNever},  // an empty item never reports
      {0, 1, 0, 1},
      {10, 5, 0, 11},            // past the whole: 100 at once
      {0, 20000000, 0, 200064},  // large wholes are scaled by 256 with rounding
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FirstCountWithNewPercent(c.from, c.whole, c.last, percent(c.whole)), c.due)
        << c.from << " of " << c.whole;
  }
}

// An Output that keeps what it gets.
struct Collect : Output {
  std::vector<uint8_t> bytes;
  std::vector<int32_t> writes;
  std::vector<int32_t> left;
  void Write(const uint8_t* Data, int32_t Size) override {
    bytes.insert(bytes.end(), Data, Data + Size);
    writes.push_back(Size);
  }
  void Leave(const uint8_t* Data, int32_t Size) override {
    bytes.insert(bytes.end(), Data, Data + Size);
    left.push_back(Size);
  }
};

TEST(BlockWriter, WritesFullBlocksAndCutsAtTheItemSize) {
  struct Case {
    int64_t expected;
    int total;
    std::vector<int32_t> writes;
    int32_t left;
  };
  const Case cases[] = {
      {100000, 100000, {32768, 32768, 32768, 1696}, 0},
      {40000, 100000, {32768, 7232, 32768}, 27232},  // the size lies: cut there, go on
      {0, 40000, {32768}, 7232},
      {5, 3, {}, 3},
  };
  for (const Case& c : cases) {
    Collect out;
    BlockWriter w(out, c.expected);
    std::vector<uint8_t> want;
    uint8_t stack[300];
    for (int i = 0; i < 300; ++i) stack[i] = static_cast<uint8_t>(i * 7);
    while (static_cast<int>(want.size()) < c.total) {
      const int n = std::min(300, c.total - static_cast<int>(want.size()));
      w.PutReversed(stack + n, n);
      for (int i = n - 1; i >= 0; --i) want.push_back(stack[i]);
    }
    w.Finish();
    EXPECT_EQ(out.writes, c.writes) << c.expected;
    EXPECT_EQ(out.left, std::vector<int32_t>{c.left});
    EXPECT_EQ(out.bytes, want);
  }
}

TEST(HistoryWriter, CopiesFromHistoryAndZerosBeforeTheStart) {
  Collect out;
  HistoryWriter w(out, 1 << 30);
  w.Copy(5, 3);  // before the start: zeros
  w.Literal('a');
  w.Literal('b');
  w.Copy(2, 5);  // overlapping
  w.Copy(1, 4);  // repeats the last byte
  w.Copy(6, 2);
  w.Finish();
  const std::vector<uint8_t> want = {0,   0,   0,   'a', 'b', 'a', 'b', 'a',
                                     'b', 'a', 'a', 'a', 'a', 'a', 'b', 'a'};
  EXPECT_EQ(out.bytes, want);
}

TEST(HistoryWriter, KeepsEightKilobytesOfHistoryOverLongOutput) {
  Collect out;
  HistoryWriter w(out, 1 << 30);
  std::vector<uint8_t> want;
  uint32_t seed = 7;
  for (int i = 0; i < 300000;) {
    seed = seed * 1103515245u + 12345u;
    if (want.size() < 8192 || seed % 3 == 0) {
      w.Literal(static_cast<uint8_t>(seed >> 16));
      want.push_back(static_cast<uint8_t>(seed >> 16));
      ++i;
      continue;
    }
    const uint32_t back = 1 + (seed >> 8) % 8192;
    const uint32_t len = 2 + (seed >> 4) % 384;
    w.Copy(back, len);
    for (uint32_t k = 0; k < len; ++k) want.push_back(want[want.size() - back]);
    i += len;
  }
  w.Finish();
  ASSERT_EQ(out.bytes.size(), want.size());
  EXPECT_EQ(out.bytes, want);
  for (int32_t n : out.writes) EXPECT_LE(n, 32768);
}

}  // namespace
}  // namespace zipkit::legacy
