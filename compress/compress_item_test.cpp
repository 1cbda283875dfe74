#include "compress/compress_item.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/test_temp_dir.h"
#include "host/exceptions.h"
#include "host/host.h"
#include "support/errors.h"
#include "unzip/zdecoder.h"
#include "zip/zip_records.h"

namespace zipkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>(rng());
  return b;
}

Bytes Text(size_t n) {
  const std::string line = "Entries are deflated when that makes them smaller, else stored.\n";
  Bytes b;
  while (b.size() < n) b.insert(b.end(), line.begin(), line.end());
  b.resize(n);
  return b;
}

uint32_t ZlibCrc(const Bytes& data) {
  return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

bool Inflates(const Bytes& packed, const Bytes& original) {
  z_stream z{};
  inflateInit2(&z, -15);
  Bytes out(original.size() + 1);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  const bool ok = rc == Z_STREAM_END && z.avail_in == 0 && out == original;
  inflateEnd(&z);
  return ok;
}

struct TFixture {
  testing::TempDir dir;
  TAbZipArchive archive{dir / "new.zip", fmCreate};
};

// The entry's data as written: decrypted when the item says so, then stored or inflated.
bool EntryHolds(const TAbZipItem& item, TMemoryStream& target, const Bytes& data, const std::string& password) {
  std::unique_ptr<TStream> slot = std::make_unique<TMemoryStream>();
  slot->WriteBuffer(target.Memory(), target.Size());
  slot->SetPosition(0);
  int32_t size = slot->Size();
  std::unique_ptr<TAbZDecoder> cipher;
  if (item.Encrypted()) {
    cipher = std::make_unique<TAbZDecoder>(password, slot, item.Checksum(), true);
    if (!cipher->CheckHeader()) return false;
    size -= TAbZDecoder::kHeaderSize;
  }
  Bytes body(static_cast<size_t>(size));
  slot->ReadBuffer(body.data(), size);
  if (cipher) cipher->DecryptBuffer(body.data(), size);
  return item.Method() == 0 ? body == data : Inflates(body, data);
}

TEST(CompressItem, StreamEntryDescribesItsData) {
  struct TCase {
    const char* name;
    Bytes data;
    TAbZipSupportedMethod method;
    uint8_t zip_method;
    uint16_t internal;  // 1: the deflater saw text
  };
  const TCase cases[] = {
      {"text, best", Text(40000), smBestMethod, 8, 1},
      {"random, best", RandomBytes(40000, 1), smBestMethod, 0, 0},
      {"text, stored", Text(40000), smStored, 0, 0},
      {"random, deflated", RandomBytes(40000, 2), smDeflated, 8, 0},
      {"empty, deflated", {}, smDeflated, 8, 1},
      {"empty, stored", {}, smStored, 0, 0},
  };
  for (const std::string password : {"", "secret"}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (password.empty() ? "" : ", encrypted"));
      TFixture f;
      f.archive.CompressionMethodToUse = c.method;
      f.archive.Password = password;
      TMemoryStream source;
      if (!c.data.empty()) source.WriteBuffer(c.data.data(), static_cast<int32_t>(c.data.size()));
      TMemoryStream target;
      TAbZipItem item;
      item.SetFlags(0xFFFF);
      const uint32_t before = host::NowDosDateTime();
      CompressStreamToItem(f.archive, item, target, source);
      const uint32_t after = host::NowDosDateTime();

      EXPECT_EQ(item.Method(), c.zip_method);
      EXPECT_EQ(item.VersionNeeded(), c.zip_method == 8 ? 20 : 10);
      EXPECT_EQ(item.MadeByVersion(), 20);
      EXPECT_EQ(item.Flags(), password.empty() ? 0 : 1);
      EXPECT_EQ(item.Checksum(), ZlibCrc(c.data));
      EXPECT_EQ(item.UnpackedSize(), static_cast<int32_t>(c.data.size()));
      EXPECT_EQ(item.PackedSize(), target.Size());
      EXPECT_EQ(item.InternalAttributes(), c.internal);
      EXPECT_EQ(item.Attributes(), 0u);
      const uint32_t stamp = (uint32_t{item.FileDate()} << 16) | item.FileTime();
      EXPECT_GE(stamp, before);
      EXPECT_LE(stamp, after);
      EXPECT_EQ(item.Decoder, nullptr);
      if (c.zip_method == 0) {
        EXPECT_EQ(item.PackedSize(), static_cast<int32_t>(c.data.size()) + (password.empty() ? 0 : 12));
      }
      EXPECT_TRUE(EntryHolds(item, target, c.data, password));
    }
  }
}

