#include "zipkit/zip_kit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "host/host.h"
#include "support/errors.h"
#include "unzip/test_dir.h"
#include "unzip/zip_fixture.h"

namespace zipkit {
namespace {

using testing::FixtureEntry;
using testing::TestDir;
using testing::ZipFixture;

FixtureEntry Stored(const std::string& name, const std::string& data) {
  FixtureEntry e;
  e.name = name;
  e.data = data;
  return e;
}

std::vector<uint8_t> ArchiveOf(const std::vector<FixtureEntry>& Entries) {
  ZipFixture zip;
  for (const auto& e : Entries) zip.Add(e);
  return zip.Bytes();
}

// Runs the body with the current folder set to Dir, restoring it afterwards.
class InFolder {
 public:
  explicit InFolder(const std::filesystem::path& Dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(Dir);
  }
  ~InFolder() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

TEST(ZipKit, Defaults) {
  TAbZipKit kit;
  EXPECT_EQ(kit.Version(), "2.04");
  kit.SetVersion("1.0");
  EXPECT_EQ(kit.Version(), "2.04");
  EXPECT_EQ(kit.PasswordRetries(), 3);
  EXPECT_TRUE(kit.StoreOptions() == (TAbStoreOptions{soStripDrive, soRemoveDots}));
  EXPECT_EQ(kit.CompressionMethodToUse(), smBestMethod);
  EXPECT_EQ(kit.DeflationOption(), doNormal);
  EXPECT_TRUE(kit.ExtractOptions() == TAbExtractOptions{eoCreateDirs});
  EXPECT_FALSE(kit.AutoSave());
  EXPECT_FALSE(kit.DOSMode());
  EXPECT_FALSE(kit.Logging());
  EXPECT_EQ(kit.SpanningThreshold(), 0);
  EXPECT_EQ(kit.OpenedArchive(), nullptr);
  EXPECT_EQ(kit.FileName(), "");
}

TEST(ZipKit, NothingOpen) {
  TAbZipKit kit;
  EXPECT_THROW(kit.ExtractMatching("*.*"), EAbNoArchive);
  EXPECT_THROW(kit.WriteArchiveComment("x"), EAbNoArchive);
  int changes = 0;
  kit.OnChange = [&](TObject*) { ++changes; };
  kit.CloseFile();
  kit.CloseFile();
  EXPECT_EQ(changes, 0);  // nothing was open, nothing happened
}

// The install window's use: empty extract options and base folder, every entry into the
// current folder under its file part; a corrupt entry is skipped silently.
TEST(ZipKit, InstallWindowSequence) {
  TestDir dir;
  std::vector<FixtureEntry> entries;
  for (int i = 0; i < 10; ++i)
    entries.push_back(Stored("sub/file" + std::to_string(i) + ".txt", "content " + std::to_string(i)));
  entries[4].crc_delta = 1;
  const auto bytes = ArchiveOf(entries);
  dir.Write("payload.zip", bytes);
  std::filesystem::create_directory(dir.Native("cwd"));
  dir.Write("cwd/file0.txt", {'o', 'l', 'd'});

  InFolder cwd(dir.Native("cwd"));
  TAbZipKit kit;
  kit.SetAutoSave(false);
  kit.SetDOSMode(false);
  kit.SetExtractOptions({});
  kit.SetFileName(dir.Path("payload.zip"));
  ASSERT_NE(kit.OpenedArchive(), nullptr);
  EXPECT_EQ(kit.OpenedArchive()->BaseDirectory(), "");
  kit.ExtractMatching("*.*");
  kit.CloseFile();
  EXPECT_EQ(kit.OpenedArchive(), nullptr);

  for (int i = 0; i < 10; ++i) {
    const std::string name = "cwd/file" + std::to_string(i) + ".txt";
    if (i == 4) EXPECT_FALSE(dir.Exists(name));
    else EXPECT_EQ(dir.Read(name), "content " + std::to_string(i)) << name;
  }
  const std::string after = dir.Read("payload.zip");
  EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.end()), bytes);  // unchanged on disk
}

TEST(ZipKit, EventsCarryTheComponent) {
  TestDir dir;
  FixtureEntry bad = Stored("bad.txt", "x");
  bad.crc_delta = 7;
  dir.Write("a.zip", ArchiveOf({Stored("good.txt", "fine"), bad}));
  std::filesystem::create_directory(dir.Native("out"));

  TAbZipKit kit;
  std::vector<std::string> log;
  kit.OnLoad = [&](TObject* S) { log.push_back(S == &kit ? "load" : "load?"); };
  kit.OnChange = [&](TObject* S) { log.push_back(S == &kit ? "change" : "change?"); };
  kit.OnConfirmProcessItem = [&](TObject* S, TAbArchiveItem* Item, TAbProcessType P, bool&) {
    log.push_back((S == &kit && P == prExtract ? "confirm " : "confirm? ") + Item->StoredName());
  };
  kit.OnArchiveProgress = [&](TObject* S, uint8_t Progress, bool&) {
    log.push_back((S == &kit ? "progress " : "progress? ") + std::to_string(Progress));
  };
  kit.OnProcessItemFailure = [&](TObject* S, TAbArchiveItem* Item, TAbProcessType P,
                                 TAbErrorClass C, int32_t Code) {
    log.push_back((S == &kit && P == prExtract && C == ecArchiveFault ? "failure " : "failure? ") +
                  Item->StoredName() + " " + std::to_string(Code));
  };
  kit.SetBaseDirectory(dir.Path("out"));
  kit.SetFileName(dir.Path("a.zip"));
  kit.ExtractMatching("*.*");
  // Loading reports its progress too, before OnLoad.
  EXPECT_EQ(log, (std::vector<std::string>{"progress 50", "progress 100", "progress 100", "load",
                                           "change", "confirm good.txt", "progress 50",
                                           "confirm bad.txt", "failure bad.txt 23",
                                           "progress 100", "progress 100"}));
  EXPECT_EQ(dir.Read("out/good.txt"), "fine");
}

TEST(ZipKit, MetersFollowTheWork) {
  TestDir dir;
  dir.Write("a.zip", ArchiveOf({Stored("a.txt", std::string(100000, 'a')), Stored("b.txt", "b")}));
  std::filesystem::create_directory(dir.Native("out"));
  TAbZipKit kit;
  TAbMeter archive_meter, item_meter;
  std::vector<int> archive_seen, item_seen;
  archive_meter.ProcessMessages = [&] { archive_seen.push_back(archive_meter.Position()); };
  item_meter.ProcessMessages = [&] { item_seen.push_back(item_meter.Position()); };
  kit.ArchiveProgressMeter = &archive_meter;
  kit.ItemProgressMeter = &item_meter;
  kit.SetBaseDirectory(dir.Path("out"));
  kit.SetFileName(dir.Path("a.zip"));
  kit.ExtractMatching("*.*");
  // Loading, then extracting: 50 %, then 100 % twice (shown as an empty meter, repainted each
  // time because 100 differs from the position 0).
  EXPECT_EQ(archive_seen, (std::vector<int>{50, 0, 0, 50, 0, 0}));
  // a.txt in blocks of 32 KiB: 32, 65, 98, 100 (empty); b.txt at once: 100.
  EXPECT_EQ(item_seen, (std::vector<int>{32, 65, 98, 0, 0}));
  // A removed meter is forgotten.
  kit.Notification(&item_meter, opRemove);
  EXPECT_EQ(kit.ItemProgressMeter, nullptr);
  EXPECT_EQ(kit.ArchiveProgressMeter, &archive_meter);
}

TEST(ZipKit, PasswordEventUpdatesTheComponent) {
  TestDir dir;
  FixtureEntry secret = Stored("s.txt", "secret");
  secret.password = "open sesame";
  dir.Write("a.zip", ArchiveOf({secret}));
  std::filesystem::create_directory(dir.Native("out"));
  TAbZipKit kit;
  kit.SetPassword("wrong");
  int asked = 0;
  kit.OnNeedPassword = [&](TObject* S, std::string& pw) {
    EXPECT_EQ(S, &kit);
    ++asked;
    pw = "open sesame";
  };
  kit.SetBaseDirectory(dir.Path("out"));
  kit.SetFileName(dir.Path("a.zip"));
  kit.ExtractMatching("*.*");
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(kit.Password(), "open sesame");
  EXPECT_EQ(kit.OpenedArchive()->Password, "wrong");  // the archive's copy is not touched
  EXPECT_EQ(dir.Read("out/s.txt"), "secret");
}

TEST(ZipKit, SettingsReachTheOpenArchive) {
  TestDir dir;
  dir.Write("a.zip", ArchiveOf({Stored("a.txt", "a")}));
  TAbZipKit kit;
  kit.SetPasswordRetries(5);
  kit.SetExtractOptions({eoRestorePath});
  kit.SetFileName(dir.Path("a.zip"));
  TAbZipArchive& archive = *kit.OpenedArchive();
  EXPECT_EQ(archive.PasswordRetries, 5);
  EXPECT_TRUE(archive.ExtractOptions == TAbExtractOptions{eoRestorePath});
  kit.SetPassword("pw");
  kit.SetStoreOptions({soStripPath});
  kit.SetTempDirectory(dir.Path());
  EXPECT_EQ(archive.Password, "pw");
  EXPECT_TRUE(archive.StoreOptions == TAbStoreOptions{soStripPath});
  EXPECT_EQ(archive.TempDirectory, dir.Path());
  // A missing base folder is refused and the old value kept.
  kit.SetBaseDirectory(dir.Path());
  EXPECT_THROW(kit.SetBaseDirectory(dir.Path("missing")), EAbNoSuchDirectory);
  EXPECT_EQ(kit.BaseDirectory(), dir.Path());
  EXPECT_EQ(archive.BaseDirectory(), dir.Path());
}

TEST(ZipKit, LogFileSwitchesLoggingOn) {
  TestDir dir;
  dir.Write("a.zip", ArchiveOf({Stored("a.txt", "a")}));
  TAbZipKit kit;
  kit.SetLogFile(dir.Path("log.txt"));
  EXPECT_TRUE(kit.Logging());
  EXPECT_FALSE(dir.Exists("log.txt"));  // no archive yet
  kit.SetFileName(dir.Path("a.zip"));
  EXPECT_TRUE(dir.Exists("log.txt"));
  kit.SetLogFile("");
  EXPECT_FALSE(kit.Logging());
}

TEST(ZipKit, AssigningANameReopensAndMissingNamesAreCreated) {
  TestDir dir;
  dir.Write("a.zip", ArchiveOf({Stored("a.txt", "a")}));
  TAbZipKit kit;
  int loads = 0, saves_asked = 0;
  kit.OnLoad = [&](TObject*) { ++loads; };
  kit.OnConfirmSave = [&](TObject*, bool& Confirm) {
    ++saves_asked;
    Confirm = false;  // keeps the writer out of this test
  };
  kit.SetFileName(dir.Path("a.zip"));
  kit.SetFileName(dir.Path("a.zip"));
  EXPECT_EQ(loads, 2);
  EXPECT_EQ(saves_asked, 0);  // an unchanged archive with items is not written

  kit.SetFileName(dir.Path("new.zip"));
  EXPECT_TRUE(dir.Exists("new.zip"));
  ASSERT_NE(kit.OpenedArchive(), nullptr);
  EXPECT_EQ(kit.OpenedArchive()->ItemCount(), 0);
  kit.CloseFile();
  EXPECT_EQ(saves_asked, 1);  // an archive without items is always committed
}

TEST(ZipKit, UnreadableFileLeavesNoArchive) {
  TestDir dir;
  TAbZipKit kit;
  std::filesystem::create_directory(dir.Native("folder.zip"));
  EXPECT_THROW(kit.SetFileName(dir.Path("folder.zip")), Exception);
  EXPECT_EQ(kit.OpenedArchive(), nullptr);
  dir.Write("junk.zip", {'M', 'Z', 0, 0, 0, 0});
  EXPECT_THROW(kit.SetFileName(dir.Path("junk.zip")), EAbZipInvalid);
  ASSERT_NE(kit.OpenedArchive(), nullptr);  // the failed archive stays attached
  EXPECT_THROW(kit.ExtractMatching("*.*"), EAbNoArchive);  // closed by the loader
}

}  // namespace
}  // namespace zipkit
