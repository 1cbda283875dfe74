// The zipper's changing operations and its save events.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "host/host.h"
#include "support/errors.h"
#include "unzip/test_dir.h"
#include "unzip/zip_fixture.h"
#include "zipkit/zip_kit.h"

namespace zipkit {
namespace {

using testing::FixtureEntry;
using testing::TestDir;
using testing::ZipFixture;

std::vector<uint8_t> StoredArchive(const std::vector<std::pair<std::string, std::string>>& Entries) {
  ZipFixture zip;
  for (const auto& [name, data] : Entries) {
    FixtureEntry e;
    e.name = name;
    e.data = data;
    zip.Add(e);
  }
  return zip.Bytes();
}

std::vector<std::string> Names(TAbZipKit& Kit) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < Kit.OpenedArchive()->ItemCount(); ++i)
    names.push_back(Kit.ItemAtIndex(i)->StoredName());
  return names;
}

TEST(ZipKitWriter, EveryChangeNeedsAnOpenArchive) {
  TAbZipKit kit;
  const std::vector<std::function<void()>> changes = {
      [&] { kit.AddFiles("*.*", 0x2F); },
      [&] { kit.AddFilesEx("*.*", "*.tmp", 0x2F); },
      [&] { kit.DeleteAt(0); },
      [&] { kit.DeleteFiles("*.*"); },
      [&] { kit.DeleteFilesEx("*.*", "a.*"); },
      [&] { kit.FreshenFiles("*.*"); },
      [&] { kit.FreshenFilesEx("*.*", "a.*"); },
      [&] { kit.Move(nullptr, "b"); },
      [&] { kit.Replace(nullptr); },
      [&] { kit.Save(); },
      [&] { kit.WriteArchiveComment("c"); },
  };
  for (size_t i = 0; i < changes.size(); ++i) EXPECT_THROW(changes[i](), EAbNoArchive) << i;
}

TEST(ZipKitWriter, ChangesNotifyAndTheSaveAsksFirst) {
  TestDir dir;
  dir.Write("a.zip", StoredArchive({{"a.txt", "alpha"}, {"b.txt", "beta"}, {"c.txt", "gamma"}}));
  TAbZipKit kit;
  std::vector<std::string> log;
  bool allow = false;
  kit.OnChange = [&](TObject* S) { log.push_back(S == &kit ? "change" : "change?"); };
  kit.OnConfirmSave = [&](TObject* S, bool& Confirm) {
    log.push_back(S == &kit ? "confirm save" : "confirm save?");
    Confirm = allow;
  };
  kit.OnSave = [&](TObject* S) { log.push_back(S == &kit ? "saved" : "saved?"); };
  kit.SetFileName(dir.Path("a.zip"));
  log.clear();

  kit.DeleteFiles("b.txt");
  kit.Move(kit.ItemAtIndex(2), "sub\\c2.txt");
  kit.WriteArchiveComment("kit comment");
  kit.Save();  // refused: nothing is written
  EXPECT_EQ(log, (std::vector<std::string>{"change", "change", "confirm save", "change"}));
  EXPECT_TRUE(kit.OpenedArchive()->Modified);
  const std::string before = dir.Read("a.zip");

  log.clear();
  allow = true;
  kit.Save();
  EXPECT_EQ(log, (std::vector<std::string>{"confirm save", "saved", "change"}));
  EXPECT_NE(dir.Read("a.zip"), before);
  EXPECT_EQ(Names(kit), (std::vector<std::string>{"a.txt", "sub/c2.txt"}));

  kit.SetFileName(dir.Path("a.zip"));  // reloads what was written
  EXPECT_EQ(Names(kit), (std::vector<std::string>{"a.txt", "sub/c2.txt"}));
  EXPECT_EQ(kit.OpenedArchive()->ArchiveComment(), "kit comment");
  std::filesystem::create_directory(dir.Native("out"));
  kit.SetBaseDirectory(dir.Path("out"));
  kit.ExtractMatching("*.*");
  EXPECT_EQ(dir.Read("out/c2.txt"), "gamma");
  EXPECT_EQ(dir.Read("out/a.txt"), "alpha");
}

TEST(ZipKitWriter, ClosingCommitsAndAFailedCommitIsDropped) {
  TestDir dir;
  dir.Write("a.zip", StoredArchive({{"a.txt", "alpha"}, {"b.txt", "beta"}}));
  TAbZipKit kit;
  kit.SetFileName(dir.Path("a.zip"));
  kit.DeleteAt(0);
  kit.CloseFile();  // commits
  kit.SetFileName(dir.Path("a.zip"));
  EXPECT_EQ(Names(kit), std::vector<std::string>{"b.txt"});

  // A spanned set is never rewritten; closing ignores the failure and drops the change.
  kit.SetSpanningThreshold(65536);
  const std::string before = dir.Read("a.zip");
  kit.OpenedArchive()->Spanned = true;
  kit.DeleteAt(0);
  EXPECT_THROW(kit.Save(), EAbZipSpanOverwrite);
  kit.CloseFile();
  EXPECT_EQ(dir.Read("a.zip"), before);
}

}  // namespace
}  // namespace zipkit
