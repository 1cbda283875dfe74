// Saving ZIP archives: layout, every pending action, stubs, data descriptors, spanned sets,
// names, and what a failed save leaves behind. New entries go through a storing insert hook
// made here, so that these tests stand without the compressor.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/test_temp_dir.h"
#include "host/exceptions.h"
#include "host/host.h"
#include "support/crc32.h"
#include "support/errors.h"
#include "zip/test_zip_builder.h"
#include "zip/zip_archive.h"
#include "zip/zip_save_output.h"
#include "zip/zip_save_volumes.h"

namespace zipkit {
namespace {

using testing::BuildZip;
using testing::Le16;
using testing::Le32;
using testing::TempDir;
using testing::ZipEntry;

constexpr uint16_t kReadWrite = fmOpenReadWrite | fmShareDenyWrite;

uint32_t Crc(const std::string& s) {
  uint32_t crc = 0xFFFFFFFF;
  UpdateCrc32(crc, s.data(), static_cast<int32_t>(s.size()));
  return ~crc;
}

uint16_t Get16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}
uint32_t Get32(const std::string& s, size_t at) { return Get16(s, at) | uint32_t{Get16(s, at + 2)} << 16; }

// The insert hook of these tests: stores the disk file as it is, with its CRC-32 and time.
void StoreFile(TAbZipArchive&, TAbZipItem& Item, TStream& Out) {
  TFileStream in(Item.DiskName, fmOpenRead | fmShareDenyWrite);
  std::string data(static_cast<size_t>(in.Size()), '\0');
  in.ReadBuffer(data.data(), static_cast<int32_t>(data.size()));
  const int64_t stamp = host::FileAge(Item.DiskName);
  Item.SetFlags(0);
  Item.SetMethod(0);
  Item.SetVersionNeeded(10);
  Item.SetMadeByVersion(20);
  Item.SetChecksum(Crc(data));
  Item.SetPackedSize(static_cast<int32_t>(data.size()));
  Item.SetUnpackedSize(static_cast<int32_t>(data.size()));
  Item.SetAttributes(0x20);
  Item.SetFileDate(static_cast<uint16_t>(stamp >> 16));
  Item.SetFileTime(static_cast<uint16_t>(stamp));
  Out.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
}

// One entry as read back: the name bytes of both headers, flags and the stored data.
struct Entry {
  std::string name;
  std::string local_name;
  uint16_t flags = 0;
  std::string data;
};

class ZipSave : public ::testing::Test {
 protected:
  std::unique_ptr<TAbZipArchive> Open(const std::string& name, uint16_t mode = kReadWrite) {
    auto a = std::make_unique<TAbZipArchive>(dir / name, mode);
    a->SetBaseDirectory(dir.Path());
    a->InsertHook = StoreFile;
    a->OnProcessItemFailure = [this](TObject*, TAbArchiveItem* item, TAbProcessType type,
                                     TAbErrorClass error_class, int32_t code) {
      failures.push_back(item->StoredName() + " " + std::to_string(type) + " " +
                         std::to_string(error_class) + " " + std::to_string(code));
    };
    if (mode != fmCreate) a->LoadCatalog();
    return a;
  }
  std::unique_ptr<TAbZipArchive> Create(const std::string& name, const std::string& bytes) {
    dir.Write(name, bytes);
    return Open(name);
  }
  // Adds a file of the test's folder under its own name.
  void Add(TAbZipArchive& a, const std::string& file, const std::string& contents) {
    dir.Write(file, contents);
    a.AddFiles(file, host::faAnyFile);
  }
  // A stored builder entry with its CRC-32.
  static ZipEntry E(const std::string& name, const std::string& data) {
    ZipEntry e{name, data};
    e.crc = Crc(data);
    return e;
  }

