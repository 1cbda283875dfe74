// Loading ZIP archives built in the tests, item access through the hooks, stored names.
#include "zip/zip_archive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/test_temp_dir.h"
#include "host/exceptions.h"
#include "support/errors.h"
#include "zip/test_zip_builder.h"

namespace zipkit {
namespace {

using testing::BuildZip;
using testing::EndFields;
using testing::Le16;
using testing::Le32;
using testing::TempDir;
using testing::ZipEntry;

constexpr uint16_t kRead = fmOpenRead | fmShareDenyNone;

class ZipLoad : public ::testing::Test {
 protected:
  std::unique_ptr<TAbZipArchive> Open(const std::string& bytes, const std::string& name = "a.zip") {
    return std::make_unique<TAbZipArchive>(dir.Write(name, bytes), kRead);
  }
  std::unique_ptr<TAbZipArchive> Load(const std::string& bytes, const std::string& name = "a.zip") {
    auto a = Open(bytes, name);
    a->LoadCatalog();
    return a;
  }
  static std::vector<std::string> Names(const TAbZipArchive& a) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < a.ItemCount(); ++i) names.push_back(a.ZipItem(i)->StoredName());
    return names;
  }

  TempDir dir;
};

TEST_F(ZipLoad, ConstructionSetsTheZipDefaults) {
  auto a = Open("");
  EXPECT_EQ(a->CompressionMethodToUse, smBestMethod);
  EXPECT_EQ(a->DeflationOption, doNormal);
  EXPECT_EQ(a->PasswordRetries, 3);
  EXPECT_EQ(a->CurrentDisk, 0);
  EXPECT_TRUE(a->StoreOptions.Contains(soStripDrive));
  EXPECT_EQ(a->SpanningThreshold(), 0);
  EXPECT_TRUE(a->TempDirectory.empty());
  ASSERT_NE(a->EndRecord, nullptr);
}

TEST_F(ZipLoad, ReadsEveryDirectoryRecordInOrder) {
  ZipEntry big{"docs/readme.txt", std::string(300, 'r')};
  big.crc = 0xDEADBEEF;
  const std::string bytes = BuildZip({{"a.txt", "alpha"}, big, {"docs/", ""}}, "the comment");
  auto a = Load(bytes);
  EXPECT_EQ(Names(*a), (std::vector<std::string>{"a.txt", "docs/readme.txt", "docs/"}));
  const TAbZipItem* item = a->ZipItem(1);
  EXPECT_EQ(item->PackedSize(), 300);
  EXPECT_EQ(item->Checksum(), 0xDEADBEEFu);
  EXPECT_EQ(item->LocalHeaderOffset(), 30 + 5 + 5);
  EXPECT_EQ(item->PendingAction, iaUnchanged);
  EXPECT_EQ(a->Items.IndexOfName("DOCS/README.TXT"), 1);
  EXPECT_EQ(a->ArchiveComment(), "the comment");
  EXPECT_EQ(a->State, stReady);
  EXPECT_FALSE(a->Spanned);
  EXPECT_FALSE(a->SelfExtracting);
  EXPECT_EQ(a->StubLength, 0);
  EXPECT_FALSE(a->Modified);
}

TEST_F(ZipLoad, EmptyFileAndEmptyArchivesLoadWithoutItems) {
  EndFields commented;
  commented.comment = "just a comment";
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty file", ""},
      {"end record only, at offset 0", testing::EndRecord({})},
      {"end record with a comment", testing::EndRecord(commented)},
      {"end record with a long comment", BuildZip({}, std::string(300, '#'))},
  };
  for (const auto& c : cases) {
    auto a = Load(c.bytes);
    EXPECT_EQ(a->ItemCount(), 0) << c.what;
    EXPECT_EQ(a->State, stReady) << c.what;
  }
}

TEST_F(ZipLoad, ProgressCountsAgainstTheEntriesTheEndRecordClaims) {
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 10; ++i) entries.push_back({"f" + std::to_string(i), "x"});
  std::string bytes = BuildZip(entries);
  bytes.replace(bytes.size() - 22 + 10, 2, Le16(20));  // total entries: 20
  auto a = Open(bytes);
  std::vector<int> progress;
  a->OnArchiveProgress = [&](TObject*, uint8_t p, bool&) { progress.push_back(p); };
  a->LoadCatalog();
  EXPECT_EQ(a->ItemCount(), 10);
  EXPECT_EQ(progress, (std::vector<int>{5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 100}));
}

