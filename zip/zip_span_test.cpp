// Spanned sets: our image naming, the split naming of other tools, disk and image requests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/test_temp_dir.h"
#include "host/exceptions.h"
#include "support/errors.h"
#include "zip/test_zip_builder.h"
#include "zip/zip_archive.h"

namespace zipkit {
namespace {

using testing::CentralHeader;
using testing::EndFields;
using testing::LocalHeader;
using testing::TempDir;
using testing::ZipEntry;

constexpr uint16_t kRead = fmOpenRead | fmShareDenyNone;
const std::string kSpanSig("PK\x07\x08", 4);

struct Volumes {
  std::vector<std::string> bytes;
};

// Three entries on volumes 0, 1 and 2; the directory starts at the end of volume 2 and goes on
// in volume 3, which holds the end record.
Volumes FourVolumeSet() {
  ZipEntry a{"a.txt", "on volume zero"}, b{"b.txt", "on volume one"}, c{"c.txt", "on two"};
  a.disk = 0;
  b.disk = 1;
  c.disk = 2;
  Volumes v;
  v.bytes.push_back(kSpanSig + LocalHeader(a) + a.data);
  v.bytes.push_back(LocalHeader(b) + b.data);
  const std::string vol2 = LocalHeader(c) + c.data;
  const std::string dir_a = CentralHeader(a, 4);
  v.bytes.push_back(vol2 + dir_a);
  const std::string rest = CentralHeader(b, 0) + CentralHeader(c, 0);
  EndFields end;
  end.disk = 3;
  end.start_disk = 2;
  end.entries_on_disk = 2;
  end.total = 3;
  end.size = static_cast<uint32_t>(dir_a.size() + rest.size());
  end.offset = static_cast<uint32_t>(vol2.size());
  v.bytes.push_back(rest + testing::EndRecord(end));
  return v;
}

// A split set of another tool: x.z01 (volume 0), x.z02 (volume 1), x.zip (volume 2, last).
Volumes SplitSet() {
  ZipEntry a{"a.txt", "first"}, b{"b.txt", "second"};
  b.disk = 1;
  Volumes v;
  v.bytes.push_back(kSpanSig + LocalHeader(a) + a.data);
  const std::string vol1 = LocalHeader(b) + b.data;
  const std::string dir_a = CentralHeader(a, 4);
  v.bytes.push_back(vol1 + dir_a);
  const std::string dir_b = CentralHeader(b, 0);
  EndFields end;
  end.disk = 2;
  end.start_disk = 1;
  end.entries_on_disk = 1;
  end.total = 2;
  end.size = static_cast<uint32_t>(dir_a.size() + dir_b.size());
  end.offset = static_cast<uint32_t>(vol1.size());
  v.bytes.push_back(dir_b + testing::EndRecord(end));
  return v;
}

class ZipSpan : public ::testing::Test {
 protected:
  void WriteOurs(const Volumes& v, const std::vector<int>& skip = {}) {
    const char* names[] = {"BACKUP.ZIP", "BACKUP.Z01", "BACKUP.Z02", "BACKUP.Z03"};
    for (size_t i = 0; i < v.bytes.size(); ++i)
      if (std::find(skip.begin(), skip.end(), static_cast<int>(i)) == skip.end())
        dir.Write(names[i], v.bytes[i]);
  }
  void WriteSplit(const Volumes& v, const std::vector<int>& skip = {}) {
    const char* names[] = {"x.z01", "x.z02", "x.zip"};
    for (size_t i = 0; i < v.bytes.size(); ++i)
      if (std::find(skip.begin(), skip.end(), static_cast<int>(i)) == skip.end())
        dir.Write(names[i], v.bytes[i]);
  }
  static std::vector<std::string> Names(const TAbZipArchive& a) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < a.ItemCount(); ++i) names.push_back(a.ZipItem(i)->StoredName());
    return names;
  }
  static std::string Head(TAbZipArchive& a) {
    std::string head(4, '\0');
    a.Stream->SetPosition(0);
    a.Stream->ReadBuffer(head.data(), 4);
    return head;
  }

  TempDir dir;
};

