#include "host/host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "host/stream.h"

namespace zipkit::host {
namespace {

namespace fs = std::filesystem;

// Selects an ANSI code page for one test and restores the previous one.
class ScopedAnsi {
 public:
  explicit ScopedAnsi(uint32_t cp) : saved_(AnsiCodePage()) { EXPECT_TRUE(SetAnsiCodePage(cp)); }
  ~ScopedAnsi() { SetAnsiCodePage(saved_); }

 private:
  uint32_t saved_;
};

TEST(CodePages, Settings) {
  EXPECT_EQ(OemCodePage(), cpOem437);
  EXPECT_EQ(AnsiCodePage(), cpUtf8);  // the default
  EXPECT_FALSE(SetAnsiCodePage(850));
  EXPECT_EQ(AnsiCodePage(), cpUtf8);
}

TEST(CodePages, OemAndAnsi) {
  struct Case {
    uint32_t ansi;
    std::string oem;
    std::string ansi_text;
  };
  const Case cases[] = {
      {cpAnsi1252, "\x81", "\xFC"},                       // u with diaeresis
      {cpAnsi1252, "DIR/SUB/A.TXT", "DIR/SUB/A.TXT"},
      {cpAnsi1252, "\x9E\xE1", "?\xDF"},                  // peseta sign has no 1252 byte
      {cpUtf8, "\x81", "\xC3\xBC"},
      {cpUtf8, "\xE1\xB0\xFF", "\xC3\x9F\xE2\x96\x91\xC2\xA0"},
      {cpUtf8, "", ""},
  };
  for (const Case& c : cases) {
    ScopedAnsi ansi(c.ansi);
    EXPECT_EQ(OemToAnsi(c.oem), c.ansi_text) << c.ansi;
  }
  ScopedAnsi ansi(cpUtf8);
  // Every OEM byte survives the way to UTF-8 and back.
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  bool exact = false;
  EXPECT_EQ(AnsiToOem(OemToAnsi(all), &exact), all);
  EXPECT_TRUE(exact);
  // A character CP437 lacks: "?" and not exact, so the name is stored as UTF-8 instead.
  EXPECT_EQ(AnsiToOem("\xE2\x82\xAC.txt", &exact), "?.txt");
  EXPECT_FALSE(exact);
  EXPECT_EQ(AnsiToOem("\xFF\xC3", &exact), "??");  // not UTF-8 at all
  EXPECT_FALSE(exact);
}

TEST(CodePages, Utf8AndWide) {
  {
    ScopedAnsi ansi(cpAnsi1252);
    bool exact = true;
    EXPECT_EQ(Utf8ToAnsi("\xC3\xA4\xE2\x82\xAC", &exact), "\xE4\x80");
    EXPECT_TRUE(exact);
    EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD", &exact), "?");
    EXPECT_FALSE(exact);
    EXPECT_EQ(AnsiToUtf8("\xE4\x80"), "\xC3\xA4\xE2\x82\xAC");
    const char16_t wide[] = {u'a', 0xE4, 0xD83D, 0xDE00, 0xDC00, u'z'};
    EXPECT_EQ(WideToAnsi(wide, 6), "a\xE4??z");  // an emoji has no 1252 byte; lone low surrogate
  }
  ScopedAnsi ansi(cpUtf8);
  const char16_t wide[] = {u'a', 0xE4, 0xD83D, 0xDE00, 0xD800};
  EXPECT_EQ(WideToAnsi(wide, 5), "a\xC3\xA4\xF0\x9F\x98\x80?");
  EXPECT_EQ(WideToAnsi(wide, 3), "a\xC3\xA4?");  // cut between the halves of a pair
  EXPECT_EQ(WideToAnsi(wide, 0), "");
  EXPECT_EQ(WideToAnsi(nullptr, -1), "");
  bool exact = false;
  EXPECT_EQ(Utf8ToAnsi("ok\xC3\xA4", &exact), "ok\xC3\xA4");
  EXPECT_TRUE(exact);
}

TEST(CodePages, UpperAndLowerCase) {
  struct Case {
    uint32_t ansi;
    std::string lower;
    std::string upper;
  };
  const Case cases[] = {
      {cpUtf8, "setup.exe", "SETUP.EXE"},
      {cpUtf8, "\xC3\xA4\xC3\xB6\xC3\xBC", "\xC3\x84\xC3\x96\xC3\x9C"},  // a, o, u umlaut
      {cpUtf8, "\xC5\xA1\xD0\xB6\xCE\xB1", "\xC5\xA0\xD0\x96\xCE\x91"},  // s caron, zhe, alpha
      {cpAnsi1252, "\xE4\xFF\x9A", "\xC4\x9F\x8A"},                      // a umlaut, y umlaut, s caron
      {cpAnsi1252, "abc\xF7", "ABC\xF7"},                                // division sign stays
  };
  for (const Case& c : cases) {
    ScopedAnsi ansi(c.ansi);
    EXPECT_EQ(AnsiUpperCase(c.lower), c.upper);
    EXPECT_EQ(AnsiLowerCase(c.upper), c.lower);
  }
  ScopedAnsi ansi(cpUtf8);
  EXPECT_EQ(AnsiUpperCase("\xC3\x9F"), "\xC3\x9F");          // sharp s has no single capital
  EXPECT_EQ(AnsiUpperCase("a\xFF\xC3z"), "A\xFF\xC3Z");      // broken bytes stay
  // Case conversion never changes the byte length.
  std::string all;
  for (int b = 0; b < 256; ++b) all += OemToAnsi(std::string(1, static_cast<char>(b)));
  EXPECT_EQ(AnsiUpperCase(all).size(), all.size());
  EXPECT_EQ(AnsiLowerCase(all).size(), all.size());
}

TEST(DosTime, EncodeAndDecode) {
  struct Case {
    TLocalTime t;
    uint32_t stamp;
  };
  const Case cases[] = {
      {{1980, 1, 1, 0, 0, 0}, 0x00210000},
      {{2024, 2, 29, 23, 59, 58}, (44u << 25) | (2u << 21) | (29u << 16) | (23u << 11) | (59u << 5) | 29u},
      {{2099, 12, 31, 12, 30, 1}, (119u << 25) | (12u << 21) | (31u << 16) | (12u << 11) | (30u << 5) | 0u},
      {{1979, 12, 31, 0, 0, 0}, 0},
      {{2100, 1, 1, 0, 0, 0}, 0},
      {{2023, 2, 29, 0, 0, 0}, 0},  // no such day
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDosDateTime(c.t), c.stamp) << c.t.Year << "-" << c.t.Month << "-" << c.t.Day;
    if (c.stamp == 0) continue;
    TLocalTime back;
    ASSERT_TRUE(DecodeDosDateTime(c.stamp, back));
    EXPECT_EQ(EncodeDosDateTime(back), c.stamp);
  }
  TLocalTime t;
  EXPECT_FALSE(DecodeDosDateTime(0, t));  // month 0
  EXPECT_FALSE(DecodeDosDateTime(0x0021FFFF, t));  // hour 31
  EXPECT_NE(NowDosDateTime(), 0u);
}

class HostFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zipkit_host_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Engine(const std::string& rel = "") const {
    std::string s = (rel.empty() ? dir_ : dir_ / rel).string();
    for (char& c : s)
      if (c == '/') c = '\\';
    return s;
  }
  fs::path dir_;
};

