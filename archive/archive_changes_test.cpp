// Changes of many entries through a small format of this test: one stored name per line, and a
// writer that carries out the pending actions on the names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/test_temp_dir.h"
#include "host/host.h"

namespace zipkit {
namespace {

using testing::TempDir;

class TNamesArchive : public TAbArchive {
 public:
  using TAbArchive::TAbArchive;

  std::unique_ptr<TAbArchiveItem> MakeItem(const std::string& FileName) override {
    auto item = std::make_unique<TAbArchiveItem>();
    item->DiskName = host::ExpandFileName(FileName);
    std::string name = NormalizeName(FileName);
    for (char& c : name)
      if (c == '\\') c = '/';
    item->SetStoredName(name);
    return item;
  }
  void UnpackItemAt(int32_t, const std::string&) override {}
  void UnpackItemToStreamAt(int32_t, TStream*) override {}
  void VerifyItemAt(int32_t) override {}
  void ReadCatalog() override {
    std::string text(static_cast<size_t>(Stream->Size()), '\0');
    Stream->SetPosition(0);
    Stream->ReadBuffer(text.data(), static_cast<int32_t>(text.size()));
    for (size_t start = 0; start < text.size();) {
      const size_t end = std::min(text.find('\n', start), text.size());
      auto* item = new TAbArchiveItem;
      item->SetStoredName(text.substr(start, end - start));
      Items.Append(item);
      start = end + 1;
    }
  }
  // Carries out the actions on the list: deleted items leave it.
  void WriteArchive() override {
    ++Writes;
    for (int32_t i = ItemCount() - 1; i >= 0; --i) {
      TAbArchiveItem* item = Items.ItemAt(i);
      if (item->PendingAction == iaDelete) Items.RemoveAt(i);
      else item->PendingAction = iaUnchanged;
    }
  }

  int Writes = 0;
};

class ArchiveChanges : public ::testing::Test {
 protected:
  std::unique_ptr<TNamesArchive> Open(const std::string& lines) {
    auto a = std::make_unique<TNamesArchive>(dir.Write("test.names", lines), fmOpenReadWrite);
    a->LoadCatalog();
    std::filesystem::create_directories(dir / "disk");
    a->SetBaseDirectory(dir / "disk");
    a->OnConfirmProcessItem = [this](TObject*, TAbArchiveItem* item, TAbProcessType type, bool& confirm) {
      confirm = item->StoredName() != refuse;
      trace.push_back("confirm " + std::to_string(type) + " " + item->StoredName());
    };
    a->OnProcessItemFailure = [this](TObject*, TAbArchiveItem* item, TAbProcessType type,
                                     TAbErrorClass, int32_t code) {
      trace.push_back("failure " + std::to_string(type) + " " + item->StoredName() + " " +
                      std::to_string(code));
    };
    return a;
  }
  void DiskFiles(const std::vector<std::string>& names) {
    for (const auto& n : names) {
      std::filesystem::create_directories(std::filesystem::path(dir / ("disk/" + n)).parent_path());
      dir.Write("disk/" + n, n);
    }
  }
  static std::vector<std::string> Names(const TAbArchive& a) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < a.ItemCount(); ++i)
      out.push_back(std::to_string(a.Items.ItemAt(i)->PendingAction) + " " + a.Items.ItemAt(i)->StoredName());
    return out;
  }

  TempDir dir;
  std::vector<std::string> trace;
  std::string refuse;
};

TEST_F(ArchiveChanges, AddFilesFindsFilesBelowTheBaseDirectory) {
  DiskFiles({"a.txt", "b.log", "sub/c.txt", "sub/deep/d.txt"});
  std::filesystem::create_directories(dir / "disk/empty");
  const struct {
    const char* what;
    TAbStoreOptions options;
    const char* mask;
    const char* exclude;
    int32_t attributes;
    std::vector<std::string> added;
  } cases[] = {
      {"one folder", {}, "*.txt", "", 0x2F, {"2 a.txt"}},
      {"a folder below", {}, "sub\\*.txt", "", 0x2F, {"2 sub/c.txt"}},
      {"recursing", {soRecurse}, "*.txt", "", 0x2F, {"2 a.txt", "2 sub/c.txt", "2 sub/deep/d.txt"}},
      {"excluding", {soRecurse}, "*.*", "c.*", 0x2F, {"2 a.txt", "2 b.log", "2 sub/deep/d.txt"}},
      {"with folders",
       {soRecurse},
       "*",
       "*.log",
       host::faAnyFile,
       {"2 a.txt", "2 empty/", "2 sub/", "2 sub/c.txt", "2 sub/deep/", "2 sub/deep/d.txt"}},
      {"no folders without paths",
       {soRecurse, soStripPath},
       "*",
       "",
       host::faAnyFile,
       {"2 a.txt", "2 b.log", "2 c.txt", "2 d.txt"}},
  };
  for (const auto& c : cases) {
    auto a = Open("");
    a->StoreOptions = c.options;
    a->AddFilesEx(c.mask, c.exclude, c.attributes);
    std::vector<std::string> names = Names(*a);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.added) << c.what;
    EXPECT_EQ(a->Modified, !c.added.empty()) << c.what;
  }
}