TEST_F(ZipSpan, OurSetLoadsFromItsFirstVolume) {
  WriteOurs(FourVolumeSet());
  TAbZipArchive a(dir / "BACKUP.ZIP", kRead);
  a.LoadCatalog();
  EXPECT_EQ(Names(a), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_TRUE(a.Spanned);
  EXPECT_FALSE(a.SplitNaming);
  EXPECT_EQ(a.CurrentDisk, 3);
  EXPECT_EQ(a.ZipItem(1)->StartDisk(), 1);
  // Volumes by number: 0 is the archive file, n its image .Z0n.
  a.OpenSpannedVolume(0);
  EXPECT_EQ(Head(a), kSpanSig);
  a.OpenSpannedVolume(2);
  EXPECT_EQ(a.Stream->Size(), static_cast<int32_t>(FourVolumeSet().bytes[2].size()));
}

TEST_F(ZipSpan, ImageHandlerIsAskedForTheLastVolumeFirst) {
  WriteOurs(FourVolumeSet());
  TAbZipArchive a(dir / "BACKUP.ZIP", kRead);
  std::vector<int32_t> asked;
  a.OnRequestImage = [&](TObject* sender, int32_t image, std::string& name, bool&) {
    EXPECT_EQ(sender, &a);
    EXPECT_EQ(name, a.ArchiveName);
    asked.push_back(image);
    name = dir / ("BACKUP.Z0" + std::to_string(image == -1 ? 3 : image));
  };
  a.LoadCatalog();
  EXPECT_EQ(asked, (std::vector<int32_t>{-1, 2, 3}));
  EXPECT_EQ(a.ItemCount(), 3);
}

TEST_F(ZipSpan, ImageHandlerCanAbort) {
  WriteOurs(FourVolumeSet());
  TAbZipArchive a(dir / "BACKUP.ZIP", kRead);
  a.OnRequestImage = [&](TObject*, int32_t, std::string&, bool& abort) { abort = true; };
  EXPECT_THROW(a.LoadCatalog(), EAbUserAbort);
  EXPECT_EQ(a.Stream, nullptr);
  EXPECT_EQ(a.State, stReady);
}

TEST_F(ZipSpan, MissingImageStopsTheSearch) {
  WriteOurs(FourVolumeSet(), {2});  // BACKUP.Z02 missing, BACKUP.Z03 present
  TAbZipArchive a(dir / "BACKUP.ZIP", kRead);
  EXPECT_THROW(a.LoadCatalog(), EAbFileNotFound);
  EXPECT_EQ(a.Stream, nullptr);
  EXPECT_EQ(a.State, stReady);
  // Without a volume nothing touches the stream.
  EXPECT_THROW(a.LoadCatalog(), EAbNoArchive);
  EXPECT_EQ(a.FindEndRecord(), -1);
}

TEST_F(ZipSpan, ImagesWithoutAnEndRecordAreNotFound) {
  dir.Write("lone.zip", kSpanSig + "no end record anywhere");
  TAbZipArchive a(dir / "lone.zip", kRead);
  EXPECT_THROW(a.LoadCatalog(), EAbFileNotFound);
}

TEST_F(ZipSpan, LastImageOpenedDirectlyFindsItsFirstVolume) {
  WriteOurs(FourVolumeSet());
  TAbZipArchive a(dir / "BACKUP.Z03", kRead);
  a.LoadCatalog();
  EXPECT_EQ(Names(a), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_TRUE(a.Spanned);
  EXPECT_FALSE(a.SplitNaming);
  a.OpenSpannedVolume(0);
  EXPECT_EQ(Head(a), kSpanSig);
}

TEST_F(ZipSpan, SplitSetOfAnotherToolLoadsFromItsLastVolume) {
  WriteSplit(SplitSet());
  TAbZipArchive a(dir / "x.zip", kRead);
  a.LoadCatalog();
  EXPECT_EQ(Names(a), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_TRUE(a.Spanned);
  EXPECT_TRUE(a.SplitNaming);
  EXPECT_EQ(a.CurrentDisk, 2);
  // Volume n is the image .z(n+1); the last volume is the archive file.
  a.OpenSpannedVolume(0);
  EXPECT_EQ(Head(a), kSpanSig);
  a.OpenSpannedVolume(1);
  EXPECT_EQ(a.Stream->Size(), static_cast<int32_t>(SplitSet().bytes[1].size()));
  a.OpenSpannedVolume(2);
  EXPECT_EQ(a.Stream->Size(), static_cast<int32_t>(SplitSet().bytes[2].size()));
}

TEST_F(ZipSpan, SplitSetWithAMissingVolume) {
  WriteSplit(SplitSet(), {1});  // the directory starts on the missing x.z02
  TAbZipArchive a(dir / "x.zip", kRead);
  EXPECT_THROW(a.LoadCatalog(), EAbFileNotFound);

  std::filesystem::remove(dir / "x.z01");
  WriteSplit(SplitSet(), {0});  // only an entry's volume is missing: listing works
  TAbZipArchive b(dir / "x.zip", kRead);
  b.LoadCatalog();
  EXPECT_EQ(b.ItemCount(), 2);
  EXPECT_THROW(b.OpenSpannedVolume(0), EAbFileNotFound);
}

TEST_F(ZipSpan, DirectoryStartingBeyondTheLastVolumeIsInvalid) {
  EndFields end;
  end.disk = 1;
  end.start_disk = 5;
  dir.Write("bad.zip", testing::EndRecord(end));
  TAbZipArchive a(dir / "bad.zip", kRead);
  EXPECT_THROW(a.LoadCatalog(), EAbZipInvalid);
}

TEST_F(ZipSpan, RemovableMediaAsksForDisksCountedFromOne) {
  WriteSplit(SplitSet());
  TAbZipArchive a(dir / "x.zip", kRead);
  a.LoadCatalog();
  a.RemovableMedia = true;
  std::vector<int> asked;
  a.OnRequestNthDisk = [&](TObject*, uint8_t disk, bool&) { asked.push_back(disk); };
  a.OnRequestLastDisk = [&](TObject*, bool&) { asked.push_back(-1); };
  a.OpenSpannedVolume(0);
  a.OpenSpannedVolume(256);  // disk 257, carried in a byte
  a.OpenSpannedVolume(-1);
  EXPECT_EQ(asked, (std::vector<int>{1, 1, -1}));
  // Every disk holds a file of the archive's name.
  EXPECT_EQ(a.Stream->Size(), static_cast<int32_t>(SplitSet().bytes[2].size()));

  a.OnRequestNthDisk = [&](TObject*, uint8_t, bool& abort) { abort = true; };
  EXPECT_THROW(a.OpenSpannedVolume(1), EAbUserAbort);
  EXPECT_EQ(a.Stream, nullptr);
}

TEST_F(ZipSpan, WithoutAHandlerTheUserIsAsked) {
  if (isatty(STDIN_FILENO)) GTEST_SKIP() << "would wait for an answer on the terminal";
  dir.Write("x.zip", "");
  TAbZipArchive a(dir / "x.zip", kRead);
  bool abort = false;
  a.RequestNthDisk(2, abort);
  EXPECT_TRUE(abort);  // no one to answer: Cancel
  a.RequestLastDisk(abort);
  EXPECT_TRUE(abort);
  a.Spanned = false;
  a.RequestBlankDisk(abort);
  EXPECT_TRUE(abort);
  EXPECT_TRUE(a.Spanned);
}

TEST_F(ZipSpan, CreatingVolumes) {
  dir.Write("new.zip", "");
  TAbZipArchive a(dir / "new.zip", kRead);
  a.CreateSpannedVolume(5);
  a.Stream->WriteBuffer("v5", 2);
  EXPECT_EQ(dir.Read("new.z05"), "v5");

  a.OnRequestImage = [&](TObject*, int32_t image, std::string& name, bool&) {
    name = dir / ("part" + std::to_string(image));
  };
  a.CreateSpannedVolume(7);
  EXPECT_TRUE(std::filesystem::exists(dir / "part7"));

  a.OnRequestImage = [&](TObject*, int32_t, std::string&, bool& abort) { abort = true; };
  EXPECT_THROW(a.CreateSpannedVolume(8), EAbUserAbort);
  EXPECT_EQ(a.Stream, nullptr);
}

}  // namespace
}  // namespace zipkit
