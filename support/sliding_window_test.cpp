#include "support/sliding_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "support/errors.h"

namespace zipkit {
namespace {

// A memory target that records every write as (position, count).
class RecordingStream : public TMemoryStream {
 public:
  int32_t Write(const void* Buffer, int32_t Count) override {
    writes.push_back({Position(), Count});
    return TMemoryStream::Write(Buffer, Count);
  }
  std::vector<std::pair<int32_t, int32_t>> writes;
};

std::vector<uint8_t> Pattern(int32_t n, int32_t seed = 0) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i + seed) * 7 + (i >> 8));
  return v;
}

std::vector<uint8_t> Contents(TMemoryStream& s) {
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

void ExpectMessage(const std::function<void()>& f, const std::string& text) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected " << text;
  } catch (const EAbException&) {
    ADD_FAILURE() << "engine exception, expected the base class";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), text);
  }
}

TEST(SlidingWindow, SmallOutputReachesTargetOnlyAtDestruction) {
  RecordingStream target;
  const auto data = Pattern(5);
  {
    TabSlidingWindowStream w(target);
    EXPECT_EQ(w.Write(data.data(), 5), 5);
    EXPECT_TRUE(target.writes.empty());
    EXPECT_EQ(w.Size(), 5);
  }
  ASSERT_EQ(target.writes.size(), 1u);
  EXPECT_EQ(target.writes[0], std::make_pair(0, 5));
  EXPECT_EQ(Contents(target), data);
}

TEST(SlidingWindow, FullChunkMovesWindowWithoutWritingYet) {
  RecordingStream target;
  const auto data = Pattern(8192 + 3);
  {
    TabSlidingWindowStream w(target);
    EXPECT_EQ(w.Write(data.data(), 8192), 8192);
    EXPECT_TRUE(target.writes.empty());  // the chunk that left lies at -32768
    EXPECT_EQ(w.Write(data.data() + 8192, 3), 3);
    // Reading back across the chunk boundary.
    w.Seek(8190, soFromBeginning);
    uint8_t buf[5];
    EXPECT_EQ(w.Read(buf, 5), 5);
    EXPECT_TRUE(std::equal(buf, buf + 5, data.begin() + 8190));
  }
  EXPECT_EQ(Contents(target), data);
}

TEST(SlidingWindow, OldOutputLeavesWindowInOrderOncePerChunk) {
  RecordingStream target;
  const int32_t total = 100000;
  const auto data = Pattern(total, 3);
  {
    TabSlidingWindowStream w(target);
    // Uneven pieces, so chunk boundaries fall inside writes.
    for (int32_t done = 0, step = 1; done < total; step = step * 3 % 9973 + 1) {
      const int32_t n = std::min(step, total - done);
      ASSERT_EQ(w.Write(data.data() + done, n), n);
      done += n;
    }
    w.Flush();
  }
  EXPECT_EQ(Contents(target), data);
  int32_t expected_pos = 0;
  for (auto [pos, count] : target.writes) {
    EXPECT_EQ(pos, expected_pos);
    EXPECT_LE(count, 8192);
    expected_pos += count;
  }
  EXPECT_EQ(expected_pos, total);
}

TEST(SlidingWindow, SeekLimitFollowsWindowStart) {
  RecordingStream target;
  const auto data = Pattern(40960);
  TabSlidingWindowStream w(target);
  for (int32_t i = 0; i < 40960; i += 4096) w.Write(data.data() + i, 4096);
  EXPECT_EQ(Contents(target), std::vector<uint8_t>(data.begin(), data.begin() + 8192));
  ExpectMessage([&] { w.Seek(8191, soFromBeginning); },
                "TabSlidingWindowStream.Seek: invalid new position");
  EXPECT_EQ(w.Position(), 40960);  // a failed seek leaves the position
  EXPECT_EQ(w.Seek(8192, soFromBeginning), 8192);
  uint8_t b;
  EXPECT_EQ(w.Read(&b, 1), 1);
  EXPECT_EQ(b, data[8192]);
  ExpectMessage([&] { w.Seek(1, soFromEnd); }, "TabSlidingWindowStream.Seek: invalid new position");
  ExpectMessage([&] { w.Seek(0, 3); }, "TabSlidingWindowStream.Seek: invalid origin");
}

