#include "support/virtual_memory_stream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "archive/test_temp_dir.h"
#include "host/host.h"
#include "host/posix/posix_path.h"
#include "support/errors.h"

namespace zipkit {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr int32_t kPage = TAbVirtualMemoryStream::kPageSize;

// A stream whose swap file goes into a folder of its own, so that tests can see it.
struct TFixture {
  testing::TempDir dir;
  TAbVirtualMemoryStream vms;
  TFixture() { vms.SwapFolder = dir.Path(); }

  std::vector<std::string> SwapFiles() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
      names.push_back(e.path().filename().string());
    return names;
  }
  Bytes SwapContents() const {
    std::ifstream in(host::ToPosixPath(vms.SwapFileName()), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
};

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 12));
  return b;
}

Bytes ReadAt(TAbVirtualMemoryStream& s, int32_t pos, int32_t n) {
  Bytes b(static_cast<size_t>(n));
  s.Seek(pos, soFromBeginning);
  b.resize(static_cast<size_t>(s.Read(b.data(), n)));
  return b;
}

TEST(VirtualMemoryStream, NewStreamIsEmptyWithoutSwap) {
  TFixture f;
  EXPECT_EQ(f.vms.Size(), 0);
  EXPECT_EQ(f.vms.Position(), 0);
  uint8_t b[16];
  EXPECT_EQ(f.vms.Read(b, 16), 0);
  EXPECT_EQ(f.vms.MemoryLimit(), 102400);
  EXPECT_EQ(f.vms.PagesInMemory(), 1);
  EXPECT_EQ(f.vms.SwapFileName(), "");
  EXPECT_TRUE(f.SwapFiles().empty());
}

TEST(VirtualMemoryStream, SpillsTheOldestPageOnlyPastTheLimit) {
  TFixture f;
  const Bytes data = Pattern(102400 + 1, 3);
  EXPECT_EQ(f.vms.Write(data.data(), 102400), 102400);
  EXPECT_EQ(f.vms.PagesInMemory(), 25);
  EXPECT_TRUE(f.SwapFiles().empty());

  EXPECT_EQ(f.vms.Write(data.data() + 102400, 1), 1);
  EXPECT_EQ(f.vms.PagesInMemory(), 25);
  ASSERT_EQ(f.SwapFiles().size(), 1u);
  EXPECT_EQ(f.SwapFiles()[0].substr(0, 3), "VMS");
  // The page at offset 0 went out, to offset 0 of the swap file, and nothing else did.
  EXPECT_EQ(f.SwapContents(), Bytes(data.begin(), data.begin() + kPage));
  EXPECT_EQ(f.vms.Size(), 102401);
  EXPECT_EQ(ReadAt(f.vms, 0, 102401), data);
}

TEST(VirtualMemoryStream, WritingPastTheEndLeavesZeros) {
  TFixture f;
  EXPECT_EQ(f.vms.Seek(8192, soFromBeginning), 8192);
  EXPECT_EQ(f.vms.Write("x", 1), 1);
  EXPECT_EQ(f.vms.Size(), 8193);
  Bytes expected(8192, 0);
  expected.push_back('x');
  EXPECT_EQ(ReadAt(f.vms, 0, 9000), expected);

  // A write of nothing past the end extends the stream too.
  f.vms.Seek(10000, soFromBeginning);
  EXPECT_EQ(f.vms.Write("", 0), 0);
  EXPECT_EQ(f.vms.Size(), 10000);
}

