// The archive core through a small format of its own: one stored name per line.
#include "archive/archive.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/test_temp_dir.h"
#include "host/exceptions.h"
#include "support/errors.h"
#include "support/pad_lock.h"

namespace zipkit {
namespace {

using testing::TempDir;

// A "lines" archive: each line of the file is the stored name of one entry. A file that starts
// with "JUNK" is no archive; a line "!BROKEN" is a damaged directory record.
class TLinesArchive : public TAbArchive {
 public:
  using TAbArchive::TAbArchive;

  std::unique_ptr<TAbArchiveItem> MakeItem(const std::string& FileName) override {
    auto item = std::make_unique<TAbArchiveItem>();
    item->SetStoredName(NormalizeName(FileName));
    return item;
  }
  void UnpackItemAt(int32_t Index, const std::string& OutName) override {
    Trace.push_back("unpack " + OutName);
    if (OnUnpack) OnUnpack(Index);
  }
  void UnpackItemToStreamAt(int32_t, TStream*) override {}
  void ReadCatalog() override {
    std::string text(static_cast<size_t>(Stream->Size()), '\0');
    Stream->SetPosition(0);
    Stream->ReadBuffer(text.data(), static_cast<int32_t>(text.size()));
    if (text.rfind("JUNK", 0) == 0) {
      State = stClosed;
      throw EAbZipInvalid();
    }
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find('\n', start);
      const std::string line = text.substr(start, end - start);
      start = end == std::string::npos ? text.size() : end + 1;
      if (line == "!BROKEN") throw EReadError();
      auto* item = new TAbArchiveItem;
      item->SetStoredName(line);
      Items.Append(item);
    }
  }
  void WriteArchive() override {
    ++Writes;
    if (FailWrite) throw EWriteError();
  }
  void VerifyItemAt(int32_t) override {}

  std::vector<std::string> Trace;
  std::function<void(int32_t Index)> OnUnpack;
  int Writes = 0;
  bool FailWrite = false;
};

class ArchiveCore : public ::testing::Test {
 protected:
  // An archive of the given entries (one per line), loaded, with every event traced.
  std::unique_ptr<TLinesArchive> Open(const std::string& lines) {
    const std::string path = dir.Write("test.lines", lines);
    auto archive = std::make_unique<TLinesArchive>(path, fmOpenRead | fmShareDenyNone);
    Trace(*archive);
    archive->LoadCatalog();
    return archive;
  }
  static void Trace(TLinesArchive& a) {
    a.OnConfirmProcessItem = [&a](TObject* sender, TAbArchiveItem* item, TAbProcessType type,
                                  bool&) {
      EXPECT_EQ(sender, &a);
      a.Trace.push_back("confirm " + item->StoredName() + " " + std::to_string(type));
    };
    a.OnArchiveProgress = [&a](TObject*, uint8_t progress, bool&) {
      a.Trace.push_back("progress " + std::to_string(progress));
    };
    a.OnArchiveItemProgress = [&a](TObject*, TAbArchiveItem* item, uint8_t progress, bool&) {
      a.Trace.push_back("item " + item->StoredName() + " " + std::to_string(progress));
    };
    a.OnProcessItemFailure = [&a](TObject*, TAbArchiveItem* item, TAbProcessType type,
                                  TAbErrorClass error_class, int32_t code) {
      a.Trace.push_back("failure " + item->StoredName() + " " + std::to_string(type) + " " +
                        std::to_string(error_class) + " " + std::to_string(code));
    };
    a.OnLoad = [&a](TObject*) { a.Trace.push_back("load"); };
  }
  static std::vector<std::string> Only(const std::vector<std::string>& trace,
                                       const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& t : trace)
      if (t.rfind(prefix, 0) == 0) out.push_back(t);
    return out;
  }
  static void ExpectIdle(TAbArchive& a, TAbArchiveState state = stReady) {
    EXPECT_EQ(a.State, state);
    EXPECT_EQ(a.Guard->HoldCount(), 0);
  }

