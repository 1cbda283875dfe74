#include "support/bit_reverse.h"

#include <gtest/gtest.h>

namespace zipkit {
namespace {

uint32_t NaiveReverse(uint32_t v, int bits) {
  uint32_t r = 0;
  for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1) << (bits - 1 - i);
  return r;
}

TEST(BitReverse, Examples) {
  EXPECT_EQ(ReverseLowBits(1, 3), 4);
  EXPECT_EQ(ReverseLowBits(1, 16), 32768);
  EXPECT_EQ(ReverseLowBits(0xFF01, 8), 0x80);  // the high byte is ignored up to 8 bits
  EXPECT_EQ(kReverseBits[1], 0x80);
  EXPECT_EQ(kReverseBits[0xF0], 0x0F);
}

TEST(BitReverse, EveryValueAndWidth) {
  for (uint32_t v = 0; v < 65536; ++v) {
    for (int n = 1; n <= 16; ++n)
      ASSERT_EQ(ReverseLowBits(static_cast<uint16_t>(v), n), NaiveReverse(v & ((1u << n) - 1), n))
          << v << "/" << n;
    uint32_t word = 0xABCD0000u | v;
    ReverseLowWord(word);
    ASSERT_EQ(word, 0xABCD0000u | NaiveReverse(v, 16)) << v;
  }
  for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(kReverseBits[i], NaiveReverse(i, 8));
}

TEST(BitReverse, WidthsOutsideTheRangeStaySafe) {
  EXPECT_EQ(ReverseLowBits(0xFFFF, 0), 0);
  EXPECT_EQ(ReverseLowBits(0xFFFF, -3), 0);
  EXPECT_EQ(ReverseLowBits(1, 40), 32768);
}

}  // namespace
}  // namespace zipkit
