#include "unzip/extract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <tuple>

#include "host/host.h"
#include "support/bit_bucket.h"
#include "support/errors.h"
#include "unzip/test_dir.h"
#include "unzip/zip_fixture.h"
#include "zip/zip_archive.h"

namespace zipkit {
namespace {

using testing::FixtureEntry;
using testing::TestDir;
using testing::ZipFixture;

struct Failure {
  std::string name;
  TAbErrorClass error_class;
  int32_t code;
};

// An archive built from entries, opened with the driver's hooks, extracting into dir\out.
class Opened {
 public:
  explicit Opened(const std::vector<FixtureEntry>& Entries,
                  TAbExtractOptions Options = {eoCreateDirs, eoRestorePath}) {
    ZipFixture zip;
    for (const auto& e : Entries) zip.Add(e);
    bytes = zip.Bytes();
    dir.Write("a.zip", bytes);
    std::filesystem::create_directory(dir.Native("out"));
    archive = std::make_unique<TAbZipArchive>(dir.Path("a.zip"), fmOpenRead | fmShareDenyNone);
    archive->ExtractHook = [](TAbZipArchive& A, TAbZipItem& I, const std::string& N) {
      ExtractZipItemToFile(A, I, N);
    };
    archive->ExtractToStreamHook = [](TAbZipArchive& A, TAbZipItem& I, TStream* S) {
      ExtractZipItemToStream(A, I, S);
    };
    archive->VerifyHook = [](TAbZipArchive& A, TAbZipItem& I) { VerifyZipItem(A, I); };
    archive->OnProcessItemFailure = [this](TObject*, TAbArchiveItem* Item, TAbProcessType,
                                           TAbErrorClass Class, int32_t Code) {
      failures.push_back({Item->StoredName(), Class, Code});
    };
    archive->LoadCatalog();
    archive->ExtractOptions = Options;
    archive->SetBaseDirectory(dir.Path("out"));
  }

  // Tests item Index; returns the error code of the failure, or -1 when it passed.
  int32_t Verify(int32_t Index) {
    try {
      archive->VerifyItemAt(Index);
      return -1;
    } catch (const EAbException& e) {
      return e.ErrorCode;
    }
  }

  TestDir dir;
  std::vector<uint8_t> bytes;
  std::unique_ptr<TAbZipArchive> archive;
  std::vector<Failure> failures;
};

FixtureEntry Stored(const std::string& name, const std::string& data) {
  FixtureEntry e;
  e.name = name;
  e.data = data;
  return e;
}

std::string Big(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31) ^ (i >> 11));
  return s;
}

TEST(Extract, EntriesReachTheirFiles) {
  std::vector<FixtureEntry> entries = {Stored("empty.txt", ""), Stored("a/b/c.txt", "nested"),
                                       Stored("big.bin", Big(200000))};
  FixtureEntry secret = Stored("secret.txt", "under lock");
  secret.password = "pw";
  entries.push_back(secret);
  FixtureEntry streamed = Stored("streamed.txt", "check byte from the time");
  streamed.password = "pw";
  streamed.crc_in_descriptor = true;
  entries.push_back(streamed);

  Opened o(entries);
  o.archive->Password = "pw";
  o.archive->ExtractMatching("*.*");
  EXPECT_TRUE(o.failures.empty());
  for (const auto& e : entries) {
    std::string rel = e.name;
    EXPECT_EQ(o.dir.Read("out/" + rel), e.data) << e.name;
  }
}

TEST(Extract, EncryptedStoredCopiesPackedSizeMinusHeader) {
  FixtureEntry e = Stored("s.txt", "0123456789");
  e.password = "pw";
  Opened o({e});
  o.archive->Password = "pw";
  EXPECT_EQ(o.archive->ZipItem(0)->PackedSize(), 22);
  TMemoryStream out;
  o.archive->UnpackItemToStreamAt(0, &out);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.Memory()), out.Size()), "0123456789");
}

