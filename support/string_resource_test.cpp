#include "support/string_resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/errors.h"

namespace zipkit {
namespace {

using Entries = std::vector<std::pair<int32_t, std::u16string>>;

void Put32(std::vector<uint8_t>& out, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> 8 * i);
}

// A table in the STR0 layout, built here independently of the build-time compiler.
std::vector<uint8_t> BuildTable(const Entries& entries, const char* magic = "STR0") {
  std::vector<uint8_t> out(8 + 12 * entries.size());
  std::memcpy(out.data(), magic, 4);
  Put32(out, 4, static_cast<int32_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    Put32(out, 8 + 12 * i, entries[i].first);
    Put32(out, 12 + 12 * i, static_cast<int32_t>(out.size()));
    Put32(out, 16 + 12 * i, static_cast<int32_t>(entries[i].second.size()));
    for (char16_t u : entries[i].second) {
      out.push_back(static_cast<uint8_t>(u));
      out.push_back(static_cast<uint8_t>(u >> 8));
    }
  }
  return out;
}

// Registers Bytes under Name for the life of the object.
class ScopedResource {
 public:
  ScopedResource(std::string name, std::vector<uint8_t> bytes)
      : name_(std::move(name)), bytes_(std::move(bytes)) {
    host::RegisterResource(name_, bytes_.data(), static_cast<int32_t>(bytes_.size()));
  }
  ~ScopedResource() { host::RegisterResource(name_, nullptr, 0); }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::string name_;
  std::vector<uint8_t> bytes_;
};

std::string ReaderFailure(const std::string& name) {
  try {
    TAbStringResource reader(host::MainInstance(), name);
  } catch (const EKroStringResourceError& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

int32_t Get32(const uint8_t* p) {
  return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

TEST(MessageTables, BuiltInTablesArePackedAsStr0) {
  struct Case {
    const char* name;
    int32_t count;
    int32_t size;
  };
  for (const Case& c : {Case{"ABSRMGR_STRINGS", 5, 320}, Case{"AB_STRINGS_ENGLISH", 138, 7748}}) {
    SCOPED_TRACE(c.name);
    const host::TResInfo info = host::FindResourceData(host::MainInstance(), c.name);
    ASSERT_NE(info, 0);
    ASSERT_EQ(host::SizeofResourceData(host::MainInstance(), info), c.size);
    const uint8_t* p = host::LockResourceData(host::LoadResourceData(host::MainInstance(), info));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "STR0", 4), 0);
    ASSERT_EQ(Get32(p + 4), c.count);
    // Ids ascend; each text begins where the previous one ends; the last one ends the table.
    int32_t expected_offset = 8 + 12 * c.count;
    for (int32_t i = 0; i < c.count; ++i) {
      const uint8_t* e = p + 8 + 12 * i;
      if (i > 0) {
        EXPECT_LT(Get32(e - 12), Get32(e));
      }
      EXPECT_EQ(Get32(e + 4), expected_offset);
      expected_offset += 2 * Get32(e + 8);
    }
    EXPECT_EQ(expected_offset, c.size);
  }
}

TEST(StringResource, EngineTextsAndEdges) {
  TAbStringResource& s = EngineStrings();
  EXPECT_EQ(s.TextOf(310), " added ");
  EXPECT_EQ(s.TextOf(23), "Failed CRC Check");
  EXPECT_EQ(s.TextOf(35), "");
  EXPECT_EQ(s.TextOf(0), "");
  EXPECT_EQ(s.TextOf(-1), "");
  EXPECT_EQ(s.TextOf(316), " logging ");  // the last entry
  EXPECT_EQ(s.TextOf(1), "Cannot extract file - newer version required");  // the first
  EXPECT_EQ(ReaderStrings().TextOf(3), "String resource not found: %s");
}

TEST(StringResource, CopyTextCutsToFit) {
  struct Case {
    int32_t id;
    int32_t size;
    const char* text;
  };
  const Case cases[] = {
      {14, 255, "Insert disk number %d of the spanned disk set"},
      {14, 80, "Insert disk number %d of the spanned disk set"},
      {14, 46, "Insert disk number %d of the spanned disk set"},  // exactly fits with its zero
      {14, 45, "Insert disk number %d of the spanned disk se"},
      {14, 5, "Inse"},
      {14, 1, ""},
      {35, 80, ""},  // missing id
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.id << "/" << c.size);
    std::vector<char> buf(static_cast<size_t>(c.size) + 1, '#');
    EXPECT_EQ(EngineStrings().CopyText(c.id, buf.data(), c.size), buf.data());
    EXPECT_STREQ(buf.data(), c.text);
    EXPECT_EQ(buf[c.size], '#');  // nothing written past the buffer
  }
}

TEST(StringResource, RaiseOnMissing) {
  TAbStringResource reader(host::MainInstance(), "AB_STRINGS_ENGLISH");
  EXPECT_FALSE(reader.RaiseOnMissing);
  reader.RaiseOnMissing = true;
  EXPECT_EQ(reader.TextOf(9), "Process aborted by user");
  try {
    reader.TextOf(35);
    ADD_FAILURE() << "nothing raised";
  } catch (const EKroStringResourceError& e) {
    EXPECT_STREQ(e.what(), "String not found: 35");
  }
  char buf[8] = "x";
  EXPECT_THROW(reader.CopyText(-7, buf, sizeof buf), EKroStringResourceError);
  EXPECT_EQ(reader.TextOf(1), "Cannot extract file - newer version required");  // still usable
}

TEST(StringResource, ReaderFailuresUseTheReadersOwnTexts) {
  ScopedResource bad_magic("ZK_TEST_BADMAGIC", BuildTable({{1, u"x"}}, "STR1"));
  ScopedResource tiny("ZK_TEST_TINY", {'S', 'T'});
  host::RegisterResource("ZK_TEST_UNLOADABLE", nullptr, 16);
  EXPECT_EQ(ReaderFailure("ZK_TEST_NONE"), "String resource not found: ZK_TEST_NONE");
  EXPECT_EQ(ReaderFailure("ZK_TEST_BADMAGIC"), "Invalid string resource");
  EXPECT_EQ(ReaderFailure("ZK_TEST_TINY"), "Invalid string resource");
  EXPECT_EQ(ReaderFailure("ZK_TEST_UNLOADABLE"),
            "Unable to open string resource: ZK_TEST_UNLOADABLE");
  host::RegisterResource("ZK_TEST_UNLOADABLE", nullptr, 0);
  EXPECT_EQ(ReaderFailure("zk_test_unloadable"),
            "String resource not found: zk_test_unloadable");
  // Names are cut to 255 characters for the search, but reported as given.
  const std::string long_name(300, 'Q');
  EXPECT_EQ(ReaderFailure(long_name), "String resource not found: " + long_name);
}

TEST(StringResource, StateAfterAttach) {
  ScopedResource bad_magic("ZK_TEST_BADMAGIC2", BuildTable({{1, u"x"}}, "RTS0"));
  ScopedResource good("ZK_TEST_GOOD", BuildTable({{1, u"one"}}));
  TAbStringResource reader(host::MainInstance(), "");
  EXPECT_FALSE(reader.HasTable());
  EXPECT_THROW(
      {
        try {
          reader.TextOf(1);
        } catch (const EKroStringResourceError& e) {
          EXPECT_STREQ(e.what(), "Cannot lock resource");
          throw;
        }
      },
      EKroStringResourceError);
  char buf[4];
  EXPECT_THROW(reader.CopyText(1, buf, 4), EKroStringResourceError);

  EXPECT_THROW(reader.Attach(host::MainInstance(), "ZK_TEST_BADMAGIC2"), EKroStringResourceError);
  EXPECT_TRUE(reader.HasTable());  // a table that failed the magic stays loaded
  reader.Attach(host::MainInstance(), "ZK_TEST_GOOD");
  EXPECT_EQ(reader.TextOf(1), "one");
  EXPECT_THROW(reader.Attach(host::MainInstance(), "ZK_TEST_MISSING"), EKroStringResourceError);
  EXPECT_FALSE(reader.HasTable());
  reader.Attach(host::MainInstance(), "ZK_TEST_GOOD");
  reader.Attach(host::MainInstance(), "");
  EXPECT_FALSE(reader.HasTable());
}

TEST(StringResource, BinarySearchOverSmallTables) {
  struct Case {
    const char* name;
    Entries entries;
  };
  const Case cases[] = {
      {"ZK_T0", {}},
      {"ZK_T1", {{7, u"seven"}}},
      {"ZK_T5",
       {{INT32_MIN, u"min"}, {-5, u"minus five"}, {0, u""}, {3, u"three"}, {INT32_MAX, u"max"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedResource res(c.name, BuildTable(c.entries));
    TAbStringResource reader(host::MainInstance(), c.name);
    for (const auto& [id, text] : c.entries) {
      std::string ascii(text.begin(), text.end());
      EXPECT_EQ(reader.TextOf(id), ascii) << id;
    }
    for (int32_t absent : {1, 2, 6, 8, -4, 4})
      EXPECT_EQ(reader.TextOf(absent), "") << absent;
    reader.RaiseOnMissing = true;
    EXPECT_THROW(reader.TextOf(2), EKroStringResourceError);
  }
}

TEST(StringResource, DamagedTablesStayInBounds) {
  // Count claims more entries than the bytes hold; a text reaches past the end; a negative
  // offset and a negative length. Lookups must neither read outside nor invent texts.
  std::vector<uint8_t> table = BuildTable({{1, u"ab"}, {2, u"cd"}, {3, u"ef"}, {4, u"gh"}});
  Put32(table, 4, 1000000);
  Put32(table, 8 + 12 * 1 + 8, 50);          // id 2: length beyond the end
  Put32(table, 8 + 12 * 2 + 4, -8);          // id 3: negative offset
  Put32(table, 8 + 12 * 3 + 8, INT32_MIN);   // id 4: negative length
  ScopedResource res("ZK_TEST_DAMAGED", table);
  TAbStringResource reader(host::MainInstance(), "ZK_TEST_DAMAGED");
  EXPECT_EQ(reader.TextOf(1), "ab");
  for (int32_t id : {2, 3, 4, 5, 99999}) EXPECT_EQ(reader.TextOf(id), "") << id;

  ScopedResource header_only("ZK_TEST_HEADER", {'S', 'T', 'R', '0', 9, 0, 0, 0});
  TAbStringResource reader2(host::MainInstance(), "ZK_TEST_HEADER");
  EXPECT_EQ(reader2.TextOf(0), "");
}

TEST(StringResource, TextsBeyondAsciiFollowTheAnsiCodePage) {
  ScopedResource res("ZK_TEST_UMLAUT", BuildTable({{1, u"Gr\u00fc\u00dfe"}, {2, u"\u20ac\xd800"}}));
  TAbStringResource reader(host::MainInstance(), "ZK_TEST_UMLAUT");
  struct Case {
    uint32_t code_page;
    const char* text1;
    const char* cut4;  // CopyText of id 1 into 4 bytes
    const char* text2;
  };
  const Case cases[] = {
      {host::cpUtf8, "Gr\xc3\xbc\xc3\x9f" "e", "Gr", "\xe2\x82\xac?"},
      {host::cpAnsi1252, "Gr\xfc\xdf" "e", "Gr\xfc", "\x80?"},
  };
  const uint32_t saved = host::AnsiCodePage();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    ASSERT_TRUE(host::SetAnsiCodePage(c.code_page));
    EXPECT_EQ(reader.TextOf(1), c.text1);
    char buf[4];
    EXPECT_STREQ(reader.CopyText(1, buf, 4), c.cut4);
    EXPECT_EQ(reader.TextOf(2), c.text2);
  }
  host::SetAnsiCodePage(saved);
}

}  // namespace
}  // namespace zipkit
