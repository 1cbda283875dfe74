// Faults of the output and of the archive during extraction: the failing item is reported, its
// partial file is deleted, and the extraction goes on with the next item.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/exceptions.h"
#include "support/errors.h"
#include "tests/hostile/fault_stream.h"
#include "tests/hostile/isolated.h"
#include "tests/hostile/raw_zip.h"
#include "unzip/extract.h"
#include "unzip/test_dir.h"
#include "unzip/testing/legacy_check.h"
#include "unzip/zip_fixture.h"
#include "zip/zip_archive.h"

namespace zipkit {
namespace {

using testing::FixtureEntry;
using testing::Noise;
using testing::TestDir;
using testing::TFaultKind;
using testing::TFaultOp;
using testing::TFaultPlan;
using testing::TFaultStream;
using testing::ZipFixture;

// Text that the older methods can shrink, with matches reaching back through their windows.
std::string Text(size_t N) {
  std::string s;
  for (int i = 0; s.size() < N; ++i) s.append("line ").append(std::to_string(i % 977)).append(" of the text\n");
  s.resize(N);
  return s;
}

// An entry of Method (0 stored, 1 shrink, 2 reduce, 6 implode, 8 deflate) holding Data.
FixtureEntry Entry(const std::string& Name, const std::string& Data, uint16_t Method) {
  FixtureEntry e;
  e.name = Name;
  e.data = Data;
  e.method = Method;
  const testing::Bytes bytes(Data.begin(), Data.end());
  testing::Bytes packed;
  if (Method == 8) packed = testing::Deflate(bytes);
  else if (Method != 0) packed = testing::Encode(testing::Codec{Method}, bytes);
  e.packed.assign(packed.begin(), packed.end());
  return e;
}

struct Failure {
  std::string name;
  TAbErrorClass error_class;
  int32_t code;
};

// An archive of Entries in a fresh folder, loaded with the driver's hooks; extraction goes to
// the folder "out" beside it.
class Extraction {
 public:
  explicit Extraction(const std::vector<FixtureEntry>& Entries) : entries(Entries) {
    ZipFixture zip;
    for (const auto& e : Entries) zip.Add(e);
    dir.Write("a.zip", zip.Bytes());
    std::filesystem::create_directory(dir.Native("out"));
    archive = std::make_unique<TAbZipArchive>(dir.Path("a.zip"), fmOpenRead | fmShareDenyNone);
    archive->ExtractHook = [](TAbZipArchive& A, TAbZipItem& I, const std::string& N) {
      ExtractZipItemToFile(A, I, N);
    };
    archive->ExtractToStreamHook = [](TAbZipArchive& A, TAbZipItem& I, TStream* S) {
      ExtractZipItemToStream(A, I, S);
    };
    archive->OnProcessItemFailure = [this](TObject*, TAbArchiveItem* Item, TAbProcessType,
                                           TAbErrorClass Class, int32_t Code) {
      failures.push_back({Item->StoredName(), Class, Code});
    };
    archive->LoadCatalog();
    archive->SetBaseDirectory(dir.Path("out"));
  }

  // From now on the archive is read through a stream that fails as Plan says.
  TFaultStream& InjectIntoArchive(const TFaultPlan& Plan) {
    auto faulty = std::make_unique<TFaultStream>(std::move(archive->Stream), Plan);
    TFaultStream& ref = *faulty;
    archive->Stream = std::move(faulty);
    return ref;
  }

  std::set<std::string> Failed() const {
    std::set<std::string> names;
    for (const auto& f : failures) names.insert(f.name);
    return names;
  }

  // The entries that are not in Failed must be in "out" with their data; the failed ones must
  // have left nothing.
  void ExpectOutput() const {
    const std::set<std::string> failed = Failed();
    for (const auto& e : entries) {
      SCOPED_TRACE(e.name);
      if (failed.count(e.name)) {
        EXPECT_FALSE(dir.Exists("out/" + e.name)) << "a partial file was left";
      } else {
        EXPECT_EQ(dir.Read("out/" + e.name), e.data);
      }
    }
  }

  std::vector<FixtureEntry> entries;
  TestDir dir;
  std::unique_ptr<TAbZipArchive> archive;
  std::vector<Failure> failures;
};

std::string MethodName(uint16_t Method) {
  switch (Method) {
    case 0: return "stored";
    case 1: return "shrunk";
    case 2: return "reduced";
    case 6: return "imploded";
    default: return "deflated";
  }
}

// ---- The output fails ----

struct OutputFault {
  const char* what;
  TFaultPlan plan;
};

const OutputFault kOutputFaults[] = {
    {"short write after 50000 bytes", {.Op = TFaultOp::Write, .AfterBytes = 50000}},
    {"nothing taken from the 2nd write on", {.Op = TFaultOp::Write, .OnCall = 2}},
    {"write error raised on the 3rd write",
     {.Op = TFaultOp::Write, .Kind = TFaultKind::Raise, .OnCall = 3, .Once = true}},
    {"seek refused on the 4th move", {.Op = TFaultOp::Seek, .OnCall = 4}},
};

// Every method through every output fault: the item fails with an exception of ours or the
// host's (never passes, never crashes), and the archive extracts the next item untouched.
TEST(ExtractFaults, FailingOutputStreamFailsTheItemOnly) {
  const std::string data = Text(120000);
  for (const uint16_t method : {0, 1, 2, 6, 8}) {
    Extraction x({Entry("big", data, method), Entry("next", Text(3000), method)});
    for (const OutputFault& fault : kOutputFaults) {
      SCOPED_TRACE(MethodName(method) + ", " + fault.what);
      TMemoryStream memory;
      TFaultStream out(memory, fault.plan);
      bool failed = false;
      try {
        x.archive->UnpackItemToStreamAt(0, &out);
      } catch (const EAbZipStreamFull& e) {
        failed = true;
        EXPECT_EQ(e.Message(), "Stream write error");
      } catch (const EWriteError&) {
        failed = true;
        EXPECT_EQ(fault.plan.Kind, TFaultKind::Raise);
      } catch (const Exception& e) {
        // The sliding window of the older methods reports its target's failures itself.
        failed = true;
        EXPECT_TRUE(method >= 2 && method <= 6) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind("TabSlidingWindowStream.bsWriteChunk: ", 0), 0u)
            << e.what();
      }
      // Only the window moves its target, so a seek fault touches the older methods alone.
      const bool seeks = method >= 2 && method <= 6;
      EXPECT_EQ(failed, fault.plan.Op != TFaultOp::Seek || seeks);
      EXPECT_EQ(out.Faults() > 0, failed);

      TMemoryStream next;
      x.archive->UnpackItemToStreamAt(1, &next);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(next.Memory()), next.Size()),
                x.entries[1].data);
    }
  }
}