TEST(VirtualMemoryStream, SeekOrigins) {
  TFixture f;
  const Bytes data = Pattern(100, 1);
  f.vms.Write(data.data(), 100);
  EXPECT_EQ(f.vms.Seek(-10, soFromEnd), 90);
  uint8_t b[50];
  EXPECT_EQ(f.vms.Read(b, 50), 10);
  EXPECT_EQ(f.vms.Position(), 100);
  EXPECT_EQ(f.vms.Seek(-30, soFromCurrent), 70);
  EXPECT_EQ(f.vms.Seek(500, soFromBeginning), 500);
  EXPECT_EQ(f.vms.Read(b, 50), 0);  // past the end
  EXPECT_EQ(f.vms.Seek(-1, soFromBeginning), -1);
  EXPECT_EQ(f.vms.Position(), 500);

  try {
    f.vms.Seek(0, 3);
    FAIL() << "origin 3 accepted";
  } catch (const EAbVMSInvalidOrigin& e) {
    EXPECT_EQ(e.ErrorCode, 201);
    EXPECT_STREQ(e.what(), "VMS: invalid origin 3, should be 0, 1, 2");
  }
}

TEST(VirtualMemoryStream, MemoryLimitIsWholePagesFromOneTo256) {
  struct TCase {
    int32_t bytes;
    int32_t limit;
  };
  for (const TCase& c : {TCase{5000, 8192}, TCase{1, 4096}, TCase{4096, 4096}, TCase{4097, 8192},
                         TCase{0, 4096}, TCase{-5, 4096}, TCase{255 * 4096, 255 * 4096},
                         TCase{255 * 4096 + 1, 1048576}, TCase{INT32_MAX, 1048576}}) {
    TAbVirtualMemoryStream s;
    s.SetMemoryLimit(c.bytes);
    EXPECT_EQ(s.MemoryLimit(), c.limit) << c.bytes;
  }
}

TEST(VirtualMemoryStream, LoweringTheLimitStoresTheOldestDirtyPages) {
  TFixture f;
  const Bytes data = Pattern(5 * kPage, 9);
  f.vms.Write(data.data(), 5 * kPage);
  f.vms.SetMemoryLimit(2 * kPage);
  EXPECT_EQ(f.vms.PagesInMemory(), 2);
  // Pages 0, 1, 2 left; pages 3 and 4, the last used, stay.
  const Bytes swap = f.SwapContents();
  ASSERT_EQ(swap.size(), 3u * kPage);
  EXPECT_TRUE(std::equal(swap.begin(), swap.end(), data.begin()));
  EXPECT_EQ(ReadAt(f.vms, 0, 5 * kPage), data);
}

// Which page leaves is decided by the last switch to each page; accesses within the current
// page do not count.
TEST(VirtualMemoryStream, EvictsThePageSwitchedToLongestAgo) {
  struct TCase {
    std::vector<int> pages;  // written in this order, each with its own byte
    int evicted;             // the page found in the swap file afterwards
  };
  const TCase cases[] = {
      {{0, 1, 2}, 0},
      {{0, 1, 0, 2}, 1},
      {{1, 0, 0, 0, 2}, 1},
      {{0, 1, 1, 1, 0, 1, 2}, 0},
  };
  for (const TCase& c : cases) {
    TFixture f;
    f.vms.SetMemoryLimit(2 * kPage);
    for (int p : c.pages) {
      f.vms.Seek(p * kPage + p, soFromBeginning);
      const uint8_t b = static_cast<uint8_t>(0xA0 + p);
      f.vms.Write(&b, 1);
    }
    const Bytes swap = f.SwapContents();
    ASSERT_EQ(swap.size(), static_cast<size_t>((c.evicted + 1) * kPage));
    EXPECT_EQ(swap[c.evicted * kPage + c.evicted], 0xA0 + c.evicted);
  }
}

TEST(VirtualMemoryStream, CleanPagesLeaveWithoutTouchingTheDisk) {
  TFixture f;
  f.vms.SetMemoryLimit(2 * kPage);
  f.vms.SetSize(10 * kPage);
  uint8_t b[kPage];
  for (int p = 0; p < 10; ++p) {
    f.vms.Seek(p * kPage, soFromBeginning);
    EXPECT_EQ(f.vms.Read(b, kPage), kPage);
  }
  EXPECT_EQ(f.vms.PagesInMemory(), 2);
  EXPECT_TRUE(f.SwapFiles().empty());
}

