// Inputs that fuzzing found to break the special streams, kept as regression cases.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/stream.h"
#include "support/bit_bucket.h"
#include "support/sliding_window.h"

namespace zipkit {
namespace {

// An empty write may come without a buffer (the data of an empty vector); the window copied
// from the null pointer (undefined behaviour, reported by the sanitizers).
TEST(StreamsRegression, EmptyWritesWithoutBuffer) {
  TMemoryStream target;
  {
    TabSlidingWindowStream window(target);
    const std::vector<uint8_t> none;
    EXPECT_EQ(window.Write(none.data(), 0), 0);
    EXPECT_EQ(window.Write(nullptr, -5), 0);
    EXPECT_EQ(window.Write("abc", 3), 3);
    EXPECT_EQ(window.Write(nullptr, 0), 0);
    EXPECT_EQ(window.Size(), 3);
    TAbBitBucketStream bucket;
    EXPECT_EQ(bucket.Write(nullptr, 0), 0);
    EXPECT_EQ(bucket.Read(nullptr, 0), 0);
  }
  EXPECT_EQ(target.Size(), 3);
}

}  // namespace
}  // namespace zipkit