  TempDir dir;
};

TEST_F(ArchiveCore, ConstructionOpensTheFileAndStartsReady) {
  const std::string path = dir.Write("x.lines", "");
  TLinesArchive a(path, fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(a.State, stReady);
  EXPECT_EQ(a.ArchiveName, path);
  EXPECT_TRUE(a.OwnsStream);
  EXPECT_EQ(a.ItemCount(), 0);
  EXPECT_FALSE(a.BaseDirectory().empty());  // the program's folder
  EXPECT_THROW(TLinesArchive(dir / "missing.lines", fmOpenRead), EFOpenError);
}

TEST_F(ArchiveCore, ExtractMatchingReportsProgressPerEntryThenOnceMore) {
  auto a = Open("a.txt\nb.txt\nsub/c.txt");
  a->Trace.clear();
  a->ExtractMatching("*.*");
  EXPECT_EQ(Only(a->Trace, "unpack"),
            (std::vector<std::string>{"unpack a.txt", "unpack b.txt", "unpack sub/c.txt"}));
  EXPECT_EQ(Only(a->Trace, "progress"), (std::vector<std::string>{"progress 33", "progress 66",
                                                                  "progress 100", "progress 100"}));
  ExpectIdle(*a);
}

TEST_F(ArchiveCore, EmptyArchiveExtractsAndReportsNothing) {
  auto a = Open("");
  a->Trace.clear();
  a->ExtractMatching("*.*");
  EXPECT_TRUE(a->Trace.empty());
}

TEST_F(ArchiveCore, EventsComeInOrderAndAFailingEntryDoesNotStopTheLoop) {
  auto a = Open("a.txt\nbad.txt\nfolder/\nc.txt");
  a->OnUnpack = [&](int32_t index) {
    bool abort = false;
    a->CurrentItemProgress(50, abort);
    if (index == 1) throw EAbZipBadCRC();
  };
  a->Trace.clear();
  a->ExtractMatching("*.*");
  EXPECT_EQ(a->Trace, (std::vector<std::string>{
                          "confirm a.txt 2", "unpack a.txt", "item a.txt 50", "progress 25",
                          "confirm bad.txt 2", "unpack bad.txt", "item bad.txt 50",
                          "failure bad.txt 2 0 23", "progress 50", "progress 75", "confirm c.txt 2",
                          "unpack c.txt", "item c.txt 50", "progress 100", "progress 100"}));
  EXPECT_EQ(a->CurrentItem, a->Items.ItemAt(3));
  ExpectIdle(*a);
}

TEST_F(ArchiveCore, ExcludeMaskAndNewName) {
  auto a = Open("a.txt\nb.dat\nc.txt");
  a->Trace.clear();
  a->ExtractMatchingExcept("*.*", "*.txt");
  EXPECT_EQ(Only(a->Trace, "unpack"), (std::vector<std::string>{"unpack b.dat"}));
  a->Trace.clear();
  a->ExtractByIndex(2, "renamed.out");
  EXPECT_EQ(Only(a->Trace, "unpack"), (std::vector<std::string>{"unpack renamed.out"}));
}

TEST_F(ArchiveCore, AbortFromArchiveProgressStopsAfterTheCurrentEntry) {
  auto a = Open("a.txt\nb.txt\nc.txt");
  a->OnArchiveProgress = [&](TObject*, uint8_t, bool& abort) { abort = true; };
  a->Trace.clear();
  try {
    a->ExtractMatching("*.*");
    FAIL() << "no abort";
  } catch (const EAbUserAbort& e) {
    EXPECT_EQ(e.ErrorCode, 9);
  }
  EXPECT_EQ(Only(a->Trace, "unpack"), (std::vector<std::string>{"unpack a.txt"}));
  ExpectIdle(*a);
}

TEST_F(ArchiveCore, RefusedEntryIsNeitherExtractedNorLoggedNorReported) {
  auto a = Open("a.txt\nb.txt\nc.txt");
  a->LogFile = dir / "log.txt";
  a->SetLogging(true);
  a->OnConfirmProcessItem = [&](TObject*, TAbArchiveItem* item, TAbProcessType, bool& confirm) {
    confirm = item->StoredName() != "b.txt";
  };
  a->OnUnpack = [&](int32_t) { throw EAbZipBadCRC(); };
  a->Trace.clear();
  a->ExtractMatching("*.*");
  EXPECT_EQ(Only(a->Trace, "unpack"), (std::vector<std::string>{"unpack a.txt", "unpack c.txt"}));
  EXPECT_EQ(Only(a->Trace, "failure"),
            (std::vector<std::string>{"failure a.txt 2 0 23", "failure c.txt 2 0 23"}));
  const std::string log = dir.Read("log.txt");
  EXPECT_EQ(log.find("b.txt"), std::string::npos);
  EXPECT_NE(log.find("a.txt extracted "), std::string::npos);  // logged before it failed
}

TEST_F(ArchiveCore, FailuresAreClassified) {
  struct Case {
    const char* what;
    std::function<void()> raise;
    TAbErrorClass error_class;
    int32_t code;
  };
  const Case cases[] = {
      {"engine", [] { throw EAbZipBadCRC(); }, ecArchiveFault, 23},
      {"engine with own text", [] { throw EAbException("Path not found"); }, ecArchiveFault, 0},
      {"io", [] { throw EInOutError("disk", 5); }, ecIoFault, 5},
      {"filer", [] { throw EReadError(); }, ecFilerFault, 0},
      {"open", [] { throw EFOpenError("Cannot open file x"); }, ecOpenFault, 0},
      {"create", [] { throw EFCreateError("Cannot create file x"); }, ecCreateFault, 0},
      {"list index", [] { throw EListError("List index out of bounds (3)"); }, ecUnclassified, 0},
      {"foreign", [] { throw std::runtime_error("boom"); }, ecUnclassified, 0},
  };
  for (const Case& c : cases) {
    auto a = Open("x.bin\ny.bin");
    a->OnUnpack = [&](int32_t index) {
      if (index == 0) c.raise();
    };
    a->Trace.clear();
    EXPECT_NO_THROW(a->ExtractMatching("*.*")) << c.what;
    EXPECT_EQ(Only(a->Trace, "failure"),
              (std::vector<std::string>{"failure x.bin 2 " + std::to_string(c.error_class) + " " +
                                        std::to_string(c.code)}))
        << c.what;
    EXPECT_EQ(Only(a->Trace, "unpack").size(), 2u) << c.what;
    ExpectIdle(*a);
  }
}

TEST_F(ArchiveCore, AbortInsideAnExtractionClosesTheArchive) {
  // The extraction driver closes the archive when the user aborts an entry; the loop then
  // stops at the next entry.
  auto a = Open("a.txt\nb.txt");
  a->OnUnpack = [&](int32_t) {
    a->State = stClosed;
    throw EAbUserAbort();
  };
  a->Trace.clear();
  EXPECT_THROW(a->ExtractMatching("*.*"), EAbNoArchive);
  EXPECT_EQ(Only(a->Trace, "failure"), (std::vector<std::string>{"failure a.txt 2 0 9"}));
  ExpectIdle(*a, stClosed);
}

TEST_F(ArchiveCore, HandlersThatRaiseReachTheCallerAndReleaseTheFrame) {
  struct Case {
    const char* what;
    std::function<void(TLinesArchive&)> install;
    bool raises;  // false: raised inside the extraction, so caught and reported
  };
  const Case cases[] = {
      {"confirm",
       [](TLinesArchive& a) {
         a.OnConfirmProcessItem = [](TObject*, TAbArchiveItem*, TAbProcessType, bool&) {
           throw std::runtime_error("confirm");
         };
       },
       true},
      {"archive progress",
       [](TLinesArchive& a) {
         a.OnArchiveProgress = [](TObject*, uint8_t, bool&) { throw EAbZipInvalid(); };
       },
       true},
      {"failure report",
       [](TLinesArchive& a) {
         a.OnUnpack = [](int32_t) { throw EAbZipBadCRC(); };
         a.OnProcessItemFailure = [](TObject*, TAbArchiveItem*, TAbProcessType, TAbErrorClass,
                                     int32_t) { throw std::runtime_error("report"); };
       },
       true},
      {"item progress",
       [](TLinesArchive& a) {
         a.OnUnpack = [&a](int32_t) {
           bool abort = false;
           a.CurrentItemProgress(10, abort);
         };
         a.OnArchiveItemProgress = [](TObject*, TAbArchiveItem*, uint8_t, bool&) {
           throw std::runtime_error("item");
         };
       },
       false},
  };
  for (const Case& c : cases) {
    auto a = Open("a.txt\nb.txt");
    c.install(*a);
    if (c.raises) {
      EXPECT_ANY_THROW(a->ExtractMatching("*.*")) << c.what;
    } else {
      EXPECT_NO_THROW(a->ExtractMatching("*.*")) << c.what;
    }
    ExpectIdle(*a);
  }
}

TEST_F(ArchiveCore, GuardIsHeldWhileAnEntryIsExtracted) {
  auto a = Open("a.txt");
  int32_t held = -1;
  TAbArchiveState state = stClosed;
  a->OnUnpack = [&](int32_t) {
    held = a->Guard->HoldCount();
    state = a->State;
  };
  a->ExtractMatching("*.*");
  EXPECT_EQ(held, 1);
  EXPECT_EQ(state, stBusy);
  ExpectIdle(*a);
}

TEST_F(ArchiveCore, IndexOutsideTheListRaisesListError) {
  auto a = Open("a.txt\nb.txt");
  for (int32_t index : {-1, 2, 1 << 30}) {
    EXPECT_THROW(a->ExtractByIndex(index, ""), EListError) << index;
    ExpectIdle(*a);
  }
}

TEST_F(ArchiveCore, BaseDirectoryRules) {
  auto a = Open("a.txt");
  std::filesystem::create_directory(dir / "sub");
  const struct {
    std::string value;
    std::string stored;  // "" with raises: the old value stays
    bool raises;
  } cases[] = {
      {"", "", false},       {dir / "sub", dir / "sub", false}, {dir / "sub\\", dir / "sub", false},
      {"\\", "\\", false},   {dir / "missing", "", true},       {dir / "su?", "", true},
      {dir / "*", "", true},
  };
  for (const auto& c : cases) {
    a->SetBaseDirectory(dir.Path());
    if (c.raises) {
      EXPECT_THROW(a->SetBaseDirectory(c.value), EAbNoSuchDirectory) << c.value;
      EXPECT_EQ(a->BaseDirectory(), dir.Path()) << c.value;
    } else {
      a->SetBaseDirectory(c.value);
      EXPECT_EQ(a->BaseDirectory(), c.stored) << c.value;
    }
  }
}

TEST_F(ArchiveCore, ExtractionChecksTheBaseDirectoryAgain) {
  auto a = Open("a.txt");
  std::filesystem::create_directory(dir / "out");
  a->SetBaseDirectory(dir / "out");
  std::filesystem::remove(dir / "out");
  a->Trace.clear();
  EXPECT_THROW(a->ExtractMatching("*.*"), EAbNoSuchDirectory);
  EXPECT_TRUE(a->Trace.empty());
}

TEST_F(ArchiveCore, BaseDirectoryWithNonAsciiNameIsUsedAsItIs) {
  // The folder name is already in the ANSI code page; converting it again from OEM would name
  // a folder that does not exist.
  auto a = Open("a.txt");
  const std::string folder = dir /
                             "donn\xC3\xA9"
                             "es";
  std::filesystem::create_directory(folder);
  a->SetBaseDirectory(folder);
  EXPECT_NO_THROW(a->ExtractMatching("*.*"));
  EXPECT_EQ(a->BaseDirectory(), folder);
}

TEST_F(ArchiveCore, LogStartsWithTheArchiveAndListsConfirmedEntries) {
  auto a = Open("a.txt\nb.txt");
  a->LogFile = dir / "archive.log";
  a->SetLogging(true);
  a->ExtractMatching("*.*");
  const std::string log = dir.Read("archive.log");
  std::vector<std::string> lines;
  for (size_t start = 0; start < log.size();) {
    const size_t end = log.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
    lines.push_back(log.substr(start, end - start));
    start = end + 2;
  }
  ASSERT_EQ(lines.size(), 3u);
  const std::string prefixes[] = {a->ArchiveName + " logging ", "a.txt extracted ",
                                  "b.txt extracted "};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(lines[i].rfind(prefixes[i], 0), 0u) << lines[i];
    EXPECT_GT(lines[i].size(), prefixes[i].size()) << "a date and time follow";
  }
  // Switching on again starts a new log.
  a->SetLogging(false);
  EXPECT_EQ(a->LogStream, nullptr);
  a->SetLogging(true);
  EXPECT_EQ(dir.Read("archive.log").find("a.txt"), std::string::npos);
}