// Each failure is reported for its entry, leaves no file and does not stop the others.
TEST(Extract, FailuresAreReportedAndLeaveNothing) {
  struct Case {
    const char* what;
    FixtureEntry entry;
    TAbErrorClass error_class;
    int32_t code;
  };
  std::vector<Case> cases;
  {
    FixtureEntry e = Stored("badcrc.txt", Big(70000));
    e.crc_delta = 1;
    cases.push_back({"bad CRC", e, ecArchiveFault, 23});
  }
  {
    FixtureEntry e = Stored("v21.txt", "x");
    e.version_needed = 21;
    e.method = 9;
    cases.push_back({"newer version", e, ecArchiveFault, 1});
  }
  {
    FixtureEntry e = Stored("m9.txt", "x");
    e.method = 9;
    e.packed = "x";
    cases.push_back({"unsupported method", e, ecArchiveFault, 2});
  }
  {
    FixtureEntry e = Stored("locked.txt", "x");
    e.password = "right";
    cases.push_back({"wrong password", e, ecArchiveFault, 4});
  }
  {
    FixtureEntry e = Stored("timecheck.txt", "x");
    e.password = "pw";
    e.time_check = true;  // no data descriptor: the time is no valid check byte
    cases.push_back({"time check byte without descriptor", e, ecArchiveFault, 4});
  }
  {
    FixtureEntry e = Stored("cut.txt", Big(10000));
    e.packed_delta = 1 << 20;  // runs past the end of the file
    cases.push_back({"cut off", e, ecArchiveFault, 29});
  }

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Opened o({Stored("before.txt", "1"), c.entry, Stored("after.txt", "2")});
    o.archive->Password = "pw";
    o.archive->ExtractMatching("*.*");
    ASSERT_EQ(o.failures.size(), 1u);
    EXPECT_EQ(o.failures[0].name, c.entry.name);
    EXPECT_EQ(o.failures[0].error_class, c.error_class);
    EXPECT_EQ(o.failures[0].code, c.code);
    EXPECT_EQ(o.dir.Files(), (std::vector<std::string>{"a.zip", "out/after.txt", "out/before.txt"}));
  }
}

TEST(Extract, WrongPasswordRetriesThroughTheHook) {
  FixtureEntry e = Stored("locked.txt", "content");
  e.password = "right";
  struct Case {
    std::string answer;
    bool passes;
    int calls;
  } cases[] = {{"wrong", false, 3}, {"right", true, 1}};
  for (const auto& c : cases) {
    Opened o({e});
    o.archive->Password = "first";
    int calls = 0;
    o.archive->OnNeedPassword = [&](TObject*, std::string& pw) {
      ++calls;
      pw = c.answer;
    };
    o.archive->ExtractMatching("*.*");
    EXPECT_EQ(o.failures.empty(), c.passes) << c.answer;
    EXPECT_EQ(calls, c.calls) << c.answer;
    EXPECT_EQ(o.dir.Exists("out/locked.txt"), c.passes) << c.answer;
  }
}

TEST(Extract, StoredNamesNeverLeaveTheBaseFolder) {
  struct Case {
    const char* stored;
    const char* lands;  // below out\, "/" between folders
  } cases[] = {
      {"../../evil.txt", "evil.txt"},
      {"/abs/x.txt", "abs/x.txt"},
      {"C:\\win\\y.txt", "win/y.txt"},
      {"c:z.txt", "z.txt"},
      {"a/../../b.txt", "a/b.txt"},
      {"\\\\server\\share\\s.txt", "server/share/s.txt"},
      {"./dot/./d.txt", "dot/d.txt"},
      {"odd:colon.txt", "odd_colon.txt"},
  };
  for (const auto& c : cases) {
    Opened o({Stored(c.stored, c.stored)});
    o.archive->ExtractMatching("*.*");
    EXPECT_TRUE(o.failures.empty()) << c.stored;
    EXPECT_EQ(o.dir.Read(std::string("out/") + c.lands), c.stored);
    EXPECT_EQ(o.dir.Files(), (std::vector<std::string>{"a.zip", std::string("out/") + c.lands}))
        << c.stored;
  }
}

TEST(Extract, SafeRelativePathCleansWithoutRefusing) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"a/b/c.txt", "a\\b\\c.txt"}, {"..\\..", ""}, {"dir/", "dir\\"},
               {"//x//y", "x\\y"},          {"D:/", ""},   {"... /.. /x", "x"},
               {"a./.b", "a.\\.b"}};
  for (const auto& c : cases) EXPECT_EQ(SafeRelativePath(c.in), c.out) << c.in;
}

TEST(Extract, OptionsDecideTheOutputPath) {
  // No options: the file part only, directly in the base folder.
  {
    Opened o({Stored("a/b/c.txt", "x")}, {});
    o.archive->ExtractMatching("*.*");
    EXPECT_EQ(o.dir.Files(), (std::vector<std::string>{"a.zip", "out/c.txt"}));
  }
  // eoRestorePath alone: the missing folder is an error and no file is made.
  {
    Opened o({Stored("a/b/c.txt", "x")}, {eoRestorePath});
    o.archive->ExtractMatching("*.*");
    ASSERT_EQ(o.failures.size(), 1u);
    EXPECT_EQ(o.failures[0].code, 19);
    EXPECT_EQ(o.dir.Files(), std::vector<std::string>{"a.zip"});
  }
}

