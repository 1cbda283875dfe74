// Every shrunk, reduced and imploded entry of the archives other tools made (the conformance
// corpus and the benchmark archives) decodes to its size and CRC-32.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "unzip/testing/legacy_check.h"
#include "unzip/testing/mini_zip.h"

namespace zipkit::legacy {
namespace {

const std::string kShared = std::string(ZIPKIT_SOURCE_DIR) + "/../shared/";

const char* const kArchives[] = {
    "corpus/third-party/pkzip-dos/PKZ80A1.ZIP",
    "corpus/third-party/pkzip-dos/PKZ80B1.ZIP",
    "corpus/third-party/pkzip-dos/PKZ80B2.ZIP",
    "corpus/third-party/pkzip-dos/PKZ80B3.ZIP",
    "corpus/third-party/pkzip-dos/PKZ80B4.ZIP",
    "corpus/third-party/pkzip-dos/PKZ110.ZIP",
    "corpus/third-party/commons-compress/SHRUNK.ZIP",
    "corpus/third-party/commons-compress/imploding-4Kdict-2trees.zip",
    "corpus/third-party/commons-compress/imploding-8Kdict-3trees.zip",
    "corpus/third-party/commons-compress/lorem-ipsum-implode.zip",
    "corpus/third-party/commons-compress/moby-imploded.zip",
    "corpus/third-party/rust-zip2/shrink.zip",
    "corpus/third-party/rust-zip2/reduce.zip",
    "corpus/third-party/rust-zip2/implode.zip",
    "bench-data/legacy/PKZ110EI.ZIP",
    "bench-data/legacy/PKZ110ES.ZIP",
    "bench-data/legacy/PKZ80B4.ZIP",
};

TEST(LegacyCorpus, EveryEntryDecodesToItsSizeAndCrc) {
  if (!std::filesystem::exists(kShared + "corpus")) GTEST_SKIP() << "no corpus beside the tree";
  std::map<std::string, int> decoded;  // by method and flags
  for (const char* name : kArchives) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> zip = testing::ReadFile(kShared + name);
    for (const testing::MiniEntry& e : testing::ReadEntries(zip)) {
      if (e.method < 1 || e.method > 6) continue;
      const testing::Codec c{e.method, (e.flags & 2) != 0, (e.flags & 4) != 0};
      const std::vector<uint8_t> packed(e.data, e.data + e.packed);
      const auto d = testing::DecodeFast(c, packed, e.unpacked);
      EXPECT_FALSE(d.corrupt) << e.name;
      EXPECT_EQ(d.bytes.size(), e.unpacked) << e.name;
      EXPECT_EQ(testing::Crc32(d.bytes), e.crc) << e.name;
      ++decoded[c.Label()];
    }
  }
  // Every method and every implode variant the corpus holds was reached.
  for (const char* label :
       {"shrink", "reduce1", "reduce2", "reduce3", "reduce4", "implode4k2t", "implode8k3t"})
    EXPECT_GT(decoded[label], 0) << label;
}

}  // namespace
}  // namespace zipkit::legacy