TEST_F(ArchiveChanges, AddFilesSkipsTheArchiveAndReportsDuplicates) {
  DiskFiles({"a.txt", "b.txt"});
  auto a = Open("b.txt");
  a->SetBaseDirectory(dir.Path());
  a->StoreOptions = {soRecurse};
  a->AddFiles("*.*", 0x2F);  // finds test.names itself, and disk/a.txt and disk/b.txt
  EXPECT_EQ(Names(*a), (std::vector<std::string>{"1 b.txt", "2 disk/a.txt", "2 disk/b.txt"}));

  // A name already held is reported, unless the options freshen or replace it.
  a->SetBaseDirectory(dir / "disk");
  trace.clear();
  a->AddFiles("b.txt", 0x2F);
  EXPECT_EQ(trace, (std::vector<std::string>{"failure 0 b.txt 7"}));
  trace.clear();
  a->StoreOptions.Include(soReplace);
  a->AddFiles("b.txt", 0x2F);
  EXPECT_EQ(trace, (std::vector<std::string>{"confirm 5 b.txt"}));
  EXPECT_EQ(a->Items.ItemAt(0)->PendingAction, iaReplace);
  EXPECT_EQ(a->ItemCount(), 3);
}

// The entry is replaced or freshened from the file that was found, also where its stored name
// alone would lead to another file (or none).
TEST_F(ArchiveChanges, AddFilesReplacesFromTheFileItFound) {
  DiskFiles({"sub/b.txt", "b.txt"});
  auto a = Open("b.txt");
  a->StoreOptions = {soStripPath, soReplace};
  a->AddFiles("sub\\b.txt", 0x2F);
  ASSERT_EQ(a->ItemCount(), 1);
  EXPECT_EQ(a->Items.ItemAt(0)->PendingAction, iaReplace);
  EXPECT_EQ(a->Items.ItemAt(0)->DiskName, host::ExpandFileName(dir / "disk/sub/b.txt"));

  a->Commit();
  trace.clear();
  a->StoreOptions = {soStripPath, soFreshen};
  const int64_t stamp = host::FileAge(dir / "disk/sub/b.txt");
  a->Items.ItemAt(0)->SetFileDate(static_cast<uint16_t>(stamp >> 16));
  a->Items.ItemAt(0)->SetFileTime(static_cast<uint16_t>(stamp));
  a->AddFiles("sub\\b.txt", 0x2F);  // same date and time: nothing to freshen
  EXPECT_TRUE(trace.empty());
  EXPECT_EQ(a->Items.ItemAt(0)->PendingAction, iaUnchanged);
  a->Items.ItemAt(0)->SetFileTime(static_cast<uint16_t>(stamp + 1));
  a->AddFiles("sub\\b.txt", 0x2F);
  EXPECT_EQ(trace, (std::vector<std::string>{"confirm 3 b.txt"}));
  EXPECT_EQ(a->Items.ItemAt(0)->PendingAction, iaFreshen);
}

TEST_F(ArchiveChanges, DeleteFilesMarksWhatTheMaskSelects) {
  auto a = Open("a.txt\nb.txt\nsub/c.txt\nkeep.dat");
  refuse = "b.txt";
  a->DeleteFilesEx("*.txt", "sub\\*.*");
  EXPECT_EQ(Names(*a), (std::vector<std::string>{"3 a.txt", "1 b.txt", "1 sub/c.txt", "1 keep.dat"}));
  EXPECT_EQ(trace, (std::vector<std::string>{"confirm 1 b.txt", "confirm 1 a.txt"}));
  EXPECT_TRUE(a->Modified);
  a->Commit();
  EXPECT_EQ(Names(*a), (std::vector<std::string>{"1 b.txt", "1 sub/c.txt", "1 keep.dat"}));

  // With AutoSave each deletion is written at once; the loop still meets every item.
  refuse.clear();
  a->AutoSave = true;
  a->DeleteFiles("*.*");
  EXPECT_EQ(a->ItemCount(), 0);
  EXPECT_EQ(a->Writes, 4);
  a->AutoSave = false;
  EXPECT_THROW(a->DeleteAt(0), EListError);
}

TEST_F(ArchiveChanges, FreshenFilesTakesOnlyChangedFilesAndReplaceFilesTakesAll) {
  DiskFiles({"same.txt", "newer.txt"});
  auto a = Open("same.txt\nnewer.txt\nmissing.txt\nother.dat");
  const int64_t stamp = host::FileAge(dir / "disk/same.txt");
  a->Items.ItemAt(0)->SetFileDate(static_cast<uint16_t>(stamp >> 16));
  a->Items.ItemAt(0)->SetFileTime(static_cast<uint16_t>(stamp));
  a->FreshenFiles("*.txt");
  EXPECT_EQ(Names(*a), (std::vector<std::string>{"1 same.txt", "4 newer.txt", "1 missing.txt", "1 other.dat"}));
  EXPECT_EQ(trace, (std::vector<std::string>{"confirm 3 newer.txt", "failure 3 missing.txt 0"}));
  const std::string disk_name = a->Items.ItemAt(1)->DiskName;
  EXPECT_EQ(host::ExpandFileName(disk_name), host::ExpandFileName(dir / "disk/newer.txt"));

  trace.clear();
  a->ReplaceFilesEx("*.*", "newer.*");
  EXPECT_EQ(Names(*a), (std::vector<std::string>{"6 same.txt", "4 newer.txt", "6 missing.txt", "6 other.dat"}));
  EXPECT_EQ(trace, (std::vector<std::string>{"confirm 5 same.txt", "confirm 5 missing.txt",
                                             "confirm 5 other.dat"}));
}

}  // namespace
}  // namespace zipkit