TEST_F(ArchiveCore, LogThatCannotBeCreatedRaisesBadStream) {
  auto a = Open("a.txt");
  a->LogFile = dir / "no-such-folder/archive.log";
  try {
    a->SetLogging(true);
    FAIL() << "no exception";
  } catch (const EAbBadStream& e) {
    EXPECT_EQ(e.ErrorCode, 21);
  }
  EXPECT_EQ(a->LogStream, nullptr);
  EXPECT_NO_THROW(a->ExtractMatching("*.*"));  // nothing to log into, nothing breaks
}

TEST_F(ArchiveCore, LoggingWithoutAFileNameWritesNothing) {
  auto a = Open("a.txt");
  a->SetLogging(true);
  EXPECT_TRUE(a->Logging());
  EXPECT_EQ(a->LogStream, nullptr);
}

TEST_F(ArchiveCore, CommitWritesOnlyChangedOrEmptyArchives) {
  int confirms = 0;
  auto count_confirms = [&](TObject*, bool&) { ++confirms; };

  auto unchanged = Open("a.txt");
  unchanged->OnConfirmSave = count_confirms;
  unchanged->Commit();
  EXPECT_EQ(confirms, 0);
  EXPECT_EQ(unchanged->Writes, 0);

  unchanged->Modified = true;
  unchanged->Commit();
  EXPECT_EQ(confirms, 1);
  EXPECT_EQ(unchanged->Writes, 1);
  EXPECT_FALSE(unchanged->Modified);

  auto empty = Open("");
  empty->OnConfirmSave = count_confirms;
  bool saved = false;
  empty->OnSave = [&](TObject*) { saved = true; };
  empty->Commit();
  EXPECT_EQ(confirms, 2);
  EXPECT_EQ(empty->Writes, 1);
  EXPECT_TRUE(saved);
}