TEST_F(HostFiles, ExistsAttributesAndDates) {
  const std::string f = Engine("f.txt");
  std::ofstream(dir_ / "f.txt") << "data";
  EXPECT_TRUE(FileExists(f));
  EXPECT_FALSE(FileExists(Engine()));
  EXPECT_TRUE(DirectoryExists(Engine() + "\\"));
  EXPECT_EQ(FileSizeOf(f), 4);
  EXPECT_EQ(FileGetAttr(f), faArchive);
  EXPECT_EQ(FileGetAttr(Engine()), faDirectory);
  EXPECT_EQ(FileGetAttr(Engine("none")), -1);

  EXPECT_EQ(FileSetAttr(f, faReadOnly | faArchive), 0);
  EXPECT_EQ(FileGetAttr(f), faReadOnly | faArchive);
  EXPECT_EQ(fs::status(dir_ / "f.txt").permissions() & fs::perms::all & fs::perms::owner_write,
            fs::perms::none);
  EXPECT_EQ(FileSetAttr(f, faArchive), 0);
  EXPECT_EQ(FileGetAttr(f), faArchive);
  EXPECT_NE(FileSetAttr(Engine("none"), 0), 0);
  EXPECT_EQ(FileSetUnixMode(f, 0104640), 0);  // file type and set-uid bits are not applied
  EXPECT_EQ(fs::status(dir_ / "f.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  const uint32_t stamp = EncodeDosDateTime({2001, 7, 15, 13, 45, 30});
  EXPECT_EQ(FileSetDate(f, stamp), 0);
  EXPECT_EQ(FileAge(f), stamp);
  {
    TFileStream s(f, fmOpenReadWrite);
    const uint32_t winter = EncodeDosDateTime({1999, 1, 2, 3, 4, 6});
    EXPECT_EQ(FileSetDate(s, winter), 0);
    EXPECT_EQ(FileAge(f), winter);
    EXPECT_NE(FileSetDate(s, 0), 0);  // not a date
  }
  EXPECT_NE(FileSetDate(Engine("none"), stamp), 0);
  EXPECT_EQ(FileAge(Engine("none")), -1);

  std::ofstream(dir_ / ".dot") << "";
  EXPECT_EQ(FileGetAttr(Engine(".dot")), faArchive | faHidden);

  EXPECT_TRUE(RenameFile(f, Engine("g.txt")));
  EXPECT_TRUE(DeleteFile(Engine("g.txt")));
  EXPECT_FALSE(DeleteFile(Engine("g.txt")));
  EXPECT_EQ(LastError(), ENOENT);
  EXPECT_FALSE(SysErrorMessage(ENOENT).empty());
}

TEST_F(HostFiles, FoldersAndCurrentDirectory) {
  EXPECT_TRUE(CreateDir(Engine("a")));
  EXPECT_FALSE(CreateDir(Engine("a")));
  EXPECT_FALSE(CreateDir(Engine("x\\y")));  // one level only
  const std::string saved = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(Engine("a")));
  EXPECT_EQ(GetCurrentDir(), Engine("a"));
  EXPECT_EQ(ExpandFileName("b\\..\\c\\.\\d.txt"), Engine("a\\c\\d.txt"));
  EXPECT_EQ(ExpandFileName("sub/"), Engine("a\\sub\\"));
  EXPECT_TRUE(SetCurrentDir(saved));
  EXPECT_TRUE(RemoveDir(Engine("a")));
  struct Case {
    const char* in;
    const char* want;
  };
  for (const Case& c : {Case{"\\x\\..\\..\\y", "\\y"}, Case{"\\", "\\"}, Case{"//a//b", "\\a\\b"},
                        Case{"", ""}})
    EXPECT_EQ(ExpandFileName(c.in), c.want) << c.in;
}

TEST_F(HostFiles, TempNamesAndDrives) {
  EXPECT_EQ(TempDirectory().back(), '\\');
  const std::string a = GetTempFileName(Engine(), "VMSX", true);
  const std::string b = GetTempFileName(Engine(), "VMSX", true);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.substr(0, Engine().size() + 4), Engine() + "\\VMS");
  EXPECT_TRUE(FileExists(a));
  EXPECT_EQ(GetTempFileName(Engine(), "VMS", false), Engine() + "\\VMS1.TMP");
  EXPECT_EQ(GetTempFileName(Engine("none"), "VMS", true), "");
  EXPECT_EQ(GetDriveType(Engine()), dtFixed);
  EXPECT_EQ(GetDriveType(Engine("none")), dtNoRootDir);
  EXPECT_FALSE(IsRemovableDrive(Engine()));
  EXPECT_GT(DriveFreeBytes(Engine()), 0);
  EXPECT_EQ(SetVolumeLabel("A:\\", "LABEL"), 0);
  EXPECT_EQ(VolumeLabel("A:\\"), "");
  EXPECT_FALSE(LocalDateTimeText().empty());
}

