// Faults while an archive is saved: the old archive stops being readable part way, the disk
// fills up at any point of the new archive, the process is killed at any point. The archive
// file stays byte for byte as it was (killed after the new archive took its place, it is the
// complete new one, never a mixture); a failed save leaves no temporary file behind, and the
// same save succeeds once the cause is gone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "compress/compress_item.h"
#include "host/exceptions.h"
#include "host/host.h"
#include "support/errors.h"
#include "tests/hostile/fault_stream.h"
#include "tests/hostile/isolated.h"
#include "unzip/extract.h"
#include "unzip/test_dir.h"
#include "unzip/zip_fixture.h"
#include "zip/zip_archive.h"

namespace zipkit {
namespace {

using testing::FixtureEntry;
using testing::Noise;
using testing::TestDir;
using testing::TFaultFileStream;
using testing::TFaultKind;
using testing::TFaultOp;
using testing::TFaultPlan;
using testing::ZipFixture;

constexpr uint16_t kReadWrite = fmOpenReadWrite | fmShareDenyWrite;

FixtureEntry Stored(const std::string& Name, const std::string& Data) {
  FixtureEntry e;
  e.name = Name;
  e.data = Data;
  return e;
}

// An archive of a.txt, big.bin (noise, stored) and c.txt; the pending save drops a.txt and adds
// new.bin (noise, deflated by the compressor).
class PendingSave {
 public:
  explicit PendingSave(size_t BigSize = 400000) {
    ZipFixture zip;
    zip.Add(Stored("a.txt", "alpha"));
    zip.Add(Stored("big.bin", Noise(BigSize, 1)));
    zip.Add(Stored("c.txt", "gamma"));
    const auto bytes = zip.Bytes();
    original.assign(bytes.begin(), bytes.end());
    dir.Write("o.zip", bytes);
    dir.Write("new.bin", std::vector<uint8_t>(new_data.begin(), new_data.end()));
    archive = std::make_unique<TAbZipArchive>(dir.Path("o.zip"), kReadWrite);
    archive->SetBaseDirectory(dir.Path());
    archive->InsertHook = CompressFileToItem;
    archive->LoadCatalog();
    archive->DeleteAt(0);
    archive->AddFiles("new.bin", host::faAnyFile);
  }

  // The old archive is read from now on through a file stream that fails as Plan says.
  void InjectIntoArchive(const TFaultPlan& Plan) {
    archive->Stream.reset();  // its lock would keep the second stream out
    archive->Stream = std::make_unique<TFaultFileStream>(dir.Path("o.zip"), kReadWrite, Plan);
  }

  // Files in the folder besides the archive and the file to add.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> extra;
    for (const auto& f : std::filesystem::directory_iterator(dir.Native())) {
      const std::string n = f.path().filename().string();
      if (n != "o.zip" && n != "new.bin") extra.push_back(n);
    }
    return extra;
  }

  // The archive file as the finished save makes it: every entry tests good, with the data
  // expected.
  static ::testing::AssertionResult IsTheNewArchive(const std::string& Path, const std::string& New,
                                                    const std::string& Big) {
    TAbZipArchive a(Path, fmOpenRead | fmShareDenyNone);
    a.ExtractToStreamHook = [](TAbZipArchive& A, TAbZipItem& I, TStream* S) {
      ExtractZipItemToStream(A, I, S);
    };
    a.LoadCatalog();
    const std::vector<std::pair<std::string, std::string>> want = {
        {"big.bin", Big}, {"c.txt", "gamma"}, {"new.bin", New}};
    if (a.ItemCount() != 3) return ::testing::AssertionFailure() << a.ItemCount() << " items";
    for (int32_t i = 0; i < 3; ++i) {
      if (a.ZipItem(i)->StoredName() != want[i].first)
        return ::testing::AssertionFailure() << "item " << i << " is " << a.ZipItem(i)->StoredName();
      TMemoryStream out;
      a.UnpackItemToStreamAt(i, &out);
      if (std::string(reinterpret_cast<const char*>(out.Memory()), out.Size()) != want[i].second)
        return ::testing::AssertionFailure() << want[i].first << " differs";
    }
    return ::testing::AssertionSuccess();
  }

