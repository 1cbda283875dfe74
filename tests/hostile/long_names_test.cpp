// Names as long as the format allows, extracted with their paths: they fail as the file system
// refuses them, without work in the square of their length, and the extraction goes on.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/hostile/isolated.h"
#include "tests/hostile/raw_zip.h"
#include "unzip/extract.h"
#include "unzip/test_dir.h"
#include "zip/zip_archive.h"

namespace zipkit {
namespace {

using testing::Bytes;
using testing::RunIsolated;
using testing::TestDir;
using testing::TRawEntry;

// Names of 65,535 bytes, the most the format holds: a flat one cannot be created (the item
// fails); one of 32,767 nested folders cannot be made in full (the item fails), and walking its
// levels takes time in proportion to its length (it took seconds per entry, in the square of
// the length; the CPU limit ends a child that does so). The entry after them is extracted.
TEST(Limits, LongestNames) {
  constexpr int kNested = 3;
  const std::string flat(65535, 'x');
  std::vector<std::string> names = {flat};
  for (int k = 0; k < kNested; ++k) {
    // Trees of their own ("a/a/...", "b/b/..."), so that none finds the work of another done.
    const std::string level = {static_cast<char>('a' + k), '/'};
    std::string nested;
    while (nested.size() + 2 <= 65535) nested += level;
    names.push_back(nested + "f");
  }
  names.push_back("last.txt");
  Bytes zip;
  std::vector<TRawEntry> entries;
  for (const std::string& name : names) {
    const Bytes data = {'o', 'k'};
    TRawEntry e{name, 0, 0, testing::Crc32Of(data), 2, 2, static_cast<uint32_t>(zip.size())};
    testing::PutLocal(zip, e);
    zip.insert(zip.end(), data.begin(), data.end());
    entries.push_back(e);
  }
  const auto dir_start = static_cast<uint32_t>(zip.size());
  for (const auto& e : entries) testing::PutCentral(zip, e);
  testing::PutEnd(zip, dir_start, static_cast<uint32_t>(names.size()));

  TestDir dir;
  dir.Write("a.zip", zip);
  std::filesystem::create_directory(dir.Native("out"));
  const auto outcome = RunIsolated(
      [&] {
        TAbZipArchive archive(dir.Path("a.zip"), fmOpenRead | fmShareDenyNone);
        archive.ExtractHook = [](TAbZipArchive& A, TAbZipItem& I, const std::string& N) {
          ExtractZipItemToFile(A, I, N);
        };
        int failures = 0;
        archive.OnProcessItemFailure = [&](TObject*, TAbArchiveItem*, TAbProcessType,
                                           TAbErrorClass, int32_t) { ++failures; };
        archive.LoadCatalog();
        archive.SetBaseDirectory(dir.Path("out"));
        archive.ExtractOptions = {eoCreateDirs, eoRestorePath};
        archive.ExtractMatching("*.*");
        if (failures != 1 + kNested) return 10 + failures;
        return dir.Read("out/last.txt") == "ok" ? 0 : 1;
      },
      {.CpuSeconds = 8});
  EXPECT_TRUE(outcome.Exited) << "signal " << outcome.Signal;
  EXPECT_EQ(outcome.Code, 0);
}

}  // namespace
}  // namespace zipkit