TEST_F(ArchiveCore, CommitRefusedOrFailedKeepsTheChange) {
  auto a = Open("a.txt");
  a->Modified = true;
  a->OnConfirmSave = [](TObject*, bool& confirm) { confirm = false; };
  a->Commit();
  EXPECT_EQ(a->Writes, 0);
  EXPECT_TRUE(a->Modified);

  a->OnConfirmSave = nullptr;
  a->FailWrite = true;
  EXPECT_THROW(a->Commit(), EWriteError);
  EXPECT_TRUE(a->Modified);
  ExpectIdle(*a);

  a->State = stClosed;
  a->FailWrite = false;
  a->Commit();
  EXPECT_EQ(a->Writes, 1);  // the failed attempt only
}

TEST_F(ArchiveCore, LoadingSomethingElseClosesTheArchive) {
  const std::string path = dir.Write("junk.lines", "JUNK");
  TLinesArchive a(path, fmOpenRead | fmShareDenyNone);
  bool loaded = false;
  a.OnLoad = [&](TObject*) { loaded = true; };
  EXPECT_THROW(a.LoadCatalog(), EAbZipInvalid);
  EXPECT_TRUE(loaded);
  ExpectIdle(a, stClosed);
  EXPECT_THROW(a.ExtractMatching("*.*"), EAbNoArchive);
  EXPECT_THROW(a.ExtractByIndex(0, ""), EAbNoArchive);
}

