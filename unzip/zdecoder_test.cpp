#include "unzip/zdecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/errors.h"

namespace zipkit {
namespace {

class CountingStream : public TMemoryStream {
 public:
  int32_t Read(void* Buffer, int32_t Count) override {
    ++reads;
    return TMemoryStream::Read(Buffer, Count);
  }
  int reads = 0;
};

std::unique_ptr<TStream> StreamOf(const std::vector<uint8_t>& bytes) {
  auto s = std::make_unique<CountingStream>();
  s->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  s->Seek(0, soFromBeginning);
  return s;
}

int ReadsOf(std::unique_ptr<TStream>& slot) { return static_cast<CountingStream&>(*slot).reads; }

// "hello" stored and encrypted with the password "pw" by Info-ZIP zip, which streams (flag
// bit 3) and so puts the file time 0x61D8 into the check bytes. CRC-32 0x3610A686.
const std::vector<uint8_t> kInfoZipHello = {0x5e, 0x5e, 0x1f, 0x34, 0xbd, 0x5c, 0xfe, 0x4f, 0xa3,
                                            0xbc, 0x93, 0x23, 0x88, 0xba, 0x0e, 0x40, 0x95};
constexpr uint32_t kHelloCrc = 0x3610A686;
constexpr uint16_t kHelloTime = 0x61D8;

TEST(ZDecoder, DecryptsAnotherToolsEntry) {
  for (bool byte_only : {true, false}) {
    auto slot = StreamOf(kInfoZipHello);
    TAbZDecoder d("pw", slot, kHelloCrc, byte_only);
    d.SetTimeCheck(kHelloTime);
    EXPECT_TRUE(d.CheckHeader());
    EXPECT_EQ(slot->Position(), 12);
    uint8_t data[5];
    slot->Read(data, 5);
    d.DecryptBuffer(data, 5);
    EXPECT_EQ(std::string(data, data + 5), "hello");
  }
}

TEST(ZDecoder, TimeCheckByteOnlyWhenAsked) {
  auto slot = StreamOf(kInfoZipHello);
  TAbZDecoder d("pw", slot, kHelloCrc, true);
  EXPECT_THROW(d.CheckHeader(), EAbZipInvalidPassword);  // 0x61 is not the CRC's 0x36
  auto slot2 = StreamOf(kInfoZipHello);
  TAbZDecoder wrong("pW", slot2, kHelloCrc, false);
  wrong.SetTimeCheck(kHelloTime);
  EXPECT_THROW(wrong.CheckHeader(), EAbZipInvalidPassword);
}

TEST(ZDecoder, EmptyPasswordLeavesInitialKeys) {
  std::unique_ptr<TStream> slot;
  TAbZDecoder d("", slot, 0, true);
  d.ResetKeys();
  EXPECT_EQ(d.Keys[0], 0x12345678u);
  EXPECT_EQ(d.Keys[1], 0x23456789u);
  EXPECT_EQ(d.Keys[2], 0x34567890u);
}

// An encrypted stream built by MakeHeader followed by the encrypted data.
std::vector<uint8_t> Encrypt(const std::string& password, uint32_t check,
                             const std::string& plain) {
  std::unique_ptr<TStream> out = std::make_unique<TMemoryStream>();
  TAbZDecoder e(password, out, check, true);
  e.MakeHeader();
  std::vector<uint8_t> data(plain.begin(), plain.end());
  e.EncryptBuffer(data.data(), static_cast<int32_t>(data.size()));
  out->Write(data.data(), static_cast<int32_t>(data.size()));
  auto& mem = static_cast<TMemoryStream&>(*out);
  return std::vector<uint8_t>(mem.Memory(), mem.Memory() + mem.Size());
}

TEST(ZDecoder, MadeHeaderPassesInBothModesAndDataRoundTrips) {
  const std::string plain = "The quick brown fox jumps over the lazy dog";
  const auto bytes = Encrypt("secret", 0xA1B2C3D4, plain);
  ASSERT_EQ(bytes.size(), plain.size() + 12);
  EXPECT_NE(std::string(bytes.begin() + 12, bytes.end()), plain);
  for (bool byte_only : {true, false}) {
    auto slot = StreamOf(bytes);
    TAbZDecoder d("secret", slot, 0xA1B2C3D4, byte_only);
    ASSERT_TRUE(d.CheckHeader());
    std::vector<uint8_t> data(bytes.begin() + 12, bytes.end());
    d.DecryptBuffer(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(std::string(data.begin(), data.end()), plain);
  }
}

TEST(ZDecoder, CheckComparesTheRightBytes) {
  const auto bytes = Encrypt("pw", 0xA1B2C3D4, "x");
  struct Case {
    uint32_t check;
    bool byte_only;
    bool passes;
  } cases[] = {
      {0xA1B2C3D4, true, true},
      {0xA1000000, true, true},    // byte 3 alone decides in one-byte mode
      {0x00B2C3D4, true, false},   // byte 2 matching does not help
      {0xA1B20000, false, true},
      {0xA1000000, false, false},  // two-byte mode also needs byte 2
  };
  for (const auto& c : cases) {
    auto slot = StreamOf(bytes);
    TAbZDecoder d("pw", slot, c.check, c.byte_only);
    if (c.passes) EXPECT_TRUE(d.CheckHeader()) << std::hex << c.check;
    else EXPECT_THROW(d.CheckHeader(), EAbZipInvalidPassword) << std::hex << c.check;
  }
}

TEST(ZDecoder, RetriesAndThePasswordHook) {
  const auto bytes = Encrypt("right", 0x5A000000, "data");
  struct Case {
    const char* name;
    std::string first;
    std::string answer;  // what the hook answers; empty: no hook
    uint8_t retries;
    bool passes;
    int calls, reads;
  } cases[] = {
      {"correct at once", "right", "wrong", 3, true, 0, 1},
      {"hook always wrong", "wrong", "wrong", 3, false, 3, 3},
      {"hook answers right", "wrong", "right", 3, true, 1, 2},
      {"no retries", "right", "right", 0, false, 0, 0},
      {"no hook", "wrong", "", 3, false, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto slot = StreamOf(bytes);
    TAbZDecoder d(c.first, slot, 0x5A000000, true);
    d.Retries = c.retries;
    int calls = 0;
    if (!c.answer.empty()) {
      d.NeedPassword = [&](TObject* sender, std::string& pw) {
        EXPECT_EQ(sender, &d);
        ++calls;
        pw = c.answer;
      };
    }
    if (c.passes) {
      EXPECT_TRUE(d.CheckHeader());
      EXPECT_EQ(slot->Position(), 12);
    } else {
      EXPECT_THROW(d.CheckHeader(), EAbZipInvalidPassword);
    }
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(ReadsOf(slot), c.reads);
  }
}

}  // namespace
}  // namespace zipkit