TEST_F(ZipLoad, AbortWhileLoadingClosesTheArchive) {
  auto a = Open(BuildZip({{"a", "1"}, {"b", "2"}, {"c", "3"}}));
  a->OnArchiveProgress = [&](TObject*, uint8_t, bool& abort) { abort = a->ItemCount() == 2; };
  EXPECT_THROW(a->LoadCatalog(), EAbUserAbort);
  EXPECT_EQ(a->State, stClosed);
  EXPECT_EQ(a->ItemCount(), 2);
  EXPECT_THROW(a->ExtractMatching("*.*"), EAbNoArchive);
}

TEST_F(ZipLoad, FilesThatAreNoArchive) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"text", "This is not an archive, just some text.\n"},
      {"program without an archive", "MZ" + std::string(500, '\x90')},
      {"two bytes", "ab"},
  };
  for (const auto& c : cases) {
    auto a = Open(c.bytes);
    bool loaded = false;
    a->OnLoad = [&](TObject*) { loaded = true; };
    EXPECT_THROW(a->LoadCatalog(), EAbZipInvalid) << c.what;
    EXPECT_EQ(a->State, stClosed) << c.what;
    EXPECT_TRUE(loaded) << c.what;
  }
  EXPECT_THROW(Load("x"), EReadError);  // not even two bytes to look at
}

// ZIP64 records between the directory and the end record, whose fields point to them or, with
// PlainEnd, to the directory itself.
std::string Zip64Archive(bool PlainEnd) {
  ZipEntry e{"big.bin", "data"};
  const std::string local = testing::LocalHeader(e) + e.data;
  const std::string central = testing::CentralHeader(e, 0);
  const uint32_t dir_offset = static_cast<uint32_t>(local.size());
  const uint32_t z64_offset = dir_offset + static_cast<uint32_t>(central.size());
  const std::string z64_end = Le32(0x06064B50) + Le32(44) + Le32(0) + Le16(45) + Le16(45) +
                              Le32(0) + Le32(0) + Le32(1) + Le32(0) + Le32(1) + Le32(0) +
                              Le32(static_cast<uint32_t>(central.size())) + Le32(0) +
                              Le32(dir_offset) + Le32(0);
  const std::string locator = Le32(0x07064B50) + Le32(0) + Le32(z64_offset) + Le32(0) + Le32(1);
  EndFields end;
  end.entries_on_disk = end.total = PlainEnd ? 1 : 0xFFFF;
  end.size = PlainEnd ? static_cast<uint32_t>(central.size()) : 0xFFFFFFFF;
  end.offset = PlainEnd ? dir_offset : 0xFFFFFFFF;
  return local + central + z64_end + locator + testing::EndRecord(end);
}

