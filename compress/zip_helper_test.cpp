#include "compress/zip_helper.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/test_temp_dir.h"
#include "support/errors.h"
#include "support/virtual_memory_stream.h"
#include "unzip/zdecoder.h"

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
  const std::string line = "The helper deflates an entry, or stores it when that is smaller.\n";
  Bytes b;
  for (size_t i = 0; b.size() < n; ++i) {
    b.insert(b.end(), line.begin(), line.end());
    b.push_back(static_cast<uint8_t>('a' + i % 26));
  }
  b.resize(n);
  return b;
}

TMemoryStream StreamOf(const Bytes& data) {
  TMemoryStream s;
  if (!data.empty()) s.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
  s.SetPosition(0);
  return s;
}

Bytes Contents(TMemoryStream& s) { return Bytes(s.Memory(), s.Memory() + s.Size()); }

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

TEST(ZipHelper, MethodsAndTheirResults) {
  struct TCase {
    const char* name;
    Bytes data;
    uint8_t method;
    uint8_t final_method;
    bool text;
  };
  const TCase cases[] = {
      {"empty, stored", {}, 0, 0, false},
      {"empty, deflated", {}, 8, 8, true},
      {"empty, best", {}, 11, 0, true},
      {"text, stored", Text(20000), 0, 0, false},
      {"text, deflated", Text(20000), 8, 8, true},
      {"text, best", Text(20000), 11, 8, true},
      {"random, deflated", RandomBytes(50000, 1), 8, 8, false},
      {"random, best", RandomBytes(50000, 2), 11, 0, false},
      {"one byte, best", {0x41}, 11, 0, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream source = StreamOf(c.data);
    TMemoryStream target;
    TAbZipHelper helper(source, nullptr, target);
    EXPECT_EQ(helper.InputSize, static_cast<int32_t>(c.data.size()));
    helper.Method = c.method;
    helper.Compress();

    EXPECT_EQ(helper.Method, c.final_method);
    EXPECT_EQ(helper.CRC32, ZlibCrc(c.data));
    EXPECT_EQ(helper.InputSize, static_cast<int32_t>(c.data.size()));
    EXPECT_EQ(helper.CompressedSize, target.Size());
    const Bytes written = Contents(target);
    if (c.final_method == 0) {
      EXPECT_TRUE(written == c.data);
    } else {
      EXPECT_TRUE(Inflates(written, c.data));
      EXPECT_EQ(helper.IsText(), c.text);
    }
  }
}

TEST(ZipHelper, EmptySourceDeflatesToTwoBytes) {
  TMemoryStream source, target;
  TAbZipHelper helper(source, nullptr, target);
  helper.Compress();
  EXPECT_EQ(helper.CompressedSize, 2);
  EXPECT_EQ(helper.CRC32, 0u);
}

TEST(ZipHelper, UnsupportedMethodIsRefused) {
  for (uint8_t method : {1, 6, 9, 12, 255}) {
    TMemoryStream source = StreamOf(Text(100));
    TMemoryStream target;
    TAbZipHelper helper(source, nullptr, target);
    helper.Method = method;
    try {
      helper.Compress();
      FAIL() << "method " << int{method} << " accepted";
    } catch (const EAbZipUnsupported& e) {
      EXPECT_STREQ(e.what(), "Cannot insert file - unsupported compression method");
    }
    EXPECT_EQ(target.Size(), 0);
  }
}

TEST(ZipHelper, DeflationOptionsPickTheLevel) {
  const Bytes data = Text(60000);
  auto deflate_with = [&data](TAbZipDeflationOption option) {
    TMemoryStream source = StreamOf(data);
    TMemoryStream target;
    TAbZipHelper helper(source, nullptr, target);
    helper.DeflationOption = option;
    helper.Compress();
    EXPECT_TRUE(Inflates(Contents(target), data));
    return Contents(target);
  };
  const Bytes normal = deflate_with(doNormal);
  EXPECT_EQ(deflate_with(doInvalid), normal);
  EXPECT_EQ(deflate_with(static_cast<TAbZipDeflationOption>(9)), normal);
  EXPECT_EQ(deflate_with(doNormal), DeflateBuffer(data.data(), data.size(), 5));
  EXPECT_EQ(deflate_with(doMaximum), DeflateBuffer(data.data(), data.size(), 9));
  EXPECT_EQ(deflate_with(doFast), DeflateBuffer(data.data(), data.size(), 3));
  EXPECT_EQ(deflate_with(doSuperFast), DeflateBuffer(data.data(), data.size(), 1));
}

TEST(ZipHelper, ReportsProgressAndStopsWhenAsked) {
  const Bytes data = RandomBytes(100000, 3);
  for (uint8_t method : {0, 8, 11}) {
    SCOPED_TRACE("method " + std::to_string(method));
    {
      TMemoryStream source = StreamOf(data);
      TMemoryStream target;
      TAbZipHelper helper(source, nullptr, target);
      helper.Method = method;
      std::vector<int> seen;
      helper.OnProgress = [&seen](uint8_t percent, bool&) { seen.push_back(percent); };
      helper.Compress();
      ASSERT_FALSE(seen.empty());
      EXPECT_EQ(seen.back(), 100);
      // Each call brings a new percentage, rising (the fall-back copy of method 11 starts over).
      for (size_t i = 1; i < seen.size(); ++i) EXPECT_NE(seen[i], seen[i - 1]);
      if (method != 11) {
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
      }
    }
    {
      TMemoryStream source = StreamOf(data);
      TMemoryStream target;
      TAbZipHelper helper(source, nullptr, target);
      helper.Method = method;
      helper.OnProgress = [](uint8_t percent, bool& abort) { abort = percent >= 30; };
      EXPECT_THROW(helper.Compress(), EAbUserAbort);
      EXPECT_LT(target.Size(), static_cast<int32_t>(data.size()));
    }
  }
}

// A target that takes at most `room` bytes, or raises once it is full.
class TSmallStream : public TMemoryStream {
 public:
  TSmallStream(int32_t room, bool raise) : room_(room), raise_(raise) {}
  int32_t Write(const void* Buffer, int32_t Count) override {
    const int32_t n = std::min(Count, room_ - Position());
    if (n < Count && raise_) throw EWriteError();
    return TMemoryStream::Write(Buffer, std::max(n, 0));
  }

 private:
  int32_t room_;
  bool raise_;
};

TEST(ZipHelper, FullTargetIsStreamFull) {
  for (uint8_t method : {0, 8, 11}) {
    for (bool raise : {false, true}) {
      SCOPED_TRACE("method " + std::to_string(method) + (raise ? ", raising" : ", short"));
      TMemoryStream source = StreamOf(RandomBytes(70000, 4));
      TSmallStream target(30000, raise);
      TAbZipHelper helper(source, nullptr, target);
      helper.Method = method;
      try {
        helper.Compress();
        FAIL() << "a full target went unnoticed";
      } catch (const EAbZipStreamFull& e) {
        EXPECT_STREQ(e.what(), "Stream write error");
      }
    }
  }
}

// The data is the source from its beginning, wherever the source stands, up to InputSize.
TEST(ZipHelper, TakesInputSizeBytesFromTheSourceStart) {
  const Bytes data = Text(30000);
  for (uint8_t method : {0, 8, 11}) {
    SCOPED_TRACE("method " + std::to_string(method));
    TMemoryStream source = StreamOf(data);
    source.SetPosition(1000);
    TMemoryStream target;
    TAbZipHelper helper(source, nullptr, target);
    helper.Method = method;
    helper.InputSize = 20000;
    helper.Compress();
    const Bytes part(data.begin(), data.begin() + 20000);
    EXPECT_EQ(helper.InputSize, 20000);
    EXPECT_EQ(helper.CRC32, ZlibCrc(part));
    EXPECT_TRUE(helper.Method == 0 ? Contents(target) == part : Inflates(Contents(target), part));
  }
}

TEST(ZipHelper, SourceEndingEarlyGivesTheCountItGave) {
  const Bytes data = Text(5000);
  for (uint8_t method : {0, 8, 11}) {
    SCOPED_TRACE("method " + std::to_string(method));
    TMemoryStream source = StreamOf(data);
    TMemoryStream target;
    TAbZipHelper helper(source, nullptr, target);
    helper.Method = method;
    helper.InputSize = 9000;
    helper.Compress();
    EXPECT_EQ(helper.InputSize, 5000);
    EXPECT_EQ(helper.CRC32, ZlibCrc(data));
  }
}

// The fall-back to storing rewrites the target from where the entry began and cuts off what
// deflate left beyond.
TEST(ZipHelper, StoringInsteadOverwritesTheDeflatedData) {
  const Bytes data = RandomBytes(40000, 5);
  TMemoryStream source = StreamOf(data);
  TMemoryStream target;
  target.WriteBuffer("HEAD", 4);
  TAbZipHelper helper(source, nullptr, target);
  helper.Method = TAbZipHelper::kBestMethod;
  helper.Compress();
  EXPECT_EQ(helper.Method, 0);
  Bytes expected = {'H', 'E', 'A', 'D'};
  expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_TRUE(Contents(target) == expected);
  EXPECT_EQ(target.Position(), target.Size());
}

// Encrypted output decrypts with the same password, also when method 11 falls back to storing
// and writes a fresh header over the first.
TEST(ZipHelper, EncryptsWhatItWrites) {
  struct TCase {
    const char* name;
    Bytes data;
    uint8_t method;
    uint8_t final_method;
  };
  const TCase cases[] = {
      {"text, stored", Text(30000), 0, 0},
      {"text, deflated", Text(30000), 8, 8},
      {"random, deflated", RandomBytes(30000, 7), 8, 8},
      {"text, best", Text(30000), 11, 8},
      {"random, best", RandomBytes(30000, 8), 11, 0},
      {"empty, best", {}, 11, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t crc = ZlibCrc(c.data);
    TMemoryStream source = StreamOf(c.data);
    std::unique_ptr<TStream> slot = std::make_unique<TMemoryStream>();
    TAbZDecoder cipher("pass word", slot, crc, false);
    cipher.MakeHeader();
    TAbZipHelper helper(source, &cipher, *slot);
    helper.Method = c.method;
    helper.Compress();
    EXPECT_EQ(helper.Method, c.final_method);
    EXPECT_EQ(helper.CRC32, crc);
    ASSERT_EQ(slot->Size(), TAbZDecoder::kHeaderSize + helper.CompressedSize);

    slot->Seek(0, soFromBeginning);
    TAbZDecoder reader("pass word", slot, crc, false);
    ASSERT_TRUE(reader.CheckHeader());
    Bytes body(static_cast<size_t>(helper.CompressedSize));
    slot->ReadBuffer(body.data(), helper.CompressedSize);
    reader.DecryptBuffer(body.data(), helper.CompressedSize);
    EXPECT_TRUE(c.final_method == 0 ? body == c.data : Inflates(body, c.data));
  }
}

// The archive writer compresses each entry into a virtual memory stream.
TEST(ZipHelper, IntoAVirtualMemoryStreamThatSpills) {
  testing::TempDir dir;
  Bytes data = Text(200000);
  const Bytes noise = RandomBytes(100000, 6);
  data.insert(data.end(), noise.begin(), noise.end());
  TMemoryStream source = StreamOf(data);
  TAbVirtualMemoryStream target;
  target.SwapFolder = dir.Path();
  target.SetMemoryLimit(8192);
  TAbZipHelper helper(source, nullptr, target);
  helper.Compress();
  EXPECT_FALSE(target.SwapFileName().empty());
  Bytes packed(static_cast<size_t>(target.Size()));
  target.Seek(0, soFromBeginning);
  ASSERT_EQ(target.Read(packed.data(), target.Size()), target.Size());
  EXPECT_EQ(helper.CompressedSize, target.Size());
  EXPECT_TRUE(Inflates(packed, data));
}

}  // namespace
}  // namespace zipkit
