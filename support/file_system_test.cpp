#include "support/file_system.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "host/exceptions.h"
#include "host/host.h"
#include "host/stream.h"
#include "support/errors.h"
#include "support/paths.h"

namespace zipkit {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, given to the engine in its own form ("\" between folders).
class FileSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zipkit_fs_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  std::string Engine(const std::string& rel = "") const {
    std::string s = (rel.empty() ? dir_ : dir_ / rel).string();
    ToBackslashes(s);
    for (char& c : s)
      if (c == '/') c = '\\';
    return s;
  }
  void Touch(const std::string& rel) const { std::ofstream((dir_ / rel).string()) << "x"; }

  fs::path dir_;
};

TEST_F(FileSystemTest, FolderExists) {
  Touch("file");
  struct Case {
    std::string name;
    bool want;
  };
  const Case cases[] = {
      {Engine(), true},           {Engine() + "\\", true},     {Engine("file"), false},
      {Engine("none"), false},    {Engine() + "\\*", false},   {Engine() + "?", false},
      {"", false},                {std::string(300, '\\'), true},  // the root, here
  };
  for (const Case& c : cases) EXPECT_EQ(FolderExists(c.name), c.want) << c.name;
}

TEST_F(FileSystemTest, MakeFolderPathCreatesEveryLevel) {
  const std::string path = Engine("a\\b\\c");
  MakeFolderPath(path);
  EXPECT_TRUE(fs::is_directory(dir_ / "a" / "b" / "c"));
  MakeFolderPath(path + "\\");  // present already: nothing to do
  MakeFolderPath(Engine("a\\b\\d\\"));
  EXPECT_TRUE(fs::is_directory(dir_ / "a" / "b" / "d"));
}

TEST_F(FileSystemTest, MakeFolderPathRaisesTheSystemCode) {
  Touch("file");
  try {
    MakeFolderPath(Engine("file\\sub\\deeper"));
    ADD_FAILURE() << "nothing raised";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, EEXIST);  // the file stands where the folder should be made
    EXPECT_FALSE(e.Message().empty());
  }
}

TEST_F(FileSystemTest, MakeFolderPathInAReadOnlyFolder) {
  fs::create_directories(dir_ / "ro");
  fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  if (::access((dir_ / "ro").c_str(), W_OK) == 0) GTEST_SKIP() << "running with full rights";
  EXPECT_THROW(MakeFolderPath(Engine("ro\\x\\y")), EInOutError);
}

TEST_F(FileSystemTest, TempFileNames) {
  const std::string made = NewTempFile(Engine());
  ASSERT_FALSE(made.empty());
  EXPECT_EQ(FolderPart(made), Engine() + "\\");
  EXPECT_EQ(NamePart(made).substr(0, 3), "VMS");
  EXPECT_TRUE(host::FileExists(made));
  EXPECT_EQ(host::FileSizeOf(made), 0);
  const std::string second = NewTempFile(Engine());
  EXPECT_NE(second, made);

  const std::string named = TempFileName(Engine(), false);
  EXPECT_EQ(named, Engine() + "\\VMS1.TMP");
  EXPECT_FALSE(host::FileExists(named));
  // A folder that does not exist gives the system's temporary folder.
  EXPECT_EQ(FolderPart(TempFileName(Engine("none"), false)), host::TempDirectory());
}

TEST_F(FileSystemTest, CollectFilesListsFilesBeforeSubfolders) {
  fs::create_directories(dir_ / "sub" / "deep");
  fs::create_directories(dir_ / "b");
  for (const char* f : {"z.txt", "a.txt", "n.dat", ".hidden.txt", "sub/s.txt", "sub/deep/d.txt",
                        "b/b.txt"})
    Touch(f);
  std::vector<std::string> list;
  CollectFiles(Engine("*.txt"), 0x2F, list, true);  // everything but folders
  const std::string root = Engine() + "\\";
  const std::vector<std::string> want = {
      root + ".hidden.txt", root + "a.txt",         root + "z.txt",
      root + "b\\b.txt",    root + "sub\\s.txt",    root + "sub\\deep\\d.txt"};
  EXPECT_EQ(list, want);

  list.clear();
  CollectFiles(Engine("*.txt"), 0, list, false);  // hidden files left out
  EXPECT_EQ(list, (std::vector<std::string>{root + "a.txt", root + "z.txt"}));

  // A link back to a parent folder is not followed.
  fs::create_directory_symlink(dir_, dir_ / "sub" / "loop");
  list.clear();
  CollectFiles(Engine("*.txt"), 0x2F, list, true);
  EXPECT_EQ(list.size(), want.size());
}

TEST_F(FileSystemTest, ShortPathNameKeepsPosixNames) {
  fs::create_directories(dir_ / "Long Folder");
  Touch("Long Folder/a file.text");
  const std::string path = Engine("Long Folder\\a file.text");
  EXPECT_EQ(ShortPathName(path), path);
  try {
    ShortPathName(Engine("missing\\a file.text"));
    ADD_FAILURE() << "nothing raised";
  } catch (const EAbFileNotFound&) {
    ADD_FAILURE() << "the folder is missing, not the file";
  } catch (const EAbException& e) {
    EXPECT_EQ(e.Message(), "Path not found");
    EXPECT_EQ(e.ErrorCode, 0);
  }
  EXPECT_THROW(ShortPathName(Engine("Long Folder\\none")), EAbFileNotFound);
  EXPECT_THROW(ShortPathName(Engine("Long Folder")), EAbFileNotFound);  // a folder, not a file
}

TEST_F(FileSystemTest, TruncateAndDrives) {
  const std::string name = Engine("t.bin");
  {
    TFileStream f(name, fmCreate);
    f.WriteBuffer("0123456789", 10);
    TruncateFileAt(f, 4);
    EXPECT_EQ(f.Position(), 4);
  }
  EXPECT_EQ(fs::file_size(dir_ / "t.bin"), 4u);
  {
    TFileStream f(name, fmOpenRead | fmShareDenyNone);
    TruncateFileAt(f, 1);  // cannot cut a read-only handle: ignored
  }
  EXPECT_EQ(fs::file_size(dir_ / "t.bin"), 4u);
  EXPECT_FALSE(IsRemovableDrive(Engine()));
  EXPECT_GT(DriveFreeBytes(Engine()), 0);
  EXPECT_GT(DriveFreeBytes(Engine("not\\yet\\made")), 0);
  EXPECT_EQ(WriteDiskLabel("PKBACK# 001 and more", 'A'), 0);
}

TEST_F(FileSystemTest, HostileNames) {
  const std::string hostile[] = {"", "\\", std::string(5000, '\\'), std::string(5000, 'x'),
                                 "\xFF\xFE\x80", "*", std::string("\0", 1)};
  for (const std::string& s : hostile) {
    FolderExists(s);
    std::vector<std::string> list;
    CollectFiles(s, 0x3F, list, false);
    IsRemovableDrive(s);
    DriveFreeBytes(s);
    try {
      ShortPathName(s);
    } catch (const EAbException&) {
    }
    try {
      MakeFolderPath(s);
    } catch (const EInOutError&) {
    }
  }
}

}  // namespace
}  // namespace zipkit
