#include "zip/zip_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "host/exceptions.h"
#include "support/errors.h"
#include "zip/test_zip_builder.h"

namespace zipkit {
namespace {

using testing::CentralHeader;
using testing::EndFields;
using testing::LocalHeader;
using testing::ZipEntry;

TMemoryStream StreamOf(const std::string& bytes) {
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  s.SetPosition(0);
  return s;
}

std::string BytesOf(TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

const std::string kSig("PK\x05\x06", 4);

TEST(ZipRecords, DirectoryHeaderReadsEveryField) {
  ZipEntry e;
  e.name = "dir/a.txt";
  e.extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
  e.comment = "note";
  e.flags = 0x0809;
  e.method = 8;
  e.crc = 0xCBF43926;
  e.data = "0123456789";
  e.disk = 3;
  e.external = 0x81A40000;
  TMemoryStream s = StreamOf(CentralHeader(e, 0x12345678) + "tail");
  TAbZipDirectoryFileHeader h;
  h.ReadFrom(s);
  EXPECT_TRUE(h.HasValidSignature());
  EXPECT_EQ(s.Position(), 46 + 9 + 9 + 4);
  EXPECT_EQ(h.VersionMadeBy, 0x0314);
  EXPECT_EQ(h.VersionNeededToExtract, 20);
  EXPECT_EQ(h.GeneralPurposeBitFlag, 0x0809);
  EXPECT_EQ(h.Method(), 8);
  EXPECT_TRUE(h.IsEncrypted());
  EXPECT_EQ(h.LastModFileTime, e.time);
  EXPECT_EQ(h.LastModFileDate, e.date);
  EXPECT_EQ(h.CRC32, 0xCBF43926u);
  EXPECT_EQ(h.CompressedSize, 10);
  EXPECT_EQ(h.UncompressedSize, 10);
  EXPECT_EQ(h.FileName, "dir/a.txt");
  EXPECT_EQ(h.ExtraField, e.extra);
  EXPECT_EQ(h.FileComment, "note");
  EXPECT_EQ(h.DiskNumberStart, 3);
  EXPECT_EQ(h.ExternalFileAttributes, 0x81A40000u);
  EXPECT_EQ(h.RelativeOffset, 0x12345678);
}

TEST(ZipRecords, EmptyDirectoryHeaderIs46Bytes) {
  ZipEntry e;
  TMemoryStream s = StreamOf(CentralHeader(e, 0) + "PK\x01\x02");
  TAbZipDirectoryFileHeader h;
  h.ReadFrom(s);
  EXPECT_EQ(s.Position(), 46);
  EXPECT_TRUE(h.FileName.empty());
  EXPECT_TRUE(h.ExtraField.empty());
  EXPECT_TRUE(h.FileComment.empty());
}

TEST(ZipRecords, WrongSignatureIsSeenAfterTheVariableParts) {
  ZipEntry e;
  e.name = "name.txt";
  e.extra = "xyz";
  std::string bytes = LocalHeader(e) + "data";
  bytes[2] = 0x01;  // a central directory signature where a local header belongs
  TMemoryStream s = StreamOf(bytes);
  TAbZipLocalFileHeader h;
  EXPECT_THROW(h.ReadFrom(s), EAbZipInvalid);
  EXPECT_EQ(s.Position(), 30 + 8 + 3);
  EXPECT_EQ(h.FileName, "name.txt");
  EXPECT_FALSE(h.HasValidSignature());
}

TEST(ZipRecords, RecordsCutShortRaiseReadError) {
  ZipEntry e;
  e.name = "a-name";
  e.extra = "extra";
  e.comment = "comment";
  EndFields end;
  end.comment = "archive comment";
  const std::string local = LocalHeader(e), central = CentralHeader(e, 0),
                    footer = testing::EndRecord(end);
  struct Case {
    const char* what;
    std::string bytes;
    int kind;  // 0 local, 1 central, 2 end
  };
  const Case cases[] = {
      {"local fixed part", local.substr(0, 29), 0},
      {"local name", local.substr(0, 33), 0},
      {"local extra", local.substr(0, local.size() - 1), 0},
      {"central fixed part", central.substr(0, 45), 1},
      {"central comment", central.substr(0, central.size() - 1), 1},
      {"end fixed part", footer.substr(0, 21), 2},
      {"end comment", footer.substr(0, footer.size() - 1), 2},
      {"nothing", "", 1},
  };
  for (const Case& c : cases) {
    TMemoryStream s = StreamOf(c.bytes);
    TAbZipLocalFileHeader l;
    TAbZipDirectoryFileHeader d;
    TAbZipDirectoryFileFooter f;
    auto read = [&] {
      if (c.kind == 0)
        l.ReadFrom(s);
      else if (c.kind == 1)
        d.ReadFrom(s);
      else
        f.ReadFrom(s);
    };
    EXPECT_THROW(read(), EReadError) << c.what;
  }
}

TEST(ZipRecords, WritingWhatWasReadReproducesTheBytes) {
  ZipEntry e;
  e.name = "DIR/SUB/A.TXT";
  e.extra = std::string("\x0A\x00\x04\x00\xAA\xBB\xCC\xDD", 8);
  e.comment = "c";
  e.flags = 0x0006;
  e.method = 6;
  e.data = "abc";
  EndFields end;
  end.disk = 2;
  end.start_disk = 1;
  end.entries_on_disk = 7;
  end.total = 9;
  end.size = 0x1234;
  end.offset = 0xFFFFFFF0;
  end.comment = "zip comment";
  const std::string local = LocalHeader(e), central = CentralHeader(e, 77),
                    footer = testing::EndRecord(end);

  TMemoryStream in = StreamOf(local + central + footer), out;
  TAbZipLocalFileHeader l;
  TAbZipDirectoryFileHeader d;
  TAbZipDirectoryFileFooter f;
  l.ReadFrom(in);
  d.ReadFrom(in);
  f.ReadFrom(in);
  l.WriteTo(out);
  d.WriteTo(out);
  f.WriteTo(out);
  EXPECT_EQ(BytesOf(out), local + central + footer);
  EXPECT_EQ(f.DirectoryOffset, -16);  // 2 GiB and above read as negative
}

TEST(ZipRecords, DataDescriptorLayout) {
  TMemoryStream out;
  TAbZipDataDescriptor(0x11223344, 5, 7).WriteTo(out);
  EXPECT_EQ(BytesOf(out), testing::Le32(0x11223344) + testing::Le32(5) + testing::Le32(7));
}

TEST(ZipRecords, MethodIsMaskedAndImplodeSettingsFollowTheFlags) {
  TAbZipLocalFileHeader h;
  h.SetMethod(200);
  EXPECT_EQ(h.CompressionMethod, 72);
  const struct {
    uint8_t method;
    uint16_t flags;
    uint8_t dictionary, trees;
  } cases[] = {{6, 0x0006, 2, 3},
               {6, 0x0000, 1, 2},
               {6, 0x0002, 2, 2},
               {8, 0x0006, 0, 0},
               {0, 0x0006, 0, 0}};
  for (const auto& c : cases) {
    h.SetMethod(c.method);
    h.GeneralPurposeBitFlag = c.flags;
    EXPECT_EQ(h.ImplodeDictionary(), c.dictionary) << int(c.method) << " " << c.flags;
    EXPECT_EQ(h.ImplodeTrees(), c.trees) << int(c.method) << " " << c.flags;
  }
}

TEST(ZipRecords, TextSettersStopAtTheFirstZeroByte) {
  TAbZipLocalFileHeader h;
  h.SetFileName(std::string("abc\0def", 7));
  EXPECT_EQ(h.FileName, "abc");
  EXPECT_EQ(h.FileNameLength, 3);
  h.SetExtraField("");
  EXPECT_EQ(h.ExtraFieldLength, 0);
}

// ---- LocateEndRecord ----

// The search step by step: windows of 28 bytes (first) and 32 bytes, stepping back 28 bytes,
// the last window clamped at the start of the stream.
int32_t ReferenceLocate(const std::string& s) {
  const int32_t size = static_cast<int32_t>(s.size());
  for (int32_t k = 1;; ++k) {
    const int64_t start = static_cast<int64_t>(size) - 28 * k;
    const int64_t end = std::min<int64_t>(size, start + (k == 1 ? 28 : 32));
    const int64_t from = std::max<int64_t>(0, start);
    for (int64_t p = from; p + 4 <= end; ++p)
      if (s.compare(static_cast<size_t>(p), 4, kSig) == 0) return static_cast<int32_t>(p);
    if (start <= 0) return -1;
  }
}

int32_t Locate(const std::string& bytes) {
  TMemoryStream s = StreamOf(bytes);
  const int32_t at = LocateEndRecord(s);
  if (at >= 0) {
    EXPECT_EQ(s.Position(), at) << "stream stands on the record";
  }
  return at;
}

TEST(LocateEndRecord, Cases) {
  EndFields empty;
  EndFields commented;
  commented.comment = std::string(100, 'c');
  const std::string archive = testing::BuildZip({{"a.txt", "hello"}});
  const struct {
    const char* what;
    std::string bytes;
    int32_t expected;
  } cases[] = {
      {"nothing", "", -1},
      {"three bytes", "PK\x05", -1},
      {"no signature", std::string(5000, 'x'), -1},
      {"record at the end, found in the first window at 6", archive,
       static_cast<int32_t>(archive.size()) - 22},
      {"empty archive: record at offset 0", testing::EndRecord(empty), 0},
      {"empty archive with a comment", testing::EndRecord(commented), 0},
      {"lone signature at offset 0", kSig, 0},
      {"comment hides the true record", testing::BuildZip({{"a.txt", "hello"}}, "xx" + kSig + "yy"),
       static_cast<int32_t>(archive.size()) + 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Locate(c.bytes), c.expected) << c.what;
    EXPECT_EQ(ReferenceLocate(c.bytes), c.expected) << c.what;
  }
}

TEST(LocateEndRecord, EarliestSignatureOfTheStepWins) {
  // Both signatures lie in the second step [S-56, S-29]: the earlier one wins although the
  // other is nearer the end.
  std::string s(200, '.');
  s.replace(200 - 56 + 2, 4, kSig);
  s.replace(200 - 56 + 20, 4, kSig);
  EXPECT_EQ(Locate(s), 200 - 56 + 2);
  // Moved into the first step, the later one wins.
  s.replace(200 - 28, 4, kSig);
  EXPECT_EQ(Locate(s), 200 - 28);
}

TEST(LocateEndRecord, SignatureAcrossTheBorderOfTwoReadBlocks) {
  const int32_t size = (1 << 20) + 100;
  for (int32_t shift : {-3, -2, -1, 0}) {
    std::string s(static_cast<size_t>(size), '\0');
    const int32_t at = size - (1 << 20) + shift;
    s.replace(static_cast<size_t>(at), 4, kSig);
    EXPECT_EQ(Locate(s), at) << shift;
  }
}

TEST(LocateEndRecord, AgreesWithTheStepwiseSearch) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 2000; ++round) {
    const size_t size = rng() % 400;
    std::string s(size, '\0');
    for (char& c : s) c = "PK\x05\x06x"[rng() % 5];  // many near-signatures
    const int signatures = static_cast<int>(rng() % 4);
    for (int i = 0; i < signatures && size >= 4; ++i) s.replace(rng() % (size - 3), 4, kSig);
    ASSERT_EQ(Locate(s), ReferenceLocate(s)) << "round " << round << " size " << size;
  }
}

TEST(LocateEndRecord, NeverRaisesOnAFailingStream) {
  // A stream whose reads deliver nothing finds nothing.
  class TDeadStream : public TStream {
   public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t) override { return 0; }
    int32_t Seek(int32_t Offset, uint16_t Origin) override {
      return Origin == soFromEnd ? 4096 : Offset;
    }
  } dead;
  EXPECT_EQ(LocateEndRecord(dead), -1);
}

}  // namespace
}  // namespace zipkit
