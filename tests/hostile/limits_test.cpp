// Resource limits against hostile archives: memory follows the buffers, the directory and the
// output that really arrives, never a declared size; the shapes of known archive bombs and huge
// directories neither exhaust memory nor hang. Each case runs in a child process, whose peak
// resident memory is measured against a child that does nothing (and, outside
// AddressSanitizer, whose address space is limited) under a CPU-time limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "host/exceptions.h"
#include "support/errors.h"
#include "tests/hostile/isolated.h"
#include "tests/hostile/raw_zip.h"
#include "unzip/extract.h"
#include "unzip/test_dir.h"
#include "unzip/zip_fixture.h"
#include "zip/zip_archive.h"

namespace zipkit {
namespace {

using testing::Bytes;
using testing::RunIsolated;
using testing::TestDir;
using testing::TLimits;
using testing::TRawEntry;

constexpr int64_t kMiB = 1 << 20;

// Memory a child may hold beyond the baseline; ASan's shadow and quarantine take more.
int64_t Allowance(int64_t MiB) { return (testing::kAddressSanitizer ? 3 * MiB : MiB) * 1024; }

// Takes everything and keeps only the count.
class TCountingSink : public TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t Count) override {
    size += std::max(Count, 0);
    return std::max(Count, 0);
  }
  int32_t Seek(int32_t Offset, uint16_t Origin) override {
    if (Origin == soFromBeginning && Offset >= 0 && Offset <= size) return Offset;
    if (Offset == 0 && Origin != soFromBeginning) return static_cast<int32_t>(size);
    return -1;
  }
  int64_t size = 0;
};

// Records its size when the first byte arrives: the head start the driver gave it.
class TSizedAhead : public TMemoryStream {
 public:
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (first_size < 0) first_size = Size();
    return TMemoryStream::Write(Buffer, Count);
  }
  int64_t first_size = -1;
};

std::unique_ptr<TAbZipArchive> Open(const TestDir& Dir, const Bytes& Zip) {
  Dir.Write("a.zip", Zip);
  auto archive = std::make_unique<TAbZipArchive>(Dir.Path("a.zip"), fmOpenRead | fmShareDenyNone);
  archive->ExtractToStreamHook = [](TAbZipArchive& A, TAbZipItem& I, TStream* S) {
    ExtractZipItemToStream(A, I, S);
  };
  archive->VerifyHook = [](TAbZipArchive& A, TAbZipItem& I) { VerifyZipItem(A, I); };
  archive->LoadCatalog();
  return archive;
}

// One entry whose data is Packed, declared with the given sizes and CRC-32.
Bytes OneEntry(uint16_t Method, const Bytes& Packed, uint32_t Unpacked, uint32_t Crc) {
  Bytes zip;
  TRawEntry e{"e", Method, 0, Crc, static_cast<uint32_t>(Packed.size()), Unpacked, 0};
  testing::PutLocal(zip, e);
  zip.insert(zip.end(), Packed.begin(), Packed.end());
  const auto dir = static_cast<uint32_t>(zip.size());
  testing::PutCentral(zip, e);
  testing::PutEnd(zip, dir, 1);
  return zip;
}

// Prefix, number, suffix (built by appending: GCC 12 warns wrongly on "literal" + string).
std::string Numbered(const char* Prefix, uint32_t N, const char* Suffix = "") {
  std::string s = Prefix;
  s.append(std::to_string(N)).append(Suffix);
  return s;
}

Bytes Pattern(size_t N, uint32_t Seed) {
  const std::string noise = testing::Noise(N, Seed);
  return Bytes(noise.begin(), noise.end());
}

// ---- Declared sizes ----

// A memory target is sized ahead to the declared size only when the packed bytes that exist
// can give it (stored data gives itself, deflate at most 1032 times plus 64 KiB) and never by
// more than 64 MiB; the output that passed its CRC-32 is what the stream holds in the end.
TEST(Limits, MemoryTargetSizedAheadOnlyByWhatThePackedBytesCanGive) {
  const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
  const Bytes zeros(100000, 0);
  const Bytes zeros_packed = testing::Deflate(zeros);
  const Bytes noise = Pattern(70000, 3);
  const Bytes noise_packed = testing::Deflate(noise);
  // The most that deflate's packed bytes can honestly give.
  const int64_t bound = 1032 * static_cast<int64_t>(zeros_packed.size()) + 65536;
  ASSERT_GT(bound, 100000);
  struct Case {
    const char* what;
    uint16_t method;
    Bytes data;
    Bytes packed;
    int64_t declared;
    int64_t sized_ahead;  // the size before the first byte
  } cases[] = {
      {"stored, honest", 0, hello, hello, 5, 5},
      {"stored, declares more than it holds", 0, hello, hello, 1000, 0},
      {"deflated, honest", 8, zeros, zeros_packed, 100000, 100000},
      {"deflated, declares what its packed bytes could give", 8, zeros, zeros_packed, bound, bound},
      {"deflated, declares a byte more", 8, zeros, zeros_packed, bound + 1, 0},
      // 70,000 bytes of noise could honestly give 72 MB; the head start stops at 64 MiB.
      {"deflated, declares 64 MiB", 8, noise, noise_packed, 64 * kMiB, 64 * kMiB},
      {"deflated, declares a byte more than 64 MiB", 8, noise, noise_packed, 64 * kMiB + 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestDir dir;
    auto archive = Open(dir, OneEntry(c.method, c.packed, static_cast<uint32_t>(c.declared),
                                      testing::Crc32Of(c.data)));
    TSizedAhead out;
    archive->UnpackItemToStreamAt(0, &out);
    EXPECT_EQ(out.first_size, c.sized_ahead);
    ASSERT_EQ(out.Size(), static_cast<int32_t>(c.data.size()));
    EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), out.Memory()));
  }
}

