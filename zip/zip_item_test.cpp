#include "zip/zip_item.h"

#include <gtest/gtest.h>

#include <string>

#include "host/host.h"
#include "support/errors.h"
#include "zip/test_zip_builder.h"

namespace zipkit {
namespace {

using testing::ZipEntry;

// An item loaded from the central directory record of Entry.
std::unique_ptr<TAbZipItem> Load(const ZipEntry& entry, uint32_t offset = 0) {
  const std::string bytes = testing::CentralHeader(entry, offset);
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  s.SetPosition(0);
  auto item = std::make_unique<TAbZipItem>();
  item->LoadFromDirectory(s);
  return item;
}

// Runs with the given ANSI code page and restores the host's default afterwards.
class CodePage {
 public:
  explicit CodePage(uint32_t page) : saved_(host::AnsiCodePage()) {
    EXPECT_TRUE(host::SetAnsiCodePage(page));
  }
  ~CodePage() { host::SetAnsiCodePage(saved_); }

 private:
  uint32_t saved_;
};

TEST(ZipItem, PresentsTheDirectoryRecord) {
  ZipEntry e;
  e.name = "DIR/SUB/A.TXT";
  e.data = "0123456789";
  e.crc = 0xCBF43926;
  e.flags = 0x0001;
  e.method = 8;
  e.disk = 2;
  e.external = 0x21;
  auto item = Load(e, 4096);
  EXPECT_EQ(item->StoredName(), "DIR/SUB/A.TXT");
  EXPECT_EQ(item->DiskName, "DIR\\SUB\\A.TXT");
  EXPECT_EQ(item->PendingAction, iaUnchanged);
  EXPECT_EQ(item->PackedSize(), 10);
  EXPECT_EQ(item->UnpackedSize(), 10);
  EXPECT_EQ(item->Checksum(), 0xCBF43926u);
  EXPECT_EQ(item->Attributes(), 0x21u);
  EXPECT_TRUE(item->Encrypted());
  EXPECT_EQ(item->FileDate(), e.date);
  EXPECT_EQ(item->FileTime(), e.time);
  EXPECT_EQ(item->Method(), 8);
  EXPECT_EQ(item->StartDisk(), 2);
  EXPECT_EQ(item->LocalHeaderOffset(), 4096);
  EXPECT_EQ(item->VersionNeeded(), 20);
  EXPECT_EQ(item->MadeByVersion(), 0x0314);
}

TEST(ZipItem, NamesAreConvertedFromTheirCodePage) {
  const struct {
    const char* what;
    std::string stored;
    uint16_t flags;
    uint32_t ansi;
    std::string presented;
  } cases[] = {
      {"OEM to UTF-8", "\x81.txt", 0, host::cpUtf8, "\xC3\xBC.txt"},
      {"OEM to CP1252", "\x81.txt", 0, host::cpAnsi1252, "\xFC.txt"},
      {"box drawing", "\xC9\xCD\xBB", 0, host::cpUtf8, "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97"},
      {"UTF-8 flagged stays UTF-8", "\xC3\xA9t\xC3\xA9", 0x0800, host::cpUtf8, "\xC3\xA9t\xC3\xA9"},
      {"UTF-8 flagged to CP1252", "\xC3\xA9t\xC3\xA9", 0x0800, host::cpAnsi1252, "\xE9t\xE9"},
      {"up to the zero byte", std::string("abc\0def", 7), 0, host::cpUtf8, "abc"},
      {"no name", "", 0, host::cpUtf8, ""},
  };
  for (const auto& c : cases) {
    CodePage page(c.ansi);
    ZipEntry e;
    e.name = c.stored;
    e.flags = c.flags;
    auto item = Load(e);
    EXPECT_EQ(item->StoredName(), c.presented) << c.what;
  }
}

TEST(ZipItem, SettingTheNameStoresItUnconverted) {
  CodePage page(host::cpAnsi1252);
  TAbZipItem item;
  item.SetStoredName("\xFC.txt");
  EXPECT_EQ(item.DirectoryRecord.FileName, "\xFC.txt");
  EXPECT_EQ(item.DirectoryRecord.FileNameLength, 5);
}

TEST(ZipItem, ExtraDataStopsAtTheFirstZeroByte) {
  ZipEntry e;
  e.name = "x";
  e.extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
  auto item = Load(e);
  EXPECT_EQ(item->ExtraData(), "\x55\x54\x05");
  TMemoryStream out;
  item->WriteLocalHeader(out);
  ASSERT_EQ(out.Size(), 30 + 1 + 3);
  EXPECT_EQ(out.Memory()[28], 3);  // extra field length
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()) + 31, 3), "\x55\x54\x05");
}

TEST(ZipItem, EncryptionFollowsTheFlagsOnly) {
  TAbZipItem item;
  item.SetEncrypted(true);
  EXPECT_FALSE(item.Encrypted());
  item.SetFlags(0x0001);
  EXPECT_TRUE(item.Encrypted());
}

TEST(ZipItem, LocalHeaderCarriesThePresentedNameAndTheProperties) {
  CodePage page(host::cpAnsi1252);
  ZipEntry e;
  e.name = "\x81.txt";  // OEM u with diaeresis
  e.data = "abcd";
  e.crc = 0x01020304;
  e.flags = 0x0008;
  e.method = 8;
  auto item = Load(e);
  TMemoryStream out;
  item->WriteLocalHeader(out);
  out.SetPosition(0);
  TAbZipLocalFileHeader h;
  h.ReadFrom(out);
  EXPECT_EQ(h.FileName, "\xFC.txt");  // the ANSI name, while the directory keeps the OEM bytes
  EXPECT_EQ(item->DirectoryRecord.FileName, "\x81.txt");
  EXPECT_EQ(h.GeneralPurposeBitFlag, 0x0008);
  EXPECT_EQ(h.Method(), 8);
  EXPECT_EQ(h.CRC32, 0x01020304u);
  EXPECT_EQ(h.CompressedSize, 4);
  EXPECT_EQ(h.UncompressedSize, 4);
  EXPECT_EQ(h.LastModFileDate, e.date);
  EXPECT_EQ(h.LastModFileTime, e.time);
  EXPECT_EQ(h.VersionNeededToExtract, 20);

  TMemoryStream dd;
  item->WriteDataDescriptor(dd);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dd.Memory()), 12),
            testing::Le32(0x01020304) + testing::Le32(4) + testing::Le32(4));
}

TEST(ZipItem, DirectoryHeaderIsWrittenAsRead) {
  ZipEntry e;
  e.name = "n";
  e.comment = "entry comment";
  e.extra = std::string("\x00\x01", 2);
  const std::string bytes = testing::CentralHeader(e, 99);
  auto item = Load(e, 99);
  TMemoryStream out;
  item->WriteDirectoryHeader(out);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), bytes.size()), bytes);
}

TEST(ZipItem, DamagedRecordRaisesAndLeavesTheItemIncomplete) {
  ZipEntry e;
  e.name = "n";
  std::string bytes = testing::CentralHeader(e, 0);
  bytes[3] = 0x06;
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  s.SetPosition(0);
  TAbZipItem item;
  EXPECT_THROW(item.LoadFromDirectory(s), EAbZipInvalid);
  EXPECT_TRUE(item.DiskName.empty());
}

}  // namespace
}  // namespace zipkit