TEST_F(ArchiveCore, DamagedDirectoryKeepsTheEntriesReadSoFar) {
  const std::string path = dir.Write("broken.lines", "a.txt\nb.txt\n!BROKEN\nc.txt");
  TLinesArchive a(path, fmOpenRead | fmShareDenyNone);
  bool loaded = false;
  a.OnLoad = [&](TObject*) { loaded = true; };
  EXPECT_THROW(a.LoadCatalog(), EReadError);
  EXPECT_TRUE(loaded);
  ExpectIdle(a);
  EXPECT_EQ(a.ItemCount(), 2);
}

TEST_F(ArchiveCore, NormalizeName) {
  auto a = Open("");
  const struct {
    TAbStoreOptions options;
    const char* name;
    const char* stored;
  } cases[] = {
      {{soStripDrive, soRemoveDots}, "C:\\data\\x.txt", "data\\x.txt"},
      {{soStripDrive, soRemoveDots}, "..\\..\\x.txt", "x.txt"},
      {{soStripDrive, soRemoveDots}, "\\x.txt", "x.txt"},
      {{soStripDrive}, "..\\x.txt", "..\\x.txt"},
      {{}, "C:\\data\\x.txt", "C:\\data\\x.txt"},
      {{soStripDrive, soStripPath}, "C:\\data\\x.txt", "x.txt"},
      {{soStripDrive}, "", ""},
  };
  for (const auto& c : cases) {
    a->StoreOptions = c.options;
    EXPECT_EQ(a->NormalizeName(c.name), c.stored) << c.name;
  }
}