TEST(CompressItem, DeflatedFlagsCarryNoLevelBits) {
  for (TAbZipDeflationOption option : {doInvalid, doNormal, doMaximum, doFast, doSuperFast}) {
    TFixture f;
    f.archive.DeflationOption = option;
    const Bytes data = Text(20000);
    TMemoryStream source;
    source.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    TMemoryStream target;
    TAbZipItem item;
    CompressStreamToItem(f.archive, item, target, source);
    EXPECT_EQ(item.Method(), 8);
    EXPECT_EQ(item.Flags() & 0x0006, 0);
    EXPECT_TRUE(EntryHolds(item, target, data, ""));
  }
}

TEST(CompressItem, UnknownMethodChoiceIsRefused) {
  TFixture f;
  f.archive.CompressionMethodToUse = static_cast<TAbZipSupportedMethod>(3);
  TMemoryStream source, target;
  source.WriteBuffer("abc", 3);
  TAbZipItem item;
  EXPECT_THROW(CompressStreamToItem(f.archive, item, target, source), EAbZipUnsupported);
  EXPECT_EQ(item.Decoder, nullptr);
}

// The disk file's attributes, size and date-time go to the item; the current directory is the
// archive's base directory only while the file is opened.
TEST(CompressItem, FileEntryTakesTheFilesProperties) {
  TFixture f;
  std::filesystem::create_directories(f.dir / "sub");
  const Bytes data = Text(30000);
  {
    std::ofstream out(f.dir / "sub/data.txt", std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  const uint32_t stamp = host::EncodeDosDateTime({2001, 2, 3, 4, 5, 6});
  ASSERT_EQ(host::FileSetDate(f.dir / "sub/data.txt", stamp), 0);
  f.archive.SetBaseDirectory(f.dir.Path());
  const std::string cwd = host::GetCurrentDir();

  TAbZipItem item;
  item.DiskName = "sub\\data.txt";
  TMemoryStream target;
  CompressFileToItem(f.archive, item, target);
  EXPECT_EQ(host::GetCurrentDir(), cwd);
  EXPECT_EQ(item.FileDate(), stamp >> 16);
  EXPECT_EQ(item.FileTime(), stamp & 0xFFFF);
  EXPECT_EQ(static_cast<int32_t>(item.Attributes()), host::FileGetAttr(f.dir / "sub/data.txt"));
  EXPECT_EQ(item.UnpackedSize(), 30000);
  EXPECT_EQ(item.Method(), 8);
  EXPECT_TRUE(EntryHolds(item, target, data, ""));

  item.DiskName = "sub\\missing.txt";
  EXPECT_THROW(CompressFileToItem(f.archive, item, target), EFOpenError);
  EXPECT_EQ(host::GetCurrentDir(), cwd);
}

// Info-ZIP UnZip, an independent reader, tests an archive whose entries these procedures made.
TEST(CompressItem, InfoZipUnzipAcceptsTheEntries) {
  if (std::system("unzip -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "Info-ZIP unzip is not installed";
  struct TEntry {
    std::string name;
    Bytes data;
    std::string password;
  };
  const std::vector<TEntry> entries = {
      {"text.txt", Text(70000), ""},
      {"noise.bin", RandomBytes(50000, 3), ""},
      {"secret.txt", Text(20000), "pw"},
      {"secret.bin", RandomBytes(9000, 4), "pw"},
      {"empty", {}, ""},
  };
  TFixture f;
  TMemoryStream zip;
  std::vector<std::unique_ptr<TAbZipItem>> items;
  for (const TEntry& e : entries) {
    f.archive.Password = e.password;
    TMemoryStream source, target;
    if (!e.data.empty()) source.WriteBuffer(e.data.data(), static_cast<int32_t>(e.data.size()));
    auto item = std::make_unique<TAbZipItem>();
    item->SetStoredName(e.name);
    CompressStreamToItem(f.archive, *item, target, source);
    item->SetLocalHeaderOffset(zip.Position());
    item->WriteLocalHeader(zip);
    if (target.Size() > 0) zip.WriteBuffer(target.Memory(), target.Size());
    items.push_back(std::move(item));
  }
  const int32_t directory = zip.Position();
  for (const auto& item : items) item->WriteDirectoryHeader(zip);
  TAbZipDirectoryFileFooter end;
  end.EntriesOnDisk = end.TotalEntries = static_cast<uint16_t>(items.size());
  end.DirectorySize = zip.Position() - directory;
  end.DirectoryOffset = directory;
  end.WriteTo(zip);
  const std::string path = f.dir / "made.zip";
  zip.SaveToFile(path);

  EXPECT_EQ(std::system(("unzip -tqq -P pw '" + path + "' >/dev/null 2>&1").c_str()), 0);
  // A wrong password must make it fail, or the test above proves nothing about encryption.
  EXPECT_NE(std::system(("unzip -tqq -P px '" + path + "' >/dev/null 2>&1").c_str()), 0);
}

}  // namespace
}  // namespace zipkit