  // Every entry of a single-file archive: names and flags through the loader, data (stored)
  // from the local header on, so that both headers are checked to lead to the same bytes.
  std::vector<Entry> ReadBack(const std::string& name) {
    const std::string bytes = dir.Read(name);
    TAbZipArchive a(dir / name, fmOpenRead | fmShareDenyNone);
    a.LoadCatalog();
    std::vector<Entry> out;
    for (int32_t i = 0; i < a.ItemCount(); ++i) {
      const TAbZipItem& item = *a.ZipItem(i);
      const size_t at = static_cast<size_t>(item.LocalHeaderOffset());
      EXPECT_EQ(Get32(bytes, at), LocalHeaderSignature);
      Entry e;
      e.name = item.StoredName();
      e.flags = item.Flags();
      const uint16_t n = Get16(bytes, at + 26);
      e.local_name = bytes.substr(at + 30, n);
      EXPECT_EQ(e.local_name, item.DirectoryRecord.FileName) << e.name;
      e.data = bytes.substr(at + 30 + n + Get16(bytes, at + 28), static_cast<size_t>(item.PackedSize()));
      EXPECT_EQ(Crc(e.data), item.Checksum()) << e.name;
      out.push_back(e);
    }
    return out;
  }
  static std::vector<std::string> Names(const std::vector<Entry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    return names;
  }
  // Files in the folder besides the ones named.
  std::vector<std::string> Leftovers(std::vector<std::string> expected) {
    std::vector<std::string> extra;
    for (const auto& f : std::filesystem::directory_iterator(dir.Path())) {
      const std::string n = f.path().filename().string();
      if (std::find(expected.begin(), expected.end(), n) == expected.end()) extra.push_back(n);
    }
    return extra;
  }