TEST(SlidingWindow, LargeWriteIsCutToWindowSize) {
  TMemoryStream target;
  const auto data = Pattern(40000);
  TabSlidingWindowStream w(target);
  EXPECT_EQ(w.Write(data.data(), 40000), 32768);
  EXPECT_EQ(w.Size(), 32768);
}

TEST(SlidingWindow, BytesBeforeTheStartReadAsZero) {
  TMemoryStream target;
  TabSlidingWindowStream w(target);
  const uint8_t abc[3] = {'a', 'b', 'c'};
  w.Write(abc, 3);
  EXPECT_EQ(w.Seek(-5, soFromBeginning), -5);
  uint8_t buf[8];
  EXPECT_EQ(w.Read(buf, 8), 8);
  const uint8_t expected[8] = {0, 0, 0, 0, 0, 'a', 'b', 'c'};
  EXPECT_TRUE(std::equal(buf, buf + 8, expected));
}

TEST(SlidingWindow, ReadsStopAtTheEnd) {
  TMemoryStream target;
  TabSlidingWindowStream w(target);
  const auto data = Pattern(20);
  w.Write(data.data(), 20);
  uint8_t buf[10];
  EXPECT_EQ(w.Read(buf, 10), 0);
  w.Seek(-4, soFromEnd);
  EXPECT_EQ(w.Read(buf, 10), 4);
  EXPECT_TRUE(std::equal(buf, buf + 4, data.begin() + 16));
}

TEST(SlidingWindow, WriteAwayFromTheEndIsRefused) {
  TMemoryStream target;
  TabSlidingWindowStream w(target);
  const auto data = Pattern(10);
  w.Write(data.data(), 10);
  w.Seek(2, soFromBeginning);
  ExpectMessage([&] { w.Write(data.data(), 1); },
                "TabSlidingWindowStream.Write: Not at end of stream");
  // Reading up to the end makes writing possible again, also at a chunk boundary.
  TabSlidingWindowStream w2(target);
  const auto big = Pattern(8192 * 4);
  w2.Write(big.data(), 8192 * 4);
  w2.Seek(8192 * 3, soFromBeginning);
  std::vector<uint8_t> buf(8192);
  EXPECT_EQ(w2.Read(buf.data(), 8192), 8192);
  EXPECT_EQ(w2.Write(data.data(), 10), 10);
}

// A decoder-like copy of earlier output (a back-reference that overlaps itself).
TEST(SlidingWindow, BackReferenceCopiesFromMemory) {
  TMemoryStream target;
  std::vector<uint8_t> expected;
  {
    TabSlidingWindowStream w(target);
    const auto seed = Pattern(50000);
    w.Write(seed.data(), 32768);
    w.Write(seed.data() + 32768, 50000 - 32768);
    expected = seed;
    for (int32_t i = 0; i < 3000; ++i) {  // copy with distance 32768 - 1, byte by byte
      const int32_t src = w.Size() - 32767;
      w.Seek(src, soFromBeginning);
      uint8_t b;
      ASSERT_EQ(w.Read(&b, 1), 1);
      w.Seek(0, soFromEnd);
      w.Write(&b, 1);
      expected.push_back(expected[src]);
    }
  }
  EXPECT_EQ(Contents(target), expected);
}

class FailingTarget : public TMemoryStream {
 public:
  bool fail_seek = false;
  int32_t Seek(int32_t Offset, uint16_t Origin) override {
    if (fail_seek) return -1;
    return TMemoryStream::Seek(Offset, Origin);
  }
  int32_t Write(const void* Buffer, int32_t Count) override {
    return TMemoryStream::Write(Buffer, Count > 0 ? Count - 1 : Count);
  }
};

TEST(SlidingWindow, TargetFailuresAreReported) {
  const auto data = Pattern(10);
  FailingTarget target;
  TabSlidingWindowStream w(target);
  w.Write(data.data(), 10);
  ExpectMessage([&] { w.Flush(); }, "TabSlidingWindowStream.bsWriteChunk: write failed");
  FailingTarget seeker;
  TabSlidingWindowStream w2(seeker);
  seeker.fail_seek = true;
  w2.Write(data.data(), 10);
  ExpectMessage([&] { w2.Flush(); }, "TabSlidingWindowStream.bsWriteChunk: seek failed");
}

}  // namespace
}  // namespace zipkit