  const std::string new_data = Noise(200000, 2) + std::string(200000, 'n');
  TestDir dir;
  std::string original;
  std::unique_ptr<TAbZipArchive> archive;
};

// The old archive's reads fail while its entries are copied: the save fails with the read
// error, the file is as it was, no temporary file stays, and with a sound stream the same save
// goes through.
TEST(SaveFaults, OldArchiveUnreadablePartWay) {
  const struct {
    const char* what;
    TFaultPlan plan;
  } faults[] = {
      {"a read raises", {.Op = TFaultOp::Read, .Kind = TFaultKind::Raise, .AtOffset = 200000}},
      {"a read yields nothing", {.Op = TFaultOp::Read, .Kind = TFaultKind::Nothing, .AtOffset = 200000}},
      {"the medium ends", {.Op = TFaultOp::Read, .AtOffset = 200000}},
      {"seeks refused", {.Op = TFaultOp::Seek, .AtOffset = 100}},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.what);
    PendingSave s;
    s.InjectIntoArchive(fault.plan);
    EXPECT_THROW(s.archive->Commit(), Exception);
    EXPECT_EQ(s.dir.Read("o.zip"), s.original);
    EXPECT_EQ(s.Leftovers(), std::vector<std::string>{});
    EXPECT_TRUE(s.archive->Modified);

    s.archive->Stream.reset();
    s.archive->Stream = std::make_unique<TFileStream>(s.dir.Path("o.zip"), kReadWrite);
    s.archive->Commit();
    s.archive.reset();
    EXPECT_TRUE(PendingSave::IsTheNewArchive(s.dir.Path("o.zip"), s.new_data, Noise(400000, 1)));
    EXPECT_EQ(s.Leftovers(), std::vector<std::string>{});
  }
}

// The disk fills up (a file size limit in a child) at points all through the new archive: in
// the first entry copied, in the new entry, in the central directory, a byte before the end.
TEST(SaveFaults, DiskFullAtEveryStage) {
  int64_t final_size = 0;
  {
    PendingSave s;
    s.archive->Commit();
    final_size = static_cast<int64_t>(std::filesystem::file_size(s.dir.Native("o.zip")));
  }
  for (const int64_t limit : {int64_t{1000}, int64_t{300000}, int64_t{600000}, final_size - 100,
                              final_size - 1}) {
    SCOPED_TRACE("limit " + std::to_string(limit) + " of " + std::to_string(final_size));
    PendingSave s;
    const auto outcome = testing::RunIsolated(
        [&] {
          try {
            s.archive->Commit();
            return 1;
          } catch (const Exception&) {
          }
          return s.dir.Read("o.zip") == s.original && s.Leftovers().empty() ? 0 : 2;
        },
        {.FileSize = limit});
    EXPECT_TRUE(outcome.Exited) << "signal " << outcome.Signal;
    EXPECT_EQ(outcome.Code, 0);
  }
}

// A save killed at points all through its work (as soon as it starts, while the temporary file
// grows, around the moment it takes the archive's place): the archive file is either the old
// one byte for byte or the complete new one.
TEST(SaveFaults, KilledAtAnyPoint) {
  int old_seen = 0;
  int new_seen = 0;
  for (const int delay_us : {0, 2000, 10000, 30000, 60000, 100000, 200000, 400000}) {
    SCOPED_TRACE("killed after " + std::to_string(delay_us) + " us");
    PendingSave s(2000000);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      try {
        s.archive->Commit();
      } catch (...) {
      }
      _exit(0);
    }
    usleep(static_cast<useconds_t>(delay_us));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string now = s.dir.Read("o.zip");
    if (now == s.original) {
      ++old_seen;
    } else {
      ++new_seen;
      EXPECT_TRUE(PendingSave::IsTheNewArchive(s.dir.Path("o.zip"), s.new_data, Noise(2000000, 1)));
    }
  }
  // Killed at once, the save cannot have replaced anything.
  EXPECT_GT(old_seen, 0);
  RecordProperty("old", old_seen);
  RecordProperty("new", new_seen);
}

}  // namespace
}  // namespace zipkit