  TempDir dir;
  std::vector<std::string> failures;
};

TEST_F(ZipSave, NewArchiveWithOneStoredEntry) {
  {
    auto a = Open("new.zip", fmCreate);
    Add(*a, "A.TXT", "0123456789");
    a->Commit();
    EXPECT_FALSE(a->Modified);
    EXPECT_EQ(a->ZipItem(0)->PendingAction, iaUnchanged);
  }
  const std::string z = dir.Read("new.zip");
  ASSERT_EQ(z.size(), 118u);
  EXPECT_EQ(Get32(z, 0), LocalHeaderSignature);
  EXPECT_EQ(z.substr(30, 15), "A.TXT0123456789");
  EXPECT_EQ(Get32(z, 45), DirectoryHeaderSignature);
  EXPECT_EQ(Get32(z, 96), EndRecordSignature);
  EXPECT_EQ(Get16(z, 96 + 8), 1);           // entries on this disk
  EXPECT_EQ(Get16(z, 96 + 10), 1);          // entries
  EXPECT_EQ(Get32(z, 96 + 12), 51u);        // directory size
  EXPECT_EQ(Get32(z, 96 + 16), 45u);        // directory offset
  EXPECT_EQ(ReadBack("new.zip")[0].data, "0123456789");
  EXPECT_EQ(Leftovers({"new.zip", "A.TXT"}), std::vector<std::string>{});
}

TEST_F(ZipSave, EveryPendingActionIsCarriedOut) {
  auto a = Create("t.zip", BuildZip({E("keep.txt", "kept"), E("old.txt", "renamed"),
                                     E("gone.txt", "deleted"), E("fresh.txt", "stale"),
                                     E("repl.txt", "old data")}));
  a->ZipItem(3)->SetFileDate(0x21);  // 1980: any disk file differs
  dir.Write("fresh.txt", "fresh contents");
  dir.Write("repl.txt", "replaced contents");
  a->MoveItem(a->ZipItem(1), "sub/new.txt");
  a->DeleteAt(2);
  a->FreshenByIndex(3);
  a->ReplaceByIndex(4);
  Add(*a, "added.txt", "brand new");
  a->Commit();
  EXPECT_EQ(a->ItemCount(), 5);  // the deleted item left the list

  const auto entries = ReadBack("t.zip");
  std::map<std::string, std::string> got;
  for (const auto& e : entries) got[e.name] = e.data;
  EXPECT_EQ(got, (std::map<std::string, std::string>{{"keep.txt", "kept"},
                                                     {"sub/new.txt", "renamed"},
                                                     {"fresh.txt", "fresh contents"},
                                                     {"repl.txt", "replaced contents"},
                                                     {"added.txt", "brand new"}}));
  EXPECT_EQ(Names(entries),
            (std::vector<std::string>{"keep.txt", "sub/new.txt", "fresh.txt", "repl.txt", "added.txt"}));
  EXPECT_TRUE(failures.empty());
  // The archive object describes the new file as a fresh load does.
  TAbZipArchive fresh(dir / "t.zip", fmOpenRead | fmShareDenyNone);
  fresh.LoadCatalog();
  for (int32_t i = 0; i < a->ItemCount(); ++i) {
    EXPECT_EQ(a->ZipItem(i)->PendingAction, iaUnchanged);
    EXPECT_EQ(a->ZipItem(i)->LocalHeaderOffset(), fresh.ZipItem(i)->LocalHeaderOffset());
  }
}


TEST_F(ZipSave, CopiedEntriesKeepDescriptorAndWholeExtraField) {
  ZipEntry deflated = E("d.bin", "not really deflate data");
  deflated.method = 8;
  deflated.flags = kFlagDataDescriptor;
  deflated.extra = std::string("UT\x05\x00\x01\x02\x00\x00\x00", 9);  // holds zero bytes
  ZipEntry stored = E("s.bin", "stored with a descriptor");
  stored.flags = kFlagDataDescriptor;
  auto a = Create("d.zip", BuildZip({deflated, stored}));
  Add(*a, "new.txt", "forces a save");
  a->Commit();

  const std::string z = dir.Read("d.zip");
  TAbZipArchive r(dir / "d.zip", fmOpenRead | fmShareDenyNone);
  r.LoadCatalog();
  for (int32_t i = 0; i < 2; ++i) {
    const TAbZipItem& item = *r.ZipItem(i);
    const ZipEntry& e = i == 0 ? deflated : stored;
    const size_t at = static_cast<size_t>(item.LocalHeaderOffset());
    SCOPED_TRACE(e.name);
    EXPECT_EQ(Get16(z, at + 6), kFlagDataDescriptor);
    EXPECT_EQ(Get32(z, at + 14), 0u);  // CRC-32 and sizes live in the descriptor
    EXPECT_EQ(Get32(z, at + 18), 0u);
    EXPECT_EQ(z.substr(at + 30 + e.name.size(), e.extra.size()), e.extra);
    const size_t data_at = at + 30 + e.name.size() + e.extra.size();
    EXPECT_EQ(z.substr(data_at, e.data.size()), e.data);
    const size_t desc = data_at + e.data.size();
    EXPECT_EQ(Get32(z, desc), e.crc);
    EXPECT_EQ(Get32(z, desc + 4), e.data.size());
    EXPECT_EQ(Get32(z, desc + 8), e.data.size());
    EXPECT_EQ(item.Method(), e.method);
  }
  // The next entry follows the descriptor.
  EXPECT_EQ(r.ZipItem(1)->LocalHeaderOffset(),
            30 + 5 + 9 + static_cast<int32_t>(deflated.data.size()) + 12);
}

TEST_F(ZipSave, ExecutableStubAndFileModeAreKept) {
  const std::string stub = "MZ" + std::string(1000, '\x90');
  dir.Write("sfx.exe", BuildZip({E("a.txt", "alpha")}, "", stub));
  ASSERT_EQ(chmod((dir / "sfx.exe").c_str(), 0754), 0);
  {
    auto a = Open("sfx.exe");
    ASSERT_TRUE(a->SelfExtracting);
    ASSERT_EQ(a->StubLength, 1002);
    Add(*a, "b.txt", "beta");
    a->Commit();
  }
  const std::string z = dir.Read("sfx.exe");
  EXPECT_EQ(z.substr(0, stub.size()), stub);
  struct stat st {};
  ASSERT_EQ(stat((dir / "sfx.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0754u);
  const auto entries = ReadBack("sfx.exe");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].data, "alpha");
  EXPECT_EQ(entries[1].data, "beta");
  auto again = Open("sfx.exe");
  EXPECT_EQ(again->StubLength, 1002);
}

TEST_F(ZipSave, CommentsAndEmptyArchives) {
  {
    auto a = Open("e.zip", fmCreate);
    a->Commit();  // an archive without items is always written
  }
  EXPECT_EQ(dir.Read("e.zip"), testing::EndRecord({}));
  {
    auto a = Open("e.zip");
    a->SetArchiveComment("hello");
    a->Commit();
  }
  EXPECT_EQ(Open("e.zip")->ArchiveComment(), "hello");
  {
    auto a = Open("e.zip");
    a->SetArchiveComment("");
    EXPECT_TRUE(a->Modified);
    a->Commit();
  }
  EXPECT_EQ(dir.Read("e.zip").size(), 22u);
}

TEST_F(ZipSave, FolderEntriesComeFromFolders) {
  std::filesystem::create_directories(dir / "tree/sub/empty");
  dir.Write("tree/top.txt", "top");
  dir.Write("tree/sub/low.txt", "low");
  auto a = Open("f.zip", fmCreate);
  a->SetBaseDirectory(dir / "tree");
  a->StoreOptions.Include(soRecurse);
  a->AddFiles("*", host::faAnyFile);
  a->Commit();
  EXPECT_TRUE(failures.empty());
  const auto entries = ReadBack("f.zip");
  std::vector<std::string> names = Names(entries);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"sub/", "sub/empty/", "sub/low.txt", "top.txt"}));
  TAbZipArchive r(dir / "f.zip", fmOpenRead | fmShareDenyNone);
  r.LoadCatalog();
  for (int32_t i = 0; i < r.ItemCount(); ++i) {
    const TAbZipItem& item = *r.ZipItem(i);
    const bool folder = item.StoredName().back() == '/';
    EXPECT_EQ((item.Attributes() & host::faDirectory) != 0, folder) << item.StoredName();
    if (folder) {
      EXPECT_EQ(item.UnpackedSize(), 0);
    }
  }
}