TEST(Extract, OverwriteConfirmation) {
  Opened o({Stored("f.txt", "new")});
  o.dir.Write("out/f.txt", {'o', 'l', 'd'});
  o.archive->OnConfirmOverwrite = [](std::string&, bool& Confirm) { Confirm = false; };
  o.archive->ExtractMatching("*.*");
  EXPECT_EQ(o.dir.Read("out/f.txt"), "old");
  o.archive->OnConfirmOverwrite = [](std::string& Name, bool&) { Name += ".2"; };
  o.archive->ExtractMatching("*.*");
  EXPECT_EQ(o.dir.Read("out/f.txt"), "old");
  EXPECT_EQ(o.dir.Read("out/f.txt.2"), "new");
  EXPECT_TRUE(o.failures.empty());
}

TEST(Extract, UserAbortDeletesTheFileAndClosesTheArchive) {
  Opened o({Stored("big.bin", Big(100000))});
  o.archive->CurrentItemProgress = [](uint8_t Percent, bool& Abort) { Abort = Percent > 30; };
  o.archive->ExtractMatching("*.*");
  ASSERT_EQ(o.failures.size(), 1u);
  EXPECT_EQ(o.failures[0].code, 9);
  EXPECT_EQ(o.archive->State, stClosed);
  EXPECT_FALSE(o.dir.Exists("out/big.bin"));
}

TEST(Extract, ProgressIsReportedOncePerPercentAndNeverZero) {
  Opened o({Stored("big.bin", Big(300000)), Stored("empty", "")});
  std::vector<int> seen;
  o.archive->CurrentItemProgress = [&](uint8_t Percent, bool&) { seen.push_back(Percent); };
  TAbBitBucketStream bucket;
  o.archive->UnpackItemToStreamAt(0, &bucket);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
  EXPECT_GT(seen.front(), 0);
  seen.clear();
  o.archive->UnpackItemToStreamAt(1, &bucket);
  EXPECT_TRUE(seen.empty());
}

// Counts what reaches it and takes fewer bytes than offered once it holds Limit.
class ShortStream : public TMemoryStream {
 public:
  explicit ShortStream(int32_t Limit) : limit(Limit) {}
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (first_size < 0) first_size = Size();
    const int32_t room = std::max(limit - Position(), 0);
    return TMemoryStream::Write(Buffer, std::min(Count, room));
  }
  int32_t limit;
  int32_t first_size = -1;
};

TEST(Extract, ShortWriteIsAnError) {
  Opened o({Stored("big.bin", Big(100000))});
  ShortStream full(50000);
  try {
    o.archive->UnpackItemToStreamAt(0, &full);
    ADD_FAILURE() << "a short write passed";
  } catch (const EAbZipStreamFull& e) {
    EXPECT_EQ(e.ErrorCode, 18);
    EXPECT_EQ(e.Message(), "Stream write error");
  }
}

TEST(Extract, MemoryTargetIsSizedOnlyForHonestSizes) {
  FixtureEntry honest = Stored("h.txt", "hello");
  FixtureEntry liar = Stored("l.txt", "tiny");
  liar.unpacked_delta = 1 << 30;  // claims a gigabyte from four bytes
  FixtureEntry big_liar = Stored("b.txt", "tiny");
  big_liar.unpacked_delta = 1 << 30;  // ... and from a gigabyte of packed bytes that are not there
  big_liar.packed_delta = 1 << 30;
  Opened o({honest, liar, big_liar});
  ShortStream target(1 << 20);
  o.archive->UnpackItemToStreamAt(0, &target);
  EXPECT_EQ(target.first_size, 5);
  ShortStream target2(1 << 20);
  o.archive->UnpackItemToStreamAt(1, &target2);  // stored: the CRC decides, not the size
  EXPECT_EQ(target2.first_size, 0);
  EXPECT_EQ(target2.Size(), 4);
  ShortStream target3(1 << 20);
  EXPECT_THROW(o.archive->UnpackItemToStreamAt(2, &target3), EAbReadError);
  EXPECT_EQ(target3.first_size, 0);
  EXPECT_THROW(o.archive->UnpackItemToStreamAt(0, nullptr), EAbBadStream);
}

