#include "archive/archive_item.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/exceptions.h"

namespace zipkit {
namespace {

// A list whose items the test owns (as the archive would); RemoveAt frees through the list.
class ListFixture : public ::testing::Test {
 protected:
  TAbArchiveItem* Add(const std::string& name, TAbItemAction action = iaUnchanged) {
    auto* item = new TAbArchiveItem;
    item->SetStoredName(name);
    item->PendingAction = action;
    list.Append(item);
    return item;
  }
  ~ListFixture() override {
    for (int32_t i = list.ItemCount() - 1; i >= 0; --i) delete list.ItemAt(i);
  }

  TAbArchiveList list;
};

TEST(ArchiveListHash, BucketOfWorkedValues) {
  const struct {
    const char* name;
    int32_t bucket;
  } cases[] = {{"", 0}, {"A", 65}, {"a", 65}, {"abc", 406}, {"SETUP.EXE", 370}, {"setup.exe", 370}};
  for (const auto& c : cases) EXPECT_EQ(TAbArchiveList::BucketOf(c.name), c.bucket) << c.name;
}

TEST(ArchiveListHash, NameEqualityFoldsOnlyAscii) {
  EXPECT_TRUE(TAbArchiveList::SameName("Readme.TXT", "README.txt"));
  EXPECT_FALSE(TAbArchiveList::SameName("a.txt", "a.txt "));
  EXPECT_FALSE(TAbArchiveList::SameName("a[", "A{"));  // '[' and '{' are 32 apart but no letters
  // é and É (UTF-8) hash alike but are different names.
  EXPECT_EQ(TAbArchiveList::BucketOf("\xC3\xA9.txt"), TAbArchiveList::BucketOf("\xC3\x89.txt"));
  EXPECT_FALSE(TAbArchiveList::SameName("\xC3\xA9.txt", "\xC3\x89.txt"));
}

TEST_F(ListFixture, NewListFindsNothing) {
  EXPECT_EQ(list.ItemCount(), 0);
  EXPECT_EQ(list.IndexOfName("a.txt"), -1);
  EXPECT_EQ(list.IndexOfName(""), -1);
  EXPECT_FALSE(list.HasLiveName("a.txt"));
}

TEST_F(ListFixture, LookupIgnoresAsciiCase) {
  Add("Readme.txt");
  EXPECT_EQ(list.IndexOfName("README.TXT"), 0);
  EXPECT_TRUE(list.HasLiveName("readme.TXT"));
  EXPECT_EQ(list.IndexOfName("Readme.tx"), -1);
}

TEST_F(ListFixture, NamesDifferingBeyondAsciiStayApart) {
  Add("\xC3\xA9.txt");
  Add("\xC3\x89.txt");
  EXPECT_EQ(list.IndexOfName("\xC3\xA9.txt"), 0);
  EXPECT_EQ(list.IndexOfName("\xC3\x89.txt"), 1);
}

TEST_F(ListFixture, LaterOfEqualNamesWinsAndRemovalUncoversTheOther) {
  Add("a.txt");
  Add("A.TXT");
  EXPECT_EQ(list.IndexOfName("a.txt"), 1);
  list.RemoveAt(1);
  EXPECT_EQ(list.ItemCount(), 1);
  EXPECT_EQ(list.IndexOfName("a.txt"), 0);
}

TEST_F(ListFixture, RemovingTheEarlierOfEqualNamesMovesTheLaterDown) {
  Add("a.txt");
  TAbArchiveItem* later = Add("a.txt");
  list.RemoveAt(0);
  EXPECT_EQ(list.IndexOfName("a.txt"), 0);
  EXPECT_EQ(list.ItemAt(0), later);
  list.RemoveAt(0);
  EXPECT_EQ(list.IndexOfName("a.txt"), -1);
}

TEST_F(ListFixture, DeletedItemIsFoundButNotLive) {
  Add("gone.txt", iaDelete);
  EXPECT_EQ(list.IndexOfName("gone.txt"), 0);
  EXPECT_FALSE(list.HasLiveName("gone.txt"));
  Add("gone.txt");
  EXPECT_TRUE(list.HasLiveName("gone.txt"));
}

TEST_F(ListFixture, ResetForgetsWithoutFreeing) {
  std::unique_ptr<TAbArchiveItem> kept[2];
  for (auto& k : kept) {
    k = std::make_unique<TAbArchiveItem>();
    k->SetStoredName("x.dat");
    list.Append(k.get());
  }
  list.Reset();
  EXPECT_EQ(list.ItemCount(), 0);
  EXPECT_EQ(list.IndexOfName("x.dat"), -1);
  for (auto& k : kept) {
    EXPECT_EQ(k->StoredName(), "x.dat");  // still alive, no longer listed
    EXPECT_EQ(k->List(), nullptr);
  }
}

TEST_F(ListFixture, IndexOutsideTheListRaises) {
  Add("one");
  for (int32_t index : {-1, 1, 1000}) {
    EXPECT_THROW(list.ItemAt(index), EListError) << index;
    EXPECT_THROW(list.RemoveAt(index), EListError) << index;
  }
  EXPECT_EQ(list.ItemCount(), 1);
}

TEST_F(ListFixture, AnItemBelongsToOneListOnly) {
  TAbArchiveItem* item = Add("one");
  EXPECT_THROW(list.Append(item), EListError);
  TAbArchiveList other;
  EXPECT_THROW(other.Append(item), EListError);
  EXPECT_THROW(list.Append(nullptr), EListError);
  EXPECT_EQ(list.ItemCount(), 1);
}

// Names that share one chain of the 1021, so that renaming and removal work inside a chain.
std::vector<std::string> NamesOfOneBucket(size_t count) {
  std::map<int32_t, std::vector<std::string>> by_bucket;
  for (int i = 0;; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, 1, 'f');
    name += ".dat";
    auto& names = by_bucket[TAbArchiveList::BucketOf(name)];
    names.push_back(name);
    if (names.size() == count) return names;
  }
}

TEST_F(ListFixture, RenamedItemIsFoundUnderItsNewNameOnly) {
  const std::vector<std::string> names = NamesOfOneBucket(4);
  for (const auto& n : names) Add(n);
  TAbArchiveItem* moved = list.ItemAt(1);
  moved->SetStoredName("renamed.dat");
  EXPECT_EQ(list.IndexOfName("renamed.dat"), 1);
  EXPECT_EQ(list.IndexOfName(names[1]), -1);
  for (size_t i : {0u, 2u, 3u}) EXPECT_EQ(list.IndexOfName(names[i]), static_cast<int32_t>(i));
}

TEST_F(ListFixture, NoFreedItemStaysReachable) {
  // Rename the middle items of one chain into another chain and back, remove them, then walk
  // every chain involved: under the address sanitizer a freed item reached here is reported.
  const std::vector<std::string> names = NamesOfOneBucket(5);
  for (const auto& n : names) Add(n);
  list.ItemAt(2)->SetStoredName("elsewhere.dat");
  list.ItemAt(3)->SetStoredName(names[0]);   // now shares the chain and the name of item 0
  EXPECT_EQ(list.IndexOfName(names[0]), 3);  // filed last, found first
  list.RemoveAt(3);
  list.RemoveAt(2);
  EXPECT_EQ(list.IndexOfName(names[0]), 0);
  EXPECT_EQ(list.IndexOfName("elsewhere.dat"), -1);
  EXPECT_EQ(list.IndexOfName(names[2]), -1);
  EXPECT_EQ(list.IndexOfName(names[3]), -1);
  EXPECT_EQ(list.IndexOfName(names[1]), 1);
  EXPECT_EQ(list.IndexOfName(names[4]), 2);
  EXPECT_EQ(list.ItemCount(), 3);
}

TEST_F(ListFixture, FreeingAListedItemTakesItOut) {
  Add("a");
  TAbArchiveItem* b = Add("b");
  Add("c");
  delete b;
  EXPECT_EQ(list.ItemCount(), 2);
  EXPECT_EQ(list.IndexOfName("b"), -1);
  EXPECT_EQ(list.IndexOfName("c"), 1);
}

TEST_F(ListFixture, ManyItemsKeepTheirNamesAndIndexesAsTheTableGrows) {
  constexpr int kCount = 5000;
  for (int i = 0; i < kCount; ++i) Add("dir/file" + std::to_string(i) + ".txt");
  for (int i = 0; i < kCount; i += 7)
    ASSERT_EQ(list.IndexOfName("DIR/FILE" + std::to_string(i) + ".TXT"), i);
  // Removing from the front moves every later item down by one.
  list.RemoveAt(0);
  list.RemoveAt(0);
  EXPECT_EQ(list.IndexOfName("dir/file2.txt"), 0);
  EXPECT_EQ(list.IndexOfName("dir/file4999.txt"), kCount - 3);
  EXPECT_EQ(list.IndexOf(list.ItemAt(100)), 100);
}

TEST(ArchiveItem, MatchesMask) {
  const struct {
    const char* stored;
    const char* mask;
    bool matches;
  } cases[] = {
      {"sub/file.dat", "*.*", true},
      {"sub/file.dat", "sub\\*.dat", true},
      {"sub/file.dat", "SUB/*.DAT", true},
      {"sub/file.dat", "other\\*.*", false},
      {"sub/file.dat", "C:\\*.*", true},
      {"sub/", "*.*", false},
      {"sub/", "*", false},
      {"sub/", "", true},
      {"file.dat", "", false},
      {"file.dat", "*.txt", false},
  };
  for (const auto& c : cases) {
    TAbArchiveItem item;
    item.SetStoredName(c.stored);
    EXPECT_EQ(item.MatchesMask(c.mask), c.matches) << c.stored << " / " << c.mask;
  }
}

}  // namespace
}  // namespace zipkit
