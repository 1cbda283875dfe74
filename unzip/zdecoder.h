// TAbZDecoder: the traditional ZIP stream cipher (three 32-bit keys). For extraction it checks
// the 12-byte encryption header in front of an item's data, asking for another password when
// the check fails, and decrypts the data block by block; for writing it builds the header and
// encrypts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/object.h"
#include "host/stream.h"

namespace zipkit {

class TAbZDecoder : public TObject {
 public:
  static constexpr int32_t kHeaderSize = 12;

  // Asked for another password after a failed check (Sender is the decoder); the answer
  // replaces Password. The same type as the archive's OnNeedPassword.
  using TNeedPasswordHook = std::function<void(TObject* Sender, std::string& NewPassword)>;

  TAbZDecoder(const std::string& Password, std::unique_ptr<TStream>& StreamSlot,
              uint32_t CheckValue, bool CheckByteOnly);

  void ResetKeys();
  void MixKeys(uint8_t b);
  uint8_t KeyByte() const;
  void DecryptBuffer(uint8_t* Buffer, int32_t Count);
  void EncryptBuffer(uint8_t* Buffer, int32_t Count);

  // Reads the header at the stream's position and checks it, trying up to Retries passwords.
  // Returns true with the stream right after the header, or raises EAbZipInvalidPassword.
  bool CheckHeader();
  // Builds a header for CheckValue and writes it at the stream's position.
  void MakeHeader();

  // Calls NeedPassword; without one raises EAbZipInvalidPassword.
  virtual void AskPassword(std::string& NewPassword);

  // Entries written with a data descriptor (flag bit 3) by streaming encoders carry the high
  // byte of the file time in the check byte instead of the CRC's; the driver sets this for them
  // so that either is accepted.
  void SetTimeCheck(uint16_t FileTime) {
    TimeCheck = FileTime;
    HasTimeCheck = true;
  }

  std::array<uint32_t, 3> Keys{};
  std::array<uint8_t, kHeaderSize> HeaderBytes{};
  uint32_t CheckValue;
  bool CheckByteOnly;
  TNeedPasswordHook NeedPassword;
  std::string Password;
  uint8_t Retries = 3;
  std::unique_ptr<TStream>& StreamSlot;

 private:
  bool HeaderMatches() const;

  uint16_t TimeCheck = 0;
  bool HasTimeCheck = false;
};

}  // namespace zipkit
