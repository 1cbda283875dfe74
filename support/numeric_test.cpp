#include "support/numeric.h"

#include <gtest/gtest.h>

#include <climits>

namespace zipkit {
namespace {

TEST(PercentOf, Table) {
  struct Case {
    int32_t part, whole;
    int want;
  };
  const Case cases[] = {
      {50, 200, 25},          {200, 200, 100},       {300, 200, 100},
      {5, 0, 0},              {1, 3, 33},            {0, 1, 0},
      {5, -10, 0},            {-5, 10, 0},           {16384000, 16384000, 100},
      {8192000, 16384000, 50}, {INT32_MAX / 2, INT32_MAX, 50},
      {INT32_MAX - 1, INT32_MAX, 100},  // scaled by 256 with rounding: equal after scaling
      {42949674, INT32_MAX, 1},  {21474836, INT32_MAX, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PercentOf(c.part, c.whole), c.want) << c.part << "/" << c.whole;
}

TEST(PercentOf, NeverOverflowsAndNeverDecreases) {
  const int32_t whole = INT32_MAX;
  int last = 0;
  for (int64_t part = 0; part <= whole; part += 9999991) {
    const int p = PercentOf(static_cast<int32_t>(part), whole);
    ASSERT_GE(p, last);
    ASSERT_LE(p, 100);
    last = p;
  }
}

TEST(Extremes, LargerAndSmaller) {
  EXPECT_EQ(LargerOf(-1, -2), -1);
  EXPECT_EQ(LargerOf(INT32_MIN, 0), 0);
  EXPECT_EQ(SmallerOf(0xFFFFFFFFu, 1u), 1u);
  EXPECT_EQ(SmallerOf(7u, 7u), 7u);
}

}  // namespace
}  // namespace zipkit
