// Lists every archive of the third-party corpus and compares it with its manifest: archives
// that must list give every entry's name, method, flags, sizes, CRC-32 and date; the others
// must be refused with an exception, never a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "zip/test_json.h"
#include "zip/zip_archive.h"

namespace zipkit {
namespace {

using testing::Json;

const std::string kCorpus = std::string(ZIPKIT_SOURCE_DIR) + "/../shared/corpus/third-party";

struct CorpusSet {
  std::string id;
  Json record;
};
void PrintTo(const CorpusSet& Set, std::ostream* Out) { *Out << Set.id; }

std::vector<CorpusSet> LoadManifest() {
  std::ifstream in(kCorpus + "/manifest.json", std::ios::binary);
  if (!in) return {};
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  std::vector<CorpusSet> sets;
  const Json manifest = Json::Parse(text);
  for (const Json& a : manifest["archives"].array) sets.push_back({a["id"].Str(), a});
  return sets;
}

// The listing expectation under our design: "ok", "fail" or "either", and the count.
const Json& ListExpectation(const Json& record) {
  const Json& design = record["design"];
  return design.Has("list") ? design["list"] : record["list"];
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[3];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

// "2012-09-19 14:21:52" as the DOS date and time; false when it does not parse.
bool DosStamp(const std::string& text, uint16_t& date, uint16_t& time) {
  int y, mo, d, h, mi, s;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return false;
  date = static_cast<uint16_t>(((y - 1980) << 9) | (mo << 5) | d);
  time = static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2));
  return true;
}

class Corpus : public ::testing::TestWithParam<CorpusSet> {};

TEST_P(Corpus, ListsAsTheManifestSays) {
  const Json& record = GetParam().record;
  const Json& list = ListExpectation(record);
  const std::string expect = list["expect"].Str();
  const std::string path = kCorpus + "/" + record["open"].Str();

  std::unique_ptr<TAbZipArchive> archive;
  std::string failure;
  try {
    archive = std::make_unique<TAbZipArchive>(path, fmOpenRead | fmShareDenyWrite);
    archive->LoadCatalog();
  } catch (const std::exception& e) {
    failure = e.what();
  }

  if (expect == "fail") {
    EXPECT_FALSE(failure.empty()) << "listed an archive that must be refused";
    return;
  }
  if (expect == "either") return;  // anything but a crash
  ASSERT_EQ(expect, "ok");
  ASSERT_TRUE(failure.empty()) << failure;

  const auto& entries = record["entries"].array;
  ASSERT_EQ(archive->ItemCount(), list["count"].Int());
  ASSERT_EQ(static_cast<size_t>(archive->ItemCount()), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const Json& e = entries[i];
    const TAbZipItem& item = *archive->ZipItem(static_cast<int32_t>(i));
    SCOPED_TRACE("entry " + std::to_string(i) + " " + e["name"].Str());
    EXPECT_EQ(Hex(item.DirectoryRecord.FileName), e["name_hex"].Str());
    const std::string& name = e["name"].Str();
    EXPECT_EQ(item.StoredName(), name.substr(0, name.find('\0')));
    EXPECT_EQ(item.DirectoryRecord.CompressionMethod, e["method"].Int());
    EXPECT_EQ(item.Flags(), e["flags"].Int());
    EXPECT_EQ(item.VersionNeeded(), e["version_needed"].Int());
    EXPECT_EQ(static_cast<uint32_t>(item.PackedSize()), e["packed_size"].Int());
    EXPECT_EQ(static_cast<uint32_t>(item.UnpackedSize()), e["unpacked_size"].Int());
    EXPECT_EQ(item.Checksum(), std::stoul(e["crc32"].Str(), nullptr, 16));
    EXPECT_EQ(item.Encrypted(), e["encrypted"].boolean);
    uint16_t date = 0, time = 0;
    if (DosStamp(e["date_time"].Str(), date, time)) {
      EXPECT_EQ(item.FileDate(), date);
      EXPECT_EQ(item.FileTime(), time);
    }
  }

  // Sets of several volumes: every entry's local header is found on its own volume, as the
  // extraction will look for it.
  if (record["files"].array.size() < 2) return;
  ASSERT_TRUE(archive->Spanned);
  for (int32_t i = 0; i < archive->ItemCount(); ++i) {
    const TAbZipItem& item = *archive->ZipItem(i);
    SCOPED_TRACE("entry " + std::to_string(i));
    archive->OpenSpannedVolume(item.StartDisk());
    ASSERT_EQ(archive->Stream->Seek(item.LocalHeaderOffset(), soFromBeginning),
              item.LocalHeaderOffset());
    TAbZipLocalFileHeader local;
    ASSERT_NO_THROW(local.ReadFrom(*archive->Stream));
    EXPECT_EQ(local.FileName, item.DirectoryRecord.FileName);
  }
}

std::string TestName(const ::testing::TestParamInfo<CorpusSet>& info) {
  std::string name = info.param.id;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Corpus);
INSTANTIATE_TEST_SUITE_P(ThirdParty, Corpus, ::testing::ValuesIn(LoadManifest()), TestName);

TEST(CorpusManifest, IsPresent) {
  if (!std::filesystem::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  EXPECT_GT(LoadManifest().size(), 100u);
}

}  // namespace
}  // namespace zipkit