TEST(Extract, FolderEntryAndFolderInTheWay) {
  Opened o({Stored("dir/", ""), Stored("f.txt", "data")});
  // A folder entry cannot become a file.
  o.archive->ExtractByIndex(0, "");
  ASSERT_EQ(o.failures.size(), 1u);
  EXPECT_EQ(o.failures[0].error_class, ecCreateFault);
  // A folder where the file goes: the same, and the folder stays.
  std::filesystem::create_directory(o.dir.Native("out/f.txt"));
  o.archive->ExtractByIndex(1, "");
  ASSERT_EQ(o.failures.size(), 2u);
  EXPECT_EQ(o.failures[1].error_class, ecCreateFault);
  EXPECT_TRUE(std::filesystem::is_directory(o.dir.Native("out/f.txt")));
}

TEST(Extract, ReadOnlyFileInTheWayStays) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
  Opened o({Stored("f.txt", "new")});
  o.dir.Write("out/f.txt", {'o', 'l', 'd'});
  std::filesystem::permissions(o.dir.Native("out/f.txt"), std::filesystem::perms::owner_read);
  o.archive->ExtractMatching("*.*");
  ASSERT_EQ(o.failures.size(), 1u);
  EXPECT_EQ(o.failures[0].error_class, ecCreateFault);
  EXPECT_EQ(o.dir.Read("out/f.txt"), "old");
}