TEST_F(ZipSave, NamesTheOemCodePageCannotHoldAreStoredAsUtf8) {
  auto a = Open("n.zip", fmCreate);
  Add(*a, "\xC3\xA9t\xC3\xA9.txt", "cp437 has e-acute");     // été.txt
  Add(*a, "\xE6\x97\xA5\xE6\x9C\xAC.txt", "cp437 has no kanji");  // 日本.txt
  a->Commit();
  auto entries = ReadBack("n.zip");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "\xC3\xA9t\xC3\xA9.txt");
  EXPECT_EQ(entries[0].local_name, "\x82t\x82.txt");
  EXPECT_EQ(entries[0].flags & kFlagUtf8Name, 0);
  EXPECT_EQ(entries[1].name, "\xE6\x97\xA5\xE6\x9C\xAC.txt");
  EXPECT_EQ(entries[1].local_name, "\xE6\x97\xA5\xE6\x9C\xAC.txt");
  EXPECT_EQ(entries[1].flags & kFlagUtf8Name, kFlagUtf8Name);

  // Renaming chooses the encoding anew.
  a->MoveItem(a->ZipItem(0), "\xE2\x82\xAC.txt");  // €.txt
  a->MoveItem(a->ZipItem(1), "plain.txt");
  a->Commit();
  entries = ReadBack("n.zip");
  EXPECT_EQ(entries[0].name, "\xE2\x82\xAC.txt");
  EXPECT_EQ(entries[0].flags & kFlagUtf8Name, kFlagUtf8Name);
  EXPECT_EQ(entries[1].local_name, "plain.txt");
  EXPECT_EQ(entries[1].flags & kFlagUtf8Name, 0);
  EXPECT_EQ(entries[1].data, "cp437 has no kanji");
}

