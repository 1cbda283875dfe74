#include "unzip/zdecoder.h"

#include <random>

#include "support/crc32.h"
#include "support/errors.h"

namespace zipkit {

namespace {

constexpr uint32_t kKey0 = 0x12345678;
constexpr uint32_t kKey1 = 0x23456789;
constexpr uint32_t kKey2 = 0x34567890;
constexpr uint32_t kMultiplier = 134775813;  // 0x08088405

}  // namespace

TAbZDecoder::TAbZDecoder(const std::string& Password, std::unique_ptr<TStream>& StreamSlot,
                         uint32_t CheckValue, bool CheckByteOnly)
    : CheckValue(CheckValue), CheckByteOnly(CheckByteOnly), Password(Password),
      StreamSlot(StreamSlot) {}

void TAbZDecoder::ResetKeys() {
  Keys = {kKey0, kKey1, kKey2};
  for (const char c : Password) MixKeys(static_cast<uint8_t>(c));
}

void TAbZDecoder::MixKeys(uint8_t b) {
  Keys[0] = Crc32Step(b, Keys[0]);
  Keys[1] = (Keys[1] + (Keys[0] & 0xFF)) * kMultiplier + 1;
  Keys[2] = Crc32Step(static_cast<uint8_t>(Keys[1] >> 24), Keys[2]);
}

uint8_t TAbZDecoder::KeyByte() const {
  const uint32_t t = (Keys[2] & 0xFFFF) | 2;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

void TAbZDecoder::DecryptBuffer(uint8_t* Buffer, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    const uint8_t p = Buffer[i] ^ KeyByte();
    Buffer[i] = p;
    MixKeys(p);
  }
}

void TAbZDecoder::EncryptBuffer(uint8_t* Buffer, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    const uint8_t k = KeyByte();
    MixKeys(Buffer[i]);
    Buffer[i] ^= k;
  }
}

bool TAbZDecoder::HeaderMatches() const {
  const auto crc_hi = static_cast<uint8_t>(CheckValue >> 24);
  const auto crc_lo = static_cast<uint8_t>(CheckValue >> 16);
  const auto time_hi = static_cast<uint8_t>(TimeCheck >> 8);
  const auto time_lo = static_cast<uint8_t>(TimeCheck);
  if (CheckByteOnly)
    return HeaderBytes[11] == crc_hi || (HasTimeCheck && HeaderBytes[11] == time_hi);
  return (HeaderBytes[11] == crc_hi && HeaderBytes[10] == crc_lo) ||
         (HasTimeCheck && HeaderBytes[11] == time_hi && HeaderBytes[10] == time_lo);
}

bool TAbZDecoder::CheckHeader() {
  TStream& in = *StreamSlot;
  const int32_t start = in.Position();
  bool ok = false;
  for (int attempt = 0; !ok && attempt < Retries; ++attempt) {
    ResetKeys();
    in.Seek(start, soFromBeginning);
    // A short header is checked as far as it was read; the rest of the buffer stays as it was.
    in.Read(HeaderBytes.data(), kHeaderSize);
    DecryptBuffer(HeaderBytes.data(), kHeaderSize);
    ok = HeaderMatches();
    if (!ok) AskPassword(Password);
  }
  if (!ok) throw EAbZipInvalidPassword();
  return true;
}

void TAbZDecoder::MakeHeader() {
  static thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> byte(0, 255);
  ResetKeys();
  for (int i = 0; i < 10; ++i) {
    const auto r = static_cast<uint8_t>(byte(generator));
    const uint8_t k = KeyByte();
    MixKeys(r);
    HeaderBytes[i] = r ^ k;
  }
  ResetKeys();
  HeaderBytes[10] = static_cast<uint8_t>(CheckValue >> 16);
  HeaderBytes[11] = static_cast<uint8_t>(CheckValue >> 24);
  EncryptBuffer(HeaderBytes.data(), kHeaderSize);
  StreamSlot->Write(HeaderBytes.data(), kHeaderSize);
}

void TAbZDecoder::AskPassword(std::string& NewPassword) {
  if (!NeedPassword) throw EAbZipInvalidPassword();
  NeedPassword(this, NewPassword);
}

}  // namespace zipkit
