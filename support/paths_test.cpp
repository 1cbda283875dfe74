#include "support/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/names.h"

namespace zipkit {
namespace {

TEST(Paths, SplitPath) {
  struct Case {
    const char* path;
    const char* drive;
    const char* folder;
    const char* name;
  };
  const Case cases[] = {
      {"C:\\dir\\sub\\file.txt", "C:", "dir\\sub\\", "file.txt"},
      {"file.txt", "", "", "file.txt"},
      {"\\\\server\\share\\dir\\f", "\\\\server\\share", "dir\\", "f"},
      {"\\\\server\\share\\f", "\\\\server\\share", "", "f"},
      {"\\\\server\\f", "\\\\server\\", "", "f"},  // fewer than four backslashes
      {"C:file", "C:", "", "file"},
      {"a/b/c.txt", "", "a\\b\\", "c.txt"},
      {"\\root\\x", "", "\\root\\", "x"},
      {"dir\\", "", "dir\\", ""},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    std::string drive = "?", folder = "?", name = "?";
    SplitPath(c.path, drive, folder, name);
    EXPECT_EQ(drive, c.drive) << c.path;
    EXPECT_EQ(folder, c.folder) << c.path;
    EXPECT_EQ(name, c.name) << c.path;
  }
}

TEST(Paths, ClassifyPath) {
  struct Case {
    const char* path;
    PathKind want;
  };
  const Case cases[] = {
      {"a.txt", pkBareName},      {"a/b.txt", pkRelative}, {"a\\b.txt", pkRelative},
      {"C:x", pkAbsolute},        {"\\\\s\\x", pkAbsolute}, {"\\x", pkRelative},
      {"", pkBareName},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyPath(c.path), c.want) << c.path;
}

TEST(Paths, SetSpanExtension) {
  struct Case {
    const char* name;
    uint16_t disk;
    const char* want;
  };
  const Case cases[] = {
      {"archive.zip", 1, "archive.z01"}, {"archive.zip", 12, "archive.z12"},
      {"archive.zip", 100, "archive.z00"}, {"archive", 3, "archive.03"},
      {"set.zip", 7, "set.z07"},         {"archive.", 3, "archive.03"},
      {"a.b\\name", 5, "a.b\\name.05"},   {"x.zipper", 65535, "x.z35"},
      {"", 0, ".00"},
  };
  for (const Case& c : cases) {
    std::string name = c.name;
    SetSpanExtension(name, c.disk);
    EXPECT_EQ(name, c.want) << c.name << " " << c.disk;
  }
}

TEST(Paths, Rewriting) {
  struct Case {
    void (*op)(std::string&);
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {DropLeadingParents, "..\\..\\a\\..\\b", "a\\..\\b"},
      {DropLeadingParents, "..", ".."},
      {DropLeadingParents, "..\\", ""},
      {DropDrive, "C:\\dir\\f.txt", "dir\\f.txt"},
      {DropDrive, "c:/dir/f.txt", "dir\\f.txt"},
      {DropDrive, "\\\\srv\\share\\d\\f", "d\\f"},
      {DropDrive, "f", "f"},
      {ToBackslashes, "a/b//c", "a\\b\\\\c"},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    c.op(s);
    EXPECT_EQ(s, c.want) << c.in;
  }
}

TEST(Paths, SplitFoldersAndPrefixes) {
  struct Case {
    const char* folder;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"a\\b\\c\\", {"a", "b", "c"}},
      {"a\\b", {"a", "b"}},
      {"\\a\\", {"", "a"}},
      {"", {}},
      {"\\", {}},
      {"a\\\\b\\", {"a", "", "b"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> list = {"kept"};
    SplitFolders(c.folder, list);
    std::vector<std::string> want = {"kept"};
    want.insert(want.end(), c.want.begin(), c.want.end());
    EXPECT_EQ(list, want) << c.folder;
  }
  EXPECT_EQ(BackslashPrefixLength("C:\\a\\b", 2), 4);
  EXPECT_EQ(BackslashPrefixLength("C:\\a\\b", 1), 2);
  EXPECT_EQ(BackslashPrefixLength("C:\\a\\b", 3), 6);
  EXPECT_EQ(BackslashPrefixLength("\\\\server\\share\\a", 5), 16);
  EXPECT_EQ(BackslashPrefixLength("", 1), 0);
}

// Empty, very long, separator-only and non-ASCII strings go through every utility without harm.
TEST(Paths, HostileStrings) {
  const std::string hostile[] = {
      "", "\\", "\\\\", "\\\\\\\\\\\\", ":", "::", "C:", "..\\..\\..\\", "/", "//",
      std::string(70000, '\\'), std::string(70000, 'a'), std::string(70000, '.'),
      "\xFF\xFE\x80\\\xE4:", std::string("a\0b\\c", 5), "*?*?", "\\\\?\\C:\\",
  };
  for (const std::string& s : hostile) {
    std::string drive, folder, name;
    SplitPath(s, drive, folder, name);
    EXPECT_LE(drive.size() + folder.size() + name.size(), s.size() + 1);
    std::vector<std::string> list;
    SplitFolders(s, list);
    std::string t = s;
    DropLeadingParents(t);
    DropDrive(t);
    ToBackslashes(t);
    SetSpanExtension(t, 65535);
    ClassifyPath(s);
    for (int n : {1, 2, 5, 1 << 30}) EXPECT_LE(BackslashPrefixLength(s, n), static_cast<int>(s.size()));
    WildcardMatch(s, 1, s, 1);
    NameMatchesMask(s, s);
    NameMatchesMask(s, "*\\*.*");
  }
}

}  // namespace
}  // namespace zipkit