TEST_F(ZipSave, MemoryStreamReceivesTheNewArchive) {
  auto a = Create("m.zip", BuildZip({E("a.txt", "alpha")}));
  auto memory = std::make_unique<TMemoryStream>();
  const std::string old = dir.Read("m.zip");
  memory->WriteBuffer(old.data(), static_cast<int32_t>(old.size()));
  TMemoryStream* m = memory.get();
  a->Stream = std::move(memory);
  Add(*a, "b.txt", "beta");
  a->Commit();
  dir.Write("copy.zip", std::string(reinterpret_cast<const char*>(m->Memory()), m->Size()));
  EXPECT_EQ(Names(ReadBack("copy.zip")), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(dir.Read("m.zip"), old);
}

TEST_F(ZipSave, ArchiveOpenedForReadingIsNotWritten) {
  const std::string bytes = BuildZip({E("a.txt", "alpha")});
  auto a = Create("r.zip", bytes);
  a.reset();
  auto r = Open("r.zip", fmOpenRead | fmShareDenyNone);
  r->SetArchiveComment("change");
  EXPECT_THROW(r->Commit(), EWriteError);
  EXPECT_TRUE(r->Modified);
  EXPECT_EQ(dir.Read("r.zip"), bytes);
}

// ---- Spanned sets ----

class ZipSaveSpanned : public ZipSave {
 protected:
  // n files of Size bytes each, numbered, whose contents differ.
  void AddFiles(TAbZipArchive& a, int n, size_t size) {
    for (int i = 0; i < n; ++i) {
      std::string data(size, '\0');
      for (size_t k = 0; k < size; ++k) data[k] = static_cast<char>((k * 7 + static_cast<size_t>(i)) % 251);
      std::string name = "f";  // built in steps: GCC 12 warns wrongly about "f" + ... + ".bin"
      name += std::to_string(i);
      name += ".bin";
      Add(a, name, data);
    }
  }
  std::vector<std::string> VolumeFiles(const std::string& base) {
    std::vector<std::string> v{dir.Read(base + ".zip")};
    for (int k = 1; std::filesystem::exists(dir / (base + ".z" + (k < 10 ? "0" : "") + std::to_string(k))); ++k)
      v.push_back(dir.Read(base + ".z" + (k < 10 ? "0" : "") + std::to_string(k)));
    return v;
  }
  // Loads the set through its first volume and reads each entry's data across the volumes.
  std::map<std::string, std::string> ReadSet(const std::string& base) {
    const std::vector<std::string> volumes = VolumeFiles(base);
    std::string image;
    std::vector<size_t> starts;
    for (const auto& v : volumes) {
      starts.push_back(image.size());
      image += v;
    }
    TAbZipArchive a(dir / (base + ".zip"), fmOpenRead | fmShareDenyNone);
    a.LoadCatalog();
    EXPECT_TRUE(a.Spanned);
    std::map<std::string, std::string> out;
    for (int32_t i = 0; i < a.ItemCount(); ++i) {
      const TAbZipItem& item = *a.ZipItem(i);
      const size_t at = starts.at(item.StartDisk()) + static_cast<size_t>(item.LocalHeaderOffset());
      EXPECT_EQ(Get32(image, at), LocalHeaderSignature);
      const size_t data_at = at + 30 + Get16(image, at + 26) + Get16(image, at + 28);
      out[item.StoredName()] = image.substr(data_at, static_cast<size_t>(item.PackedSize()));
      EXPECT_EQ(Crc(out[item.StoredName()]), item.Checksum());
    }
    return out;
  }
};

TEST_F(ZipSaveSpanned, ArchiveIsCutIntoVolumesOfTheThreshold) {
  {
    auto a = Open("s.zip", fmCreate);
    a->SetSpanningThreshold(100000);
    AddFiles(*a, 3, 83000);
    a->Commit();
    EXPECT_TRUE(a->Spanned);
  }
  const auto volumes = VolumeFiles("s");
  ASSERT_EQ(volumes.size(), 3u);
  const size_t image = 4 + 3 * (30 + 6 + 83000) + 3 * (46 + 6) + 22;
  EXPECT_EQ(volumes[0].size(), 100000u);
  EXPECT_EQ(volumes[1].size(), 100000u);
  EXPECT_EQ(volumes[2].size(), image - 200000);
  EXPECT_EQ(volumes[0].substr(0, 4), std::string("PK\x07\x08", 4));
  // The end record names the volume that holds it, so that the set loads back.
  const std::string& last = volumes[2];
  const size_t end = last.size() - 22;
  EXPECT_EQ(Get32(last, end), EndRecordSignature);
  EXPECT_EQ(Get16(last, end + 4), 2);
  EXPECT_EQ(Get16(last, end + 6), 2);
  EXPECT_EQ(Get16(last, end + 8), 3);
  const auto set = ReadSet("s");
  ASSERT_EQ(set.size(), 3u);
  EXPECT_EQ(set.at("f1.bin").size(), 83000u);
}

TEST_F(ZipSaveSpanned, VolumeEndsEarlyRatherThanSplitAHeader) {
  const size_t first = 65536 - 4 - 30 - 6 - 10;  // leaves 10 bytes: too few for the next header
  {
    auto a = Open("h.zip", fmCreate);
    a->SetSpanningThreshold(65536);
    Add(*a, "f0.bin", std::string(first, 'a'));
    Add(*a, "f1.bin", std::string(1000, 'b'));
    a->Commit();
  }
  const auto volumes = VolumeFiles("h");
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_EQ(volumes[0].size(), 65536u - 10);
  EXPECT_EQ(Get32(volumes[1], 0), LocalHeaderSignature);
  EXPECT_EQ(ReadSet("h").at("f1.bin"), std::string(1000, 'b'));
}

TEST_F(ZipSaveSpanned, ArchiveThatFitsOneVolumeIsMarkedButNotSpanned) {
  {
    auto a = Open("one.zip", fmCreate);
    a->SetSpanningThreshold(100000);
    Add(*a, "a.txt", "alpha");
    a->Commit();
    EXPECT_FALSE(a->Spanned);
  }
  EXPECT_EQ(dir.Read("one.zip").substr(0, 4), "PK00");
  EXPECT_FALSE(std::filesystem::exists(dir / "one.z01"));
  EXPECT_EQ(ReadBack("one.zip")[0].data, "alpha");
}

TEST_F(ZipSaveSpanned, ThresholdsThatCannotMakeASetAreRefused) {
  const std::string bytes = BuildZip({E("a.txt", "alpha")});
  const struct {
    int32_t threshold;
    size_t data;
  } cases[] = {
      {65535, 10},                 // volumes too small to hold a record whole
      {65536, 101 * 65536 + 10},  // more volumes than images can be named
  };
  for (const auto& c : cases) {
    auto a = Create("t.zip", bytes);
    a->SetSpanningThreshold(c.threshold);
    Add(*a, "big.bin", std::string(c.data, 'x'));
    try {
      a->Commit();
      ADD_FAILURE() << c.threshold;
    } catch (const EAbZipException& e) {
      EXPECT_EQ(e.ErrorCode, 31);
    }
    EXPECT_EQ(dir.Read("t.zip"), bytes);
    EXPECT_FALSE(std::filesystem::exists(dir / "t.z01"));
    EXPECT_EQ(Leftovers({"t.zip", "big.bin"}), std::vector<std::string>{});
  }
}

TEST_F(ZipSaveSpanned, SavingASetIsRefusedAndDropsNewItems) {
  {
    auto a = Open("s.zip", fmCreate);
    a->SetSpanningThreshold(100000);
    AddFiles(*a, 3, 83000);
    a->Commit();
  }
  const auto before = VolumeFiles("s");
  TAbZipArchive a(dir / "s.zip", fmOpenRead | fmShareDenyNone);
  a.SetBaseDirectory(dir.Path());
  a.LoadCatalog();
  ASSERT_TRUE(a.Spanned);
  a.DeleteAt(0);
  dir.Write("x.txt", "x");
  a.AddFiles("x.txt", host::faAnyFile);
  ASSERT_EQ(a.ItemCount(), 4);
  EXPECT_THROW(a.Commit(), EAbZipSpanOverwrite);
  EXPECT_FALSE(a.Modified);
  ASSERT_EQ(a.ItemCount(), 3);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(a.ZipItem(i)->PendingAction, iaUnchanged);
  EXPECT_EQ(VolumeFiles("s"), before);
}

// ---- Failures ----

TEST_F(ZipSave, FailingInsertionsCostOnlyTheirEntries) {
  auto a = Create("f.zip", BuildZip({E("fresh.txt", "old fresh"), E("keep.txt", "kept")}));
  a->ZipItem(0)->SetFileDate(0x21);
  dir.Write("fresh.txt", "new fresh");
  a->FreshenByIndex(0);
  Add(*a, "vanishes.txt", "gone before the save");
  Add(*a, "stays.txt", "stays");
  std::filesystem::remove(dir / "vanishes.txt");
  std::filesystem::remove(dir / "fresh.txt");
  a->Commit();
  EXPECT_EQ(failures, (std::vector<std::string>{"fresh.txt 3 4 0", "vanishes.txt 0 4 0"}));
  std::map<std::string, std::string> got;
  for (const auto& e : ReadBack("f.zip")) got[e.name] = e.data;
  // The entry that could not be freshened keeps its old data.
  EXPECT_EQ(got, (std::map<std::string, std::string>{
                     {"fresh.txt", "old fresh"}, {"keep.txt", "kept"}, {"stays.txt", "stays"}}));
  EXPECT_EQ(a->ItemCount(), 3);
  EXPECT_EQ(a->Items.IndexOfName("vanishes.txt"), -1);
}

TEST_F(ZipSave, FileReadShortIsNotStoredCutShort) {
  auto a = Create("s.zip", BuildZip({E("a.txt", "alpha")}));
  // What a reader sees when the file shrinks, or when reading fails part way: an early end.
  a->InsertHook = [](TAbZipArchive& archive, TAbZipItem& item, TStream& out) {
    StoreFile(archive, item, out);
    out.SetSize(out.Size() - 3);
    item.SetUnpackedSize(item.UnpackedSize() - 3);
    item.SetPackedSize(item.PackedSize() - 3);
  };
  Add(*a, "b.txt", "beta, read in part");
  a->Commit();
  EXPECT_EQ(failures, (std::vector<std::string>{"b.txt 0 4 0"}));
  EXPECT_EQ(Names(ReadBack("s.zip")), std::vector<std::string>{"a.txt"});
}

TEST_F(ZipSave, MissingInsertHookDropsNewEntries) {
  auto a = Create("h.zip", BuildZip({E("a.txt", "alpha")}));
  a->InsertHook = nullptr;
  Add(*a, "b.txt", "beta");
  a->Commit();
  EXPECT_EQ(failures, (std::vector<std::string>{"b.txt 0 4 0"}));
  EXPECT_EQ(Names(ReadBack("h.zip")), std::vector<std::string>{"a.txt"});
}

// A failed save leaves the old file and an archive object that still describes it.
class ZipSaveFailure : public ZipSave {
 protected:
  void SetUp() override {
    original = BuildZip({E("a.txt", "alpha"), E("b.txt", std::string(5000, 'b'))});
    archive = Create("o.zip", original);
    archive->DeleteAt(0);
    Add(*archive, "c.txt", std::string(300000, 'c'));
  }
  void ExpectOriginalIntact() {
    EXPECT_EQ(dir.Read("o.zip"), original);
    EXPECT_EQ(Leftovers({"o.zip", "c.txt"}), std::vector<std::string>{});
    EXPECT_TRUE(archive->Modified);
    EXPECT_EQ(archive->ZipItem(1)->LocalHeaderOffset(), 30 + 5 + 5);
    // The archive is still usable: the same save succeeds once the cause is gone.
    archive->OnArchiveProgress = nullptr;
    archive->OnArchiveItemProgress = nullptr;
    archive->InsertHook = StoreFile;
    archive->Commit();
    EXPECT_EQ(Names(ReadBack("o.zip")), (std::vector<std::string>{"b.txt", "c.txt"}));
  }

  std::string original;
  std::unique_ptr<TAbZipArchive> archive;
};

TEST_F(ZipSaveFailure, AbortFromArchiveProgress) {
  archive->OnArchiveProgress = [](TObject*, uint8_t p, bool& abort) { abort = p >= 45; };
  EXPECT_THROW(archive->Commit(), EAbUserAbort);
  ExpectOriginalIntact();
}

TEST_F(ZipSaveFailure, AbortFromItemProgressEndsTheSave) {
  archive->InsertHook = [](TAbZipArchive& a, TAbZipItem& item, TStream& out) {
    bool abort = false;
    a.CurrentItemProgress(50, abort);
    if (abort) throw EAbUserAbort();
    StoreFile(a, item, out);
  };
  archive->OnArchiveItemProgress = [](TObject*, TAbArchiveItem*, uint8_t, bool& abort) { abort = true; };
  EXPECT_THROW(archive->Commit(), EAbUserAbort);
  EXPECT_TRUE(failures.empty());
  ExpectOriginalIntact();
}

TEST_F(ZipSaveFailure, DamagedOldEntry) {
  // No local header there: its name length comes from other bytes and runs past the end.
  archive->ZipItem(1)->SetLocalHeaderOffset(7);
  EXPECT_THROW(archive->Commit(), EReadError);
  archive->ZipItem(1)->SetLocalHeaderOffset(30 + 5 + 5);
  ExpectOriginalIntact();
}

// The disk is full: the file size limit of the process stands in for it, so that writing the
// new archive fails part way (with EFBIG instead of ENOSPC) while the old one can be read.
TEST_F(ZipSaveFailure, DiskFullWhileWriting) {
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 100000;
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  try {
    archive->Commit();
    ADD_FAILURE() << "the save went through";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "Stream write error");
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);
  EXPECT_TRUE(failures.empty());  // the new entry was not blamed for the full disk
  ExpectOriginalIntact();
}

