// CRC-32 of ZIP (ISO 3309 / IEEE 802.3, reflected polynomial 0xEDB88320).
// Neither function inverts: the CRC-32 of some data starts from 0xFFFFFFFF and the caller
// complements the final value.
#pragma once

#include <cstdint>

namespace zipkit {

// table[i] is the CRC of the byte i; the byte-at-a-time step and the key schedule of the
// traditional encryption use it directly.
extern const uint32_t kCrc32Table[256];

// Feeds one byte.
inline uint32_t Crc32Step(uint8_t Byte, uint32_t CRC) {
  return kCrc32Table[(CRC ^ Byte) & 0xFF] ^ (CRC >> 8);
}

// Feeds Count bytes of Buffer into the running CRC (0 leaves it unchanged).
void UpdateCrc32(uint32_t& CRC, const void* Buffer, uint16_t Count);
// The same for any count up to 2 GiB, so callers need not cut their data into 64 KB pieces;
// a negative count leaves the CRC unchanged.
void UpdateCrc32(uint32_t& CRC, const void* Buffer, int32_t Count);

// The bulk update behind both: returns the running CRC after Length bytes.
uint32_t Crc32Update(uint32_t CRC, const uint8_t* Data, size_t Length);

}  // namespace zipkit