// Entries that declare up to 2 GiB (and sizes that are negative as signed 32-bit values) over
// 3 MiB of packed bytes: into memory, into a counting sink and tested, each fails or passes
// without holding more than its buffers, and without running out of a 1 GiB address space.
TEST(Limits, HugeDeclaredSizesAllocateNothingByThem) {
  const Bytes noise = Pattern(3 * kMiB, 7);
  const Bytes deflated = testing::Deflate(noise);  // stored blocks: as large as the input
  for (const uint32_t declared : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0x7FFFFFF0u}) {
    for (const uint16_t method : {0, 8}) {
      SCOPED_TRACE(::testing::Message() << "method " << method << ", declared " << declared);
      TestDir dir;
      const Bytes& packed = method == 8 ? deflated : noise;
      auto archive = Open(dir, OneEntry(method, packed, declared, testing::Crc32Of(noise)));
      const auto outcome = RunIsolated(
          [&] {
            try {
              TMemoryStream memory;
              archive->UnpackItemToStreamAt(0, &memory);
            } catch (const std::bad_alloc&) {
              return 1;
            } catch (const Exception&) {
            }
            try {
              TCountingSink sink;
              archive->UnpackItemToStreamAt(0, &sink);
            } catch (const Exception&) {
            }
            try {
              archive->VerifyItemAt(0);
            } catch (const Exception&) {
            }
            return 0;
          },
          {.AddressSpace = 1024 * kMiB, .CpuSeconds = 60});
      EXPECT_TRUE(outcome.Exited) << "signal " << outcome.Signal;
      EXPECT_EQ(outcome.Code, 0);
      // The output that really arrives is at most the 3 MiB of noise (once more while the
      // memory stream grows).
      EXPECT_LT(outcome.GrowthKiB, Allowance(64));
    }
  }
}

// ---- Bombs ----

// Many central records share one local entry of 1 MiB of zeros deflated to about a kilobyte:
// every item is extracted in turn, memory stays at the buffers.
TEST(Limits, ManyRecordsSharingOneEntry) {
  const Bytes zeros(kMiB, 0);
  const Bytes packed = testing::Deflate(zeros);
  const uint32_t crc = testing::Crc32Of(zeros);
  constexpr uint32_t kRecords = 200;
  Bytes zip;
  TRawEntry local{"k", 8, 0, crc, static_cast<uint32_t>(packed.size()), kMiB, 0};
  testing::PutLocal(zip, local);
  zip.insert(zip.end(), packed.begin(), packed.end());
  const auto dir_start = static_cast<uint32_t>(zip.size());
  for (uint32_t i = 0; i < kRecords; ++i) {
    TRawEntry e = local;
    e.Name = Numbered("k", i);
    testing::PutCentral(zip, e);
  }
  testing::PutEnd(zip, dir_start, kRecords);

  TestDir dir;
  auto archive = Open(dir, zip);
  ASSERT_EQ(archive->ItemCount(), static_cast<int32_t>(kRecords));
  const auto outcome = RunIsolated([&] {
    for (int32_t i = 0; i < archive->ItemCount(); ++i) {
      TCountingSink sink;
      archive->UnpackItemToStreamAt(i, &sink);
      if (sink.size != kMiB) return 1;
    }
    return 0;
  });
  EXPECT_TRUE(outcome.Exited) << "signal " << outcome.Signal;
  EXPECT_EQ(outcome.Code, 0);
  EXPECT_LT(outcome.GrowthKiB, Allowance(32));
}