// A save killed with SIGKILL half way leaves the old archive whole: the new one was still a
// temporary file beside it.
TEST_F(ZipSave, KilledSaveLeavesTheOriginal) {
  const std::string original = BuildZip({E("a.txt", "alpha"), E("b.txt", std::string(200000, 'b'))});
  dir.Write("k.zip", original);
  dir.Write("big.bin", std::string(32 << 20, 'z'));
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    try {
      TAbZipArchive a(dir / "k.zip", kReadWrite);
      a.SetBaseDirectory(dir.Path());
      a.LoadCatalog();
      // Writes its entry slowly, so that the save is surely caught in the middle.
      a.InsertHook = [](TAbZipArchive&, TAbZipItem& item, TStream& out) {
        const std::string chunk(64 * 1024, 'z');
        for (int i = 0; i < 512; ++i) {
          out.WriteBuffer(chunk.data(), static_cast<int32_t>(chunk.size()));
          usleep(1000);
        }
        item.SetPackedSize(32 << 20);
      };
      a.AddFiles("big.bin", host::faAnyFile);
      a.Commit();
    } catch (...) {
    }
    _exit(0);
  }
  // Waits until the temporary file has grown, then kills.
  bool seen = false;
  for (int i = 0; i < 20000 && !seen; ++i) {
    for (const auto& f : std::filesystem::directory_iterator(dir.Path()))
      if (f.path().filename().string().rfind("ZKS", 0) == 0 && f.file_size() > (4u << 20)) seen = true;
    if (!seen) usleep(500);
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(seen) << "no temporary file grew";
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(dir.Read("k.zip"), original);
  EXPECT_EQ(Names(ReadBack("k.zip")), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// ---- The pieces ----

// A target that takes Limit bytes in all and then writes nothing more.
class TLimitedStream : public TMemoryStream {
 public:
  explicit TLimitedStream(int32_t Limit) : left_(Limit) {}
  int32_t Write(const void* Buffer, int32_t Count) override {
    const int32_t n = std::min(Count, left_);
    left_ -= n;
    return n > 0 ? TMemoryStream::Write(Buffer, n) : 0;
  }

 private:
  int32_t left_;
};

TEST(ZipSaveOutput, BuffersRewritesAndReportsTheTargetFailingLate) {
  TMemoryStream target;
  {
    TZipSaveOutput out(target);
    std::string model(10, '.');
    out.WriteBuffer(model.data(), 10);
    const std::string big(TZipSaveOutput::kBufferSize + 100, 'x');
    out.WriteBuffer(big.data(), static_cast<int32_t>(big.size()));  // passes the buffer
    model += big;
    out.SetPosition(2);
    out.WriteBuffer("HEAD", 4);  // a header rewritten after its data
    model.replace(2, 4, "HEAD");
    out.Seek(0, soFromEnd);
    out.WriteBuffer("tail", 4);
    model += "tail";
    EXPECT_EQ(out.Size(), static_cast<int32_t>(model.size()));
    out.SetSize(static_cast<int32_t>(model.size()) - 2);
    model.resize(model.size() - 2);
    out.Flush();
    EXPECT_FALSE(out.Failed());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(target.Memory()), target.Size()), model);
  }
  TLimitedStream limited(1000);
  TZipSaveOutput out(limited);
  const std::string chunk(600, 'y');
  EXPECT_EQ(out.Write(chunk.data(), 600), 600);  // buffered: nothing has failed yet
  EXPECT_EQ(out.Write(chunk.data(), 600), 600);
  EXPECT_FALSE(out.Failed());
  EXPECT_THROW(out.Flush(), EWriteError);
  EXPECT_TRUE(out.Failed());
  EXPECT_EQ(out.Write(chunk.data(), 1), 0);
}

TEST(ZipSaveVolumes, RecordsStayOnOneVolume) {
  const struct {
    int64_t position, length;
    uint32_t volume;
    int32_t offset;
  } steps[] = {
      {0, 30, 0, 0},      // first record
      {90, 10, 0, 90},    // ends exactly at the volume's end
      {100, 5, 1, 0},     // a volume's end belongs to the next volume
      {195, 10, 2, 0},    // would cross: the volume ends early at 195
      {205, 300, 2, 10},  // longer than a volume: runs on
      {900, 0, 9, 5},     // data passed several volumes
  };
  TZipVolumePlan plan(100);
  for (const auto& s : steps) {
    uint32_t volume = 0;
    int32_t offset = 0;
    plan.Place(s.position, s.length, volume, offset);
    EXPECT_EQ(volume, s.volume) << s.position;
    EXPECT_EQ(offset, s.offset) << s.position;
  }
  EXPECT_EQ(plan.VolumeStart(2), 195);
  EXPECT_EQ(plan.VolumeCount(1000), 11);
  plan.Rollback(250);  // the volumes from 295 on go
  EXPECT_EQ(plan.VolumeCount(251), 3);
}

}  // namespace
}  // namespace zipkit