TEST_F(HostFiles, FindFilesFiltersByMaskAndAttributes) {
  fs::create_directories(dir_ / "sub");
  fs::create_directories(dir_ / ".hid");
  for (const char* f : {"b.txt", "a.TXT", "c.dat", "noext", ".h.txt"}) std::ofstream(dir_ / f) << "12";
  auto names = [&](const std::string& mask, int32_t attr) {
    std::string out;
    TFindFiles find;
    TSearchRec rec;
    for (bool ok = find.First(Engine() + "\\" + mask, attr, rec); ok; ok = find.Next(rec))
      out += rec.Name + (rec.Attr & faDirectory ? "/" : "") + " ";
    return out;
  };
  EXPECT_EQ(names("*.txt", 0), "b.txt ");
  EXPECT_EQ(names("*.txt", faHidden), ".h.txt b.txt ");
  EXPECT_EQ(names("*.*", 0), "a.TXT b.txt c.dat noext ");
  EXPECT_EQ(names("*", faDirectory), "./ ../ a.TXT b.txt c.dat noext sub/ ");
  EXPECT_EQ(names("*", faDirectory | faHidden), "./ ../ .h.txt .hid/ a.TXT b.txt c.dat noext sub/ ");
  EXPECT_EQ(names("?.dat", 0), "c.dat ");
  EXPECT_EQ(names("noext.*", 0), "noext ");
  EXPECT_EQ(names("c.dat", 0), "c.dat ");  // no wildcard: the one entry
  EXPECT_EQ(names("sub", 0), "");         // a folder, not asked for
  EXPECT_EQ(names("sub", faDirectory), "sub/ ");
  EXPECT_EQ(names("", faAnyFile), "");
  TFindFiles find;
  TSearchRec rec;
  ASSERT_TRUE(find.First(Engine("c.dat"), 0, rec));
  EXPECT_EQ(rec.Size, 2);
  EXPECT_NE(rec.Time, 0u);
  EXPECT_FALSE(find.Next(rec));
  EXPECT_FALSE(find.First(Engine("none\\*"), faAnyFile, rec));
}

TEST(FileMask, Table) {
  struct Case {
    const char* name;
    const char* mask;
    bool want;
  };
  const Case cases[] = {
      {"a.txt", "*.txt", true}, {"a.txt", "*.*", true},  {"noext", "*.*", true},
      {"noext", "noext.*", true}, {"a.b.c", "*.c", true}, {"abc", "a?c", true},
      {"ac", "a?c", false},     {"A.TXT", "*.txt", false}, {"x", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesFileMask(c.name, c.mask), c.want) << c.name << " ~ " << c.mask;
}

TEST(CriticalSection, ReentrantAndExclusive) {
  TCriticalSection cs;
  int shared = 0;
  cs.Enter();
  cs.Enter();
  std::thread other([&] {
    cs.Enter();
    shared = shared * 10 + 2;
    cs.Leave();
  });
  shared = 1;
  cs.Leave();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  shared = shared * 10 + 1;  // still held once: the other thread has not run its part
  cs.Leave();
  other.join();
  EXPECT_EQ(shared, 112);
}

}  // namespace
}  // namespace zipkit::host