TEST_F(ArchiveCore, AddingADuplicateReportsAndKeepsTheList) {
  auto a = Open("a.txt");
  a->Trace.clear();
  a->AddItem(a->MakeItem("A.TXT"));
  EXPECT_EQ(a->Trace, (std::vector<std::string>{"failure A.TXT 0 0 7"}));
  EXPECT_EQ(a->ItemCount(), 1);
  EXPECT_FALSE(a->Modified);

  a->AutoSave = true;
  a->AddItem(a->MakeItem("new.txt"));
  EXPECT_EQ(a->ItemCount(), 2);
  EXPECT_EQ(a->Items.ItemAt(1)->PendingAction, iaAdd);
  EXPECT_EQ(a->Writes, 1);  // written before AddItem returned
}

TEST_F(ArchiveCore, MovedItemIsFoundUnderItsNewName) {
  auto a = Open("a.txt\nb.txt");
  a->MoveItem(a->Items.ItemAt(0), "c.txt");
  EXPECT_EQ(a->Items.IndexOfName("c.txt"), 0);
  EXPECT_EQ(a->Items.IndexOfName("a.txt"), -1);
  EXPECT_EQ(a->Items.ItemAt(0)->PendingAction, iaMove);
  EXPECT_TRUE(a->Modified);
  a->Trace.clear();
  a->MoveItem(a->Items.ItemAt(0), "B.TXT");
  EXPECT_EQ(Only(a->Trace, "failure"), (std::vector<std::string>{"failure c.txt 4 0 7"}));
  EXPECT_EQ(a->Items.ItemAt(0)->StoredName(), "c.txt");
}

}  // namespace
}  // namespace zipkit