// Overlapping entries: the data of entry i is a stored block quoting the local header of entry
// i + 1, then the data of entry i + 1, down to a kernel of zeros that the last entry holds. The
// output grows with the square of the entries while the archive grows linearly; every entry is
// valid (its CRC-32 and sizes agree, its local header matches its central record), so it is
// extracted, one at a time, in the memory of one entry's buffers.
TEST(Limits, OverlappingEntriesQuotingTheirSuccessors) {
  constexpr int kEntries = 60;
  const Bytes kernel_data(512 * 1024, 'a');
  const Bytes kernel = testing::Deflate(kernel_data);

  // Built from the last entry backwards: each one's data ends with its successor's.
  std::vector<TRawEntry> entries(kEntries);
  Bytes tail = kernel;  // the data of the entry being built, as stored
  uint32_t crc = testing::Crc32Of(kernel_data);
  uint32_t unpacked = static_cast<uint32_t>(kernel_data.size());
  Bytes next_header;
  for (int i = kEntries - 1; i >= 0; --i) {
    if (i < kEntries - 1) {
      // A stored block, not final, holding the successor's local header.
      Bytes quote = {0x00};
      testing::Put16(quote, static_cast<uint32_t>(next_header.size()));
      testing::Put16(quote, ~static_cast<uint32_t>(next_header.size()) & 0xFFFF);
      quote.insert(quote.end(), next_header.begin(), next_header.end());
      crc = static_cast<uint32_t>(crc32_combine(testing::Crc32Of(next_header), crc, unpacked));
      unpacked += static_cast<uint32_t>(next_header.size());
      quote.insert(quote.end(), tail.begin(), tail.end());
      tail.swap(quote);
    }
    // Entry i's data is next_header (quoted) followed by entry i + 1's data, which starts right
    // after that header in the file: only the quoting bytes are new.
    entries[i] = {Numbered("f", static_cast<uint32_t>(i)), 8, 0, crc, static_cast<uint32_t>(tail.size()), unpacked, 0};
    next_header.clear();
    testing::PutLocal(next_header, entries[i]);
  }
  // The file: entry 0's header and data; the data holds every later header and the kernel.
  Bytes zip = next_header;  // entry 0's local header
  zip.insert(zip.end(), tail.begin(), tail.end());
  // Local headers lie each behind its predecessor's 5 quoting bytes.
  uint32_t offset = 0;
  for (int i = 0; i < kEntries; ++i) {
    entries[i].Offset = offset;
    offset += 30 + static_cast<uint32_t>(entries[i].Name.size()) + 5;
  }
  const auto dir_start = static_cast<uint32_t>(zip.size());
  for (const auto& e : entries) testing::PutCentral(zip, e);
  testing::PutEnd(zip, dir_start, kEntries);

  TestDir dir;
  auto archive = Open(dir, zip);
  ASSERT_EQ(archive->ItemCount(), kEntries);
  const auto outcome = RunIsolated([&] {
    for (int32_t i = 0; i < archive->ItemCount(); ++i) {
      archive->VerifyItemAt(i);  // the local header agrees; the bit bucket takes the output
      TCountingSink sink;
      archive->UnpackItemToStreamAt(i, &sink);
      if (sink.size != archive->ZipItem(i)->UnpackedSize()) return 1;
    }
    return 0;
  });
  EXPECT_TRUE(outcome.Exited) << "signal " << outcome.Signal;
  EXPECT_EQ(outcome.Code, 0);
  EXPECT_LT(outcome.GrowthKiB, Allowance(32));
}

// ---- Directories ----

// 100,000 entries (more than the end record can count) load, with one item each and memory in
// proportion to the directory; so do as many entries that all bear one name, without any
// quadratic search (the CPU limit would end the child). A mask that matches nothing walks
// them all.
TEST(Limits, VeryManyEntries) {
  constexpr uint32_t kCount = 100000;
  for (const bool same_name : {false, true}) {
    SCOPED_TRACE(same_name ? "one name" : "distinct names");
    Bytes zip;
    std::vector<TRawEntry> entries;
    for (uint32_t i = 0; i < kCount; ++i) {
      TRawEntry e{same_name ? "same.txt" : Numbered("f", i, ".txt"), 0, 0, 0, 0, 0,
                  static_cast<uint32_t>(zip.size())};
      testing::PutLocal(zip, e);
      entries.push_back(e);
    }
    const auto dir_start = static_cast<uint32_t>(zip.size());
    for (const auto& e : entries) testing::PutCentral(zip, e);
    testing::PutEnd(zip, dir_start, kCount);
    const int64_t directory_kib = static_cast<int64_t>(zip.size() - dir_start) / 1024;

    TestDir dir;
    dir.Write("a.zip", zip);
    const auto outcome = RunIsolated(
        [&] {
          TAbZipArchive archive(dir.Path("a.zip"), fmOpenRead | fmShareDenyNone);
          archive.LoadCatalog();
          if (archive.ItemCount() != static_cast<int32_t>(kCount)) return 1;
          if (archive.Items.IndexOfName(same_name ? "same.txt" : "f99999.txt") < 0) return 2;
          archive.ExtractMatching("nothing-matches-this");
          return 0;
        },
        {.CpuSeconds = 30});
    EXPECT_TRUE(outcome.Exited) << "signal " << outcome.Signal;
    EXPECT_EQ(outcome.Code, 0);
    // The items hold their records: a few hundred bytes each.
    EXPECT_LT(outcome.GrowthKiB, Allowance(16) + 12 * directory_kib);
  }
}

}  // namespace
}  // namespace zipkit