TEST(VirtualMemoryStream, ShrinkingAfterSpillingAndWritingAgain) {
  TFixture f;
  f.vms.SetMemoryLimit(2 * kPage);
  const Bytes first = Pattern(6 * kPage, 1);
  f.vms.Write(first.data(), 6 * kPage);
  ASSERT_FALSE(f.SwapFiles().empty());

  f.vms.SetSize(0);
  EXPECT_EQ(f.vms.Size(), 0);
  EXPECT_EQ(f.vms.Position(), 0);
  EXPECT_EQ(f.vms.PagesInMemory(), 0);
  EXPECT_EQ(f.SwapFiles().size(), 1u);  // kept until the stream goes

  const Bytes second = Pattern(5 * kPage + 100, 77);
  f.vms.Write(second.data(), static_cast<int32_t>(second.size()));
  EXPECT_EQ(ReadAt(f.vms, 0, 6 * kPage), second);
}

TEST(VirtualMemoryStream, DestroyingDeletesTheSwapFile) {
  testing::TempDir dir;
  std::string swap_name;
  {
    TAbVirtualMemoryStream s;
    s.SwapFolder = dir.Path();
    s.SetMemoryLimit(kPage);
    const Bytes data = Pattern(3 * kPage, 5);
    s.Write(data.data(), 3 * kPage);
    swap_name = s.SwapFileName();
    ASSERT_TRUE(host::FileExists(swap_name));
  }
  EXPECT_FALSE(host::FileExists(swap_name));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

// Random writes, reads, seeks and truncations against a plain byte vector. Bytes past a
// shrunken end are not known (they may come back with their old content when the stream grows
// again), so the model only compares what it knows.
TEST(VirtualMemoryStream, BehavesLikeAByteArrayUnderRandomAccess) {
  for (int32_t limit_pages : {1, 2, 3, 7}) {
    SCOPED_TRACE("limit " + std::to_string(limit_pages) + " pages");
    TFixture f;
    f.vms.SetMemoryLimit(limit_pages * kPage);
    std::vector<int16_t> model;  // -1: unknown
    int32_t size = 0;
    int32_t pos = 0;
    std::mt19937 rng(static_cast<uint32_t>(limit_pages));
    for (int step = 0; step < 3000; ++step) {
      const int op = static_cast<int>(rng() % 10);
      const int32_t n = static_cast<int32_t>(rng() % (3 * kPage));
      if (op < 4) {
        Bytes data(static_cast<size_t>(n));
        for (auto& c : data) c = static_cast<uint8_t>(rng());
        ASSERT_EQ(f.vms.Write(data.data(), n), n);
        if (static_cast<size_t>(pos + n) > model.size()) model.resize(static_cast<size_t>(pos + n), 0);
        for (int32_t i = 0; i < n; ++i) model[static_cast<size_t>(pos + i)] = data[static_cast<size_t>(i)];
        pos += n;
        size = std::max(size, pos);
      } else if (op < 8) {
        Bytes data(static_cast<size_t>(n));
        const int32_t got = f.vms.Read(data.data(), n);
        ASSERT_EQ(got, std::max(0, std::min(n, size - pos)));
        for (int32_t i = 0; i < got; ++i) {
          const int16_t want = model[static_cast<size_t>(pos + i)];
          if (want >= 0) {
            ASSERT_EQ(data[static_cast<size_t>(i)], want) << "at " << pos + i;
          }
        }
        pos += got;
      } else if (op < 9) {
        pos = static_cast<int32_t>(rng() % static_cast<uint32_t>(size + 2 * kPage + 1));
        ASSERT_EQ(f.vms.Seek(pos, soFromBeginning), pos);
      } else {
        const int32_t new_size = static_cast<int32_t>(rng() % static_cast<uint32_t>(size + 1));
        f.vms.SetSize(new_size);
        for (size_t i = static_cast<size_t>(new_size); i < model.size(); ++i) model[i] = -1;
        size = new_size;
        pos = std::min(pos, size);
      }
      ASSERT_EQ(f.vms.Size(), size);
      ASSERT_EQ(f.vms.Position(), pos);
      ASSERT_LE(f.vms.PagesInMemory(), limit_pages);
    }
  }
}

// --- Swap failures ----------------------------------------------------------------------------
// After one, the stream keeps its size and position; the page being brought in is not in memory.

TEST(VirtualMemoryStream, SwapFileThatCannotBeMade) {
  TAbVirtualMemoryStream s;
  s.SwapFolder = "/proc";  // an existing folder where no file can be created
  s.SetMemoryLimit(kPage);
  const Bytes data = Pattern(kPage + 10, 2);
  s.Write(data.data(), kPage);
  try {
    s.Write(data.data() + kPage, 10);
    FAIL() << "no swap failure";
  } catch (const EAbVMSErrorOpenSwap& e) {
    EXPECT_EQ(e.ErrorCode, 202);
    EXPECT_EQ(std::string(e.what()).rfind("VMS: Cannot open swap file ", 0), 0u) << e.what();
  }
  EXPECT_EQ(s.Size(), kPage);
  EXPECT_EQ(s.Position(), kPage);
  EXPECT_EQ(s.PagesInMemory(), 1);
  // The page still in memory reads back.
  EXPECT_EQ(ReadAt(s, 0, kPage), Bytes(data.begin(), data.begin() + kPage));
}

TEST(VirtualMemoryStream, SwapFileCutShortFailsTheRead) {
  TFixture f;
  f.vms.SetMemoryLimit(kPage);
  const Bytes data = Pattern(2 * kPage, 4);
  f.vms.Write(data.data(), 2 * kPage);  // page 0 goes out
  ASSERT_EQ(ReadAt(f.vms, 0, 10), Bytes(data.begin(), data.begin() + 10));  // page 1 goes out
  // Page 0 is in memory and clean, so bringing page 1 back stores nothing that would refill the
  // swap file.
  std::filesystem::resize_file(host::ToPosixPath(f.vms.SwapFileName()), 100);

  f.vms.Seek(kPage + 10, soFromBeginning);
  uint8_t b[20];
  try {
    f.vms.Read(b, 20);
    FAIL() << "short swap read accepted";
  } catch (const EAbVMSReadFail& e) {
    EXPECT_EQ(e.ErrorCode, 204);
    EXPECT_EQ(std::string(e.what()), "VMS: Failed to read 4096 bytes from swap file " + f.vms.SwapFileName());
  }
  EXPECT_EQ(f.vms.Position(), kPage + 10);
  EXPECT_EQ(f.vms.Size(), 2 * kPage);
  EXPECT_EQ(f.vms.PagesInMemory(), 0);
}

TEST(VirtualMemoryStream, SwapFileThatCannotGrowFailsTheWrite) {
  TFixture f;
  f.vms.SetMemoryLimit(kPage);
  const Bytes data = Pattern(3 * kPage, 6);
  f.vms.Write(data.data(), 2 * kPage);  // page 0 is in the swap file now

  // Files of this process may not grow past one page: storing page 1 fails.
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = kPage;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool raised = false;
  std::string message;
  try {
    f.vms.Write(data.data() + 2 * kPage, 5);
  } catch (const EAbVMSWriteFail& e) {
    raised = true;
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);

  ASSERT_TRUE(raised);
  EXPECT_EQ(message, "VMS: Failed to write 4096 bytes to swap file " + f.vms.SwapFileName());
  EXPECT_EQ(f.vms.Size(), 2 * kPage);
  EXPECT_EQ(f.vms.Position(), 2 * kPage);
  // Page 1 could not leave, so it is still here, with its data.
  EXPECT_EQ(f.vms.PagesInMemory(), 1);
  EXPECT_EQ(ReadAt(f.vms, kPage, kPage), Bytes(data.begin() + kPage, data.begin() + 2 * kPage));
}

}  // namespace
}  // namespace zipkit