// ---- The archive fails while it is read ----

// Where in the archive a fault lies.
enum class Where { InsideBig, BigHeader };

struct ArchiveFault {
  const char* what;
  TFaultPlan plan;  // AtOffset is set from `where`
  Where where;
  std::set<std::string> failed;  // the items that must fail
};

// The archive: a (1 KB), big (150 KB of noise: stored, or deflated to about as much), c (1 KB).
TEST(ExtractFaults, FailingArchiveReadsFailTheItemAndTheRestGoesOn) {
  const ArchiveFault faults[] = {
      // A short read is only a smaller block: nothing fails.
      {"one short read", {.Op = TFaultOp::Read, .Once = true}, Where::InsideBig, {}},
      {"one read yields nothing", {.Op = TFaultOp::Read, .Kind = TFaultKind::Nothing, .Once = true},
       Where::InsideBig, {"big"}},
      {"one read raises", {.Op = TFaultOp::Read, .Kind = TFaultKind::Raise, .Once = true},
       Where::InsideBig, {"big"}},
      {"the medium ends", {.Op = TFaultOp::Read}, Where::InsideBig, {"big", "c"}},
      {"seeks beyond a point refused", {.Op = TFaultOp::Seek}, Where::BigHeader, {"big", "c"}},
  };
  for (const uint16_t method : {0, 8}) {
    for (const ArchiveFault& fault : faults) {
      SCOPED_TRACE(MethodName(method) + ", " + fault.what);
      Extraction x({Entry("a", Text(1000), method), Entry("big", Noise(150000, 1), method),
                    Entry("c", Text(1100), method)});
      const TAbZipItem& big = *x.archive->ZipItem(1);
      TFaultPlan plan = fault.plan;
      plan.AtOffset = big.LocalHeaderOffset();
      if (fault.where == Where::InsideBig) plan.AtOffset += 30 + 3 + big.PackedSize() / 2;
      TFaultStream& stream = x.InjectIntoArchive(plan);
      x.archive->ExtractMatching("*.*");
      EXPECT_EQ(x.Failed(), fault.failed);
      EXPECT_GT(stream.Faults(), 0);
      for (const auto& f : x.failures)
        EXPECT_TRUE(f.error_class == ecArchiveFault || f.error_class == ecFilerFault)
            << f.name << " " << f.error_class;
      x.ExpectOutput();
    }
  }
}

// The archive shrinks under the reader after loading (a file cut by another program): the
// item cut in its data fails with the archive's read error, the one whose local header is gone
// with the stream's; the others are extracted.
TEST(ExtractFaults, ArchiveCutAfterLoading) {
  Extraction x({Entry("a", Text(1000), 8), Entry("big", Noise(60000, 2), 0),
                Entry("c", Text(1000), 8)});
  std::filesystem::resize_file(x.dir.Native("a.zip"), 30000);
  x.archive->ExtractMatching("*.*");
  ASSERT_EQ(x.Failed(), (std::set<std::string>{"big", "c"}));
  EXPECT_EQ(x.failures[0].error_class, ecArchiveFault);
  EXPECT_EQ(x.failures[0].code, 29);  // EAbReadError
  EXPECT_EQ(x.failures[1].error_class, ecFilerFault);
  x.ExpectOutput();
}

// ---- The disk fills up ----

// In a child whose files may not grow beyond 64 KiB (writes beyond fail, as on a full disk):
// the large item fails and leaves no file, the items around it are extracted. Each method
// writes its output its own way (stored blocks, the inflate window, the sliding window).
TEST(ExtractFaults, FullDiskDeletesThePartialFileAndGoesOn) {
  for (const uint16_t method : {0, 6, 8}) {
    SCOPED_TRACE(MethodName(method));
    Extraction x({Entry("a", Text(2000), method), Entry("big", Text(300000), method),
                  Entry("c", Text(2000), method)});
    const auto outcome = testing::RunIsolated(
        [&] {
          x.archive->ExtractMatching("*.*");
          if (x.Failed() != std::set<std::string>{"big"}) return 1;
          // The sliding window of implode reports its target's short write itself.
          const Failure& f = x.failures[0];
          if (method == 6 ? f.error_class != ecUnclassified
                          : f.error_class != ecArchiveFault || f.code != 18)
            return 2;
          if (x.dir.Exists("out/big")) return 3;
          if (x.dir.Read("out/a") != x.entries[0].data || x.dir.Read("out/c") != x.entries[2].data)
            return 4;
          return 0;
        },
        {.FileSize = 64 << 10});
    EXPECT_TRUE(outcome.Exited) << "signal " << outcome.Signal;
    EXPECT_EQ(outcome.Code, 0);
  }
}

}  // namespace
}  // namespace zipkit
