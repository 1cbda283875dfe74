#include "support/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "support/crc32_clmul.h"

namespace zipkit {
namespace {

// One bit at a time, straight from the polynomial: shares nothing with the tables.
uint32_t BitwiseCrc(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

TEST(Crc32, CheckValueThroughEveryEntry) {
  const char* digits = "123456789";
  uint32_t a = 0xFFFFFFFF, b = 0xFFFFFFFF, c = 0xFFFFFFFF;
  UpdateCrc32(a, digits, uint16_t{9});
  UpdateCrc32(b, digits, int32_t{9});
  for (int i = 0; i < 9; ++i) c = Crc32Step(static_cast<uint8_t>(digits[i]), c);
  EXPECT_EQ(~a, 0xCBF43926u);
  EXPECT_EQ(~b, 0xCBF43926u);
  EXPECT_EQ(~c, 0xCBF43926u);
  EXPECT_EQ(kCrc32Table[1], 0x77073096u);
  EXPECT_EQ(kCrc32Table[255], 0x2D02EF8Du);
}

TEST(Crc32, EmptyAndNegativeCountsLeaveTheCrc) {
  uint32_t crc = 0x12345678;
  UpdateCrc32(crc, nullptr, uint16_t{0});
  UpdateCrc32(crc, nullptr, int32_t{0});
  UpdateCrc32(crc, nullptr, int32_t{-5});
  EXPECT_EQ(crc, 0x12345678u);
}

// Every length around the fold sizes, at every alignment, from varied starting values: the
// fast path, the slice-by-8 path and the bit-by-bit reference must agree.
TEST(Crc32, BulkPathsAgreeWithTheReference) {
  const std::vector<uint8_t> data = RandomBytes(4096 + 64, 1);
  for (size_t offset = 0; offset < 16; offset += 3) {
    for (size_t len = 0; len <= 400; ++len) {
      const uint32_t seed = static_cast<uint32_t>(len * 2654435761u);
      const uint8_t* p = data.data() + offset;
      const uint32_t want = BitwiseCrc(seed, p, len);
      ASSERT_EQ(Crc32Update(seed, p, len), want) << "offset " << offset << " length " << len;
      ASSERT_EQ(Crc32Slice8(seed, p, len), want) << "offset " << offset << " length " << len;
    }
  }
  if (!Crc32ClmulAvailable()) GTEST_SKIP() << "no carry-less multiplication on this processor";
  for (size_t len : {64, 65, 79, 80, 127, 128, 129, 191, 192, 255, 256, 1000, 4096})
    EXPECT_EQ(Crc32Clmul(0xFFFFFFFF, data.data() + 1, len), BitwiseCrc(0xFFFFFFFF, data.data() + 1, len))
        << len;
}

TEST(Crc32, PiecesAddUpToTheWhole) {
  const std::vector<uint8_t> data = RandomBytes(200000, 2);
  const uint32_t whole = BitwiseCrc(0xFFFFFFFF, data.data(), data.size());
  uint32_t crc = 0xFFFFFFFF;
  UpdateCrc32(crc, data.data(), static_cast<int32_t>(data.size()));
  EXPECT_EQ(crc, whole);
  // The 16-bit entry, fed in pieces of uneven sizes up to its limit.
  crc = 0xFFFFFFFF;
  size_t pos = 0;
  std::mt19937 rng(3);
  while (pos < data.size()) {
    const size_t n = std::min<size_t>(data.size() - pos, rng() % 65536);
    UpdateCrc32(crc, data.data() + pos, static_cast<uint16_t>(n));
    pos += n;
  }
  EXPECT_EQ(crc, whole);
}

}  // namespace
}  // namespace zipkit