TEST_F(ZipLoad, DamagedArchivesRaiseTheRightException) {
  const std::string good = BuildZip({{"a.txt", "alpha"}, {"b.txt", "beta"}});
  const size_t end_at = good.size() - 22;
  const size_t dir_at = 30 + 5 + 5 + 30 + 5 + 4;
  auto patched = [&](size_t at, const std::string& bytes) {
    std::string s = good;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  EndFields far;
  far.total = 1;
  far.offset = 1 << 30;
  EndFields false_end;
  false_end.comment = "xx" + std::string("PK\x05\x06", 4) + std::string(18, '\0');

  enum Kind { kInvalid, kRead };
  const struct {
    const char* what;
    std::string bytes;
    Kind kind;
  } cases[] = {
      {"directory record with a wrong signature", patched(dir_at + 2, "\x03\x04"), kInvalid},
      {"end record whose directory starts too late", patched(end_at + 16, Le32(dir_at + 1)),
       kInvalid},
      {"directory offset beyond the file", patched(end_at + 16, Le32(1 << 30)), kRead},
      {"directory offset of 2 GiB and more", patched(end_at + 16, Le32(0xFFFFFFF0)), kRead},
      {"directory offset beyond a lone end record", testing::EndRecord(far), kRead},
      {"name length past the end of the file", patched(dir_at + 28, Le16(0xFFFF)), kRead},
      {"comment longer than the file", patched(end_at + 20, Le16(500)), kRead},
      {"directory cut short", good.substr(0, dir_at + 20) + good.substr(end_at), kRead},
      {"zeros between directory and end record",
       good.substr(0, end_at) + std::string(64, '\0') + good.substr(end_at), kInvalid},
      {"comment holding a false end record", BuildZip({{"a.txt", "x"}}, false_end.comment), kRead},
      {"ZIP64 archive", Zip64Archive(false), kRead},
      {"ZIP64 records before a plain end record", Zip64Archive(true), kInvalid},
  };
  for (const auto& c : cases) {
    auto a = Open(c.bytes);
    try {
      a->LoadCatalog();
      ADD_FAILURE() << c.what << ": loaded";
    } catch (const EAbZipInvalid&) {
      EXPECT_EQ(c.kind, kInvalid) << c.what;
    } catch (const EReadError&) {
      EXPECT_EQ(c.kind, kRead) << c.what;
    }
    EXPECT_EQ(a->State, stReady) << c.what;
  }
}

TEST_F(ZipLoad, DirectoryWithoutAnEndRecordOnAMemoryStreamIsRefused) {
  auto a = Open("");
  auto memory = std::make_unique<TMemoryStream>();
  const std::string bytes = "PK\x03\x04 and nothing else";
  memory->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  a->Stream = std::move(memory);
  EXPECT_THROW(a->LoadCatalog(), EAbZipBadSpanStream);
  EXPECT_EQ(a->State, stReady);
}

TEST_F(ZipLoad, ArchiveInMemoryLoads) {
  auto a = Open("");
  auto memory = std::make_unique<TMemoryStream>();
  const std::string bytes = BuildZip({{"m.txt", "memory"}});
  memory->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  a->Stream = std::move(memory);
  a->LoadCatalog();
  EXPECT_EQ(Names(*a), (std::vector<std::string>{"m.txt"}));
}

TEST_F(ZipLoad, ProgramStubInFrontGivesTheStubLength) {
  // Items at 45056 and 60000 behind an "MZ" program; the offsets count the stub.
  std::string stub = "MZ" + std::string(45056 - 2, '\0');
  ZipEntry first{"first.txt", std::string(60000 - 45056 - 30 - 9, 'f')};
  const std::string bytes = BuildZip({first, {"second.txt", "s"}}, "", stub);
  auto a = Load(bytes, "setup.exe");
  ASSERT_EQ(a->ItemCount(), 2);
  EXPECT_EQ(a->ZipItem(1)->LocalHeaderOffset(), 60000);
  EXPECT_TRUE(a->SelfExtracting);
  EXPECT_EQ(a->StubLength, 45056);
}

TEST_F(ZipLoad, InfoZipSelfExtractorLoads) {
  // The Info-ZIP extractor stub with an archive appended and its offsets adjusted by zip -A.
  const char* stub_path = "/usr/bin/unzipsfx";
  if (!std::filesystem::exists(stub_path) || std::system("zip -v > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "unzipsfx or zip not installed";
  const std::string zip_path =
      dir.Write("payload.zip", BuildZip({{"one.txt", "1"}, {"two.txt", "22"}}));
  const std::string sfx = dir / "payload.sfx";
  std::filesystem::copy_file(stub_path, sfx);
  const auto stub_size = static_cast<int32_t>(std::filesystem::file_size(sfx));
  const std::string cmd = "cat '" + zip_path + "' >> '" + sfx + "' && zip -q -A '" + sfx + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  TAbZipArchive a(sfx, kRead);
  a.LoadCatalog();
  EXPECT_EQ(Names(a), (std::vector<std::string>{"one.txt", "two.txt"}));
  EXPECT_TRUE(a.SelfExtracting);
  EXPECT_EQ(a.StubLength, stub_size);
  EXPECT_EQ(a.ZipItem(0)->LocalHeaderOffset(), stub_size);
}

TEST_F(ZipLoad, StubWhoseOffsetsDoNotCountItCannotBeRead) {
  const std::string bytes = "MZ" + std::string(1000, '\0') + BuildZip({{"a.txt", "x"}});
  auto a = Open(bytes);
  EXPECT_ANY_THROW(a->LoadCatalog());
  EXPECT_EQ(a->ItemCount(), 0);
}

TEST_F(ZipLoad, ItemAccessGoesThroughTheHooks) {
  auto a = Load(BuildZip({{"a.txt", "alpha"}, {"b.txt", "beta"}}));
  std::vector<std::pair<int32_t, std::string>> failures;
  a->OnProcessItemFailure = [&](TObject*, TAbArchiveItem* item, TAbProcessType, TAbErrorClass,
                                int32_t code) {
    failures.push_back({code, item->StoredName()});
  };
  a->ExtractByIndex(0, "");  // no hook installed: reported, not raised
  EXPECT_EQ(failures, (std::vector<std::pair<int32_t, std::string>>{{3, "a.txt"}}));
  EXPECT_THROW(a->VerifyItemAt(0), EAbZipNoExtraction);
  EXPECT_THROW(a->UnpackItemToStreamAt(0, nullptr), EAbZipNoExtraction);
  TMemoryStream out;
  EXPECT_THROW(a->InsertItem(*a->ZipItem(0), out), EAbZipNoInsertion);
  EXPECT_THROW(a->InsertItemFromStream(*a->ZipItem(0), out), EAbZipNoInsertion);

  std::vector<std::string> calls;
  a->ExtractHook = [&](TAbZipArchive& archive, TAbZipItem& item, const std::string& name) {
    EXPECT_EQ(&archive, a.get());
    EXPECT_EQ(archive.CurrentItem, &item);
    calls.push_back("extract " + item.StoredName() + " -> " + name);
  };
  a->ExtractToStreamHook = [&](TAbZipArchive&, TAbZipItem& item, TStream* stream) {
    calls.push_back("stream " + item.StoredName() + (stream ? " +" : " -"));
  };
  a->VerifyHook = [&](TAbZipArchive&, TAbZipItem& item) {
    calls.push_back("verify " + item.StoredName());
  };
  a->ExtractMatching("*.*");
  a->ExtractByIndex(1, "other.out");
  a->UnpackItemToStreamAt(1, &out);
  a->VerifyItemAt(0);
  EXPECT_EQ(calls, (std::vector<std::string>{"extract a.txt -> a.txt", "extract b.txt -> b.txt",
                                             "extract b.txt -> other.out", "stream b.txt +",
                                             "verify a.txt"}));
  EXPECT_THROW(a->ZipItem(2), EListError);
}

TEST_F(ZipLoad, StoredNamesOfNewEntries) {
  auto a = Open("");
  const struct {
    TAbStoreOptions options;
    const char* name;
    const char* stored;
  } cases[] = {
      {{soStripDrive, soRemoveDots}, "C:\\..\\..\\DATA\\A.TXT", "DATA/A.TXT"},
      {{soStripDrive, soRemoveDots, soStripPath}, "C:\\..\\..\\DATA\\A.TXT", "A.TXT"},
      {{}, "C:\\dir\\sub\\b.txt", "dir/sub/b.txt"},  // the drive goes always
      {{}, "\\\\server\\share\\dir\\c.txt", "dir/c.txt"},
      {{}, "rel/path\\d.txt", "rel/path/d.txt"},
  };
  for (const auto& c : cases) {
    a->StoreOptions = c.options;
    EXPECT_EQ(a->NormalizeName(c.name), c.stored) << c.name;
    EXPECT_TRUE(a->StoreOptions.Contains(soStripDrive));
  }
}

TEST_F(ZipLoad, MadeItemsAreDeflatedEntriesNamedForTheArchive) {
  auto a = Open("");
  a->StoreOptions = {soStripDrive, soRemoveDots};
  auto item = a->MakeItem("..\\sub\\new.txt");
  auto* zip_item = dynamic_cast<TAbZipItem*>(item.get());
  ASSERT_NE(zip_item, nullptr);
  EXPECT_EQ(zip_item->StoredName(), "sub/new.txt");
  EXPECT_EQ(zip_item->Method(), 8);
  EXPECT_EQ(zip_item->Flags(), 0);
  EXPECT_EQ(zip_item->LocalHeaderOffset(), 0);
  EXPECT_FALSE(zip_item->DiskName.empty());
}

TEST_F(ZipLoad, CommentChanges) {
  auto a = Load(BuildZip({{"a.txt", "x"}}, std::string("keep\0drop", 9)));
  EXPECT_EQ(a->ArchiveComment(), "keep");
  a->SetArchiveComment("new comment");
  EXPECT_EQ(a->ArchiveComment(), "new comment");
  EXPECT_EQ(a->EndRecord->ZipfileCommentLength, 11);
  EXPECT_TRUE(a->Modified);
  a->Modified = false;
  a->SetArchiveComment("");
  EXPECT_EQ(a->ArchiveComment(), "");
  EXPECT_TRUE(a->Modified);  // clearing a comment is a change too
}

}  // namespace
}  // namespace zipkit