TEST(Extract, StampsTimeAndPermissions) {
  FixtureEntry plain = Stored("plain.txt", "p");
  plain.time = (13 << 11) | (45 << 5) | (30 / 2);   // 13:45:30
  plain.date = ((2021 - 1980) << 9) | (6 << 5) | 7;  // 2021-06-07
  FixtureEntry readonly = Stored("ro.txt", "r");
  readonly.external_attributes = host::faReadOnly;
  FixtureEntry suid = Stored("tool", "#!/bin/sh\n");
  suid.made_by = 0x031E;
  suid.external_attributes = (0104755u << 16);
  FixtureEntry link = Stored("link", "target/file");
  link.made_by = 0x031E;
  link.external_attributes = (0120777u << 16);
  Opened o({plain, readonly, suid, link});
  o.archive->ExtractMatching("*.*");
  ASSERT_TRUE(o.failures.empty());

  struct stat st;
  ASSERT_EQ(stat(o.dir.Native("out/plain.txt").c_str(), &st), 0);
  std::tm tm{};
  localtime_r(&st.st_mtime, &tm);
  EXPECT_EQ(std::make_tuple(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                            tm.tm_sec),
            std::make_tuple(2021, 6, 7, 13, 45, 30));
  ASSERT_EQ(stat(o.dir.Native("out/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ASSERT_EQ(stat(o.dir.Native("out/tool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);  // no set-uid
  ASSERT_EQ(lstat(o.dir.Native("out/link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));  // never a symbolic link
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(o.dir.Read("out/link"), "target/file");
}

TEST(Verify, ComparesWhatMustAgree) {
  struct Case {
    const char* what;
    FixtureEntry entry;
    int32_t code;  // -1: passes
  };
  std::vector<Case> cases;
  cases.push_back({"plain", Stored("a.txt", "data"), -1});
  {
    FixtureEntry e = Stored("a.txt", "data");
    e.local_extra = std::string("UT\x05\0\x01\x02\x03\x04\x05", 9);
    e.central_extra = std::string("UT\x01\0\x01", 5);
    cases.push_back({"extra fields differ", e, -1});
  }
  {
    FixtureEntry e = Stored("a.txt", "data");
    e.crc_in_descriptor = true;
    cases.push_back({"data descriptor", e, -1});
  }
  {
    FixtureEntry e = Stored("\x81" "ber.txt", "data");  // CP437 u-umlaut, stored alike in both
    cases.push_back({"non-ASCII name", e, -1});
  }
  {
    FixtureEntry e = Stored("a.txt", "data");
    e.local_name = "b.txt";
    cases.push_back({"names differ", e, 26});
  }
  {
    FixtureEntry e = Stored("a.txt", "data");
    e.crc_delta = 5;
    cases.push_back({"bad CRC", e, 23});
  }
  for (const auto& c : cases) {
    Opened o({c.entry});
    EXPECT_EQ(o.Verify(0), c.code) << c.what;
  }
}

// The local header's CRC and sizes only count without a data descriptor.
TEST(Verify, LocalHeaderFieldsAgainstTheCentralRecord) {
  struct Patch {
    const char* what;
    size_t offset;  // in the local header
    bool with_descriptor;
    int32_t code;
  } patches[] = {
      {"version", 4, false, 26},   {"flags", 6, false, 26},       {"time", 10, false, 26},
      {"date", 12, false, 26},     {"crc", 14, false, 26},        {"packed", 18, false, 26},
      {"unpacked", 22, false, 26}, {"crc, streamed", 14, true, -1},
      {"unpacked, streamed", 22, true, -1},
  };
  for (const auto& p : patches) {
    FixtureEntry e = Stored("a.txt", "data");
    e.crc_in_descriptor = p.with_descriptor;
    Opened o({e});
    // Patch the archive file and reopen it.
    o.bytes[p.offset] ^= 0x01;
    o.dir.Write("b.zip", o.bytes);
    TAbZipArchive patched(o.dir.Path("b.zip"), fmOpenRead | fmShareDenyNone);
    patched.VerifyHook = [](TAbZipArchive& A, TAbZipItem& I) { VerifyZipItem(A, I); };
    patched.LoadCatalog();
    int32_t code = -1;
    try {
      patched.VerifyItemAt(0);
    } catch (const EAbException& ex) {
      code = ex.ErrorCode;
    }
    EXPECT_EQ(code, p.code) << p.what;
  }
}

}  // namespace
}  // namespace zipkit

namespace zipkit {
namespace {

void Put(std::vector<uint8_t>& v, size_t at, uint32_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// A two-volume set (set.zip, set.z01): a.bin starts on volume 0 and runs on into volume 1, which
// also holds b.txt, the directory and the end record.
TEST(Extract, SpannedSetChangesVolumes) {
  const std::string a = Big(50000), b = "on the second volume";
  ZipFixture zip;
  zip.Add(Stored("a.bin", a));
  zip.Add(Stored("b.txt", b));
  std::vector<uint8_t> whole = zip.Bytes();
  const size_t b_local = 30 + 5 + a.size();
  const size_t cd = b_local + 30 + 5 + b.size();
  const size_t cut = 30 + 5 + 20000;  // inside a.bin's data
  // b.txt's central record follows a.bin's (46 + 5 bytes); the end record follows both.
  const size_t b_central = cd + 46 + 5, eocd = b_central + 46 + 5;
  Put(whole, b_central + 34, 1, 2);
  Put(whole, b_central + 42, static_cast<uint32_t>(b_local - cut), 4);
  Put(whole, eocd + 4, 1, 2);
  Put(whole, eocd + 6, 1, 2);
  Put(whole, eocd + 16, static_cast<uint32_t>(cd - cut), 4);

  TestDir dir;
  dir.Write("set.zip", std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
  dir.Write("set.z01", std::vector<uint8_t>(whole.begin() + cut, whole.end()));
  std::filesystem::create_directory(dir.Native("out"));
  TAbZipArchive archive(dir.Path("set.zip"), fmOpenRead | fmShareDenyNone);
  archive.ExtractHook = [](TAbZipArchive& A, TAbZipItem& I, const std::string& N) {
    ExtractZipItemToFile(A, I, N);
  };
  archive.VerifyHook = [](TAbZipArchive& A, TAbZipItem& I) { VerifyZipItem(A, I); };
  std::vector<std::string> failures;
  archive.OnProcessItemFailure = [&](TObject*, TAbArchiveItem* Item, TAbProcessType,
                                     TAbErrorClass, int32_t Code) {
    failures.push_back(Item->StoredName() + " " + std::to_string(Code));
  };
  archive.LoadCatalog();
  ASSERT_TRUE(archive.Spanned);
  ASSERT_EQ(archive.ItemCount(), 2);
  EXPECT_EQ(archive.CurrentDisk, 1);

  // The test changes to the item's volume first, and a.bin's data crosses into volume 1.
  archive.VerifyItemAt(0);
  EXPECT_EQ(archive.CurrentDisk, 1);
  archive.VerifyItemAt(1);
  archive.VerifyItemAt(0);

  archive.SetBaseDirectory(dir.Path("out"));
  archive.ExtractMatching("*.*");
  EXPECT_TRUE(failures.empty()) << failures.front();
  EXPECT_EQ(dir.Read("out/a.bin"), a);
  EXPECT_EQ(dir.Read("out/b.txt"), b);

  // A missing volume fails the item cleanly; the next item reopens what it needs.
  std::filesystem::rename(dir.Native("set.zip"), dir.Native("gone.zip"));
  EXPECT_THROW(archive.VerifyItemAt(0), EAbFileNotFound);
  archive.VerifyItemAt(1);
}

}  // namespace
}  // namespace zipkit
