// CRC-32 of ZIP (ISO 3309 / IEEE 802.3, reflected polynomial 0xEDB88320).
// Neither function inverts: the CRC-32 of some data starts from 0xFFFFFFFF and the caller
// complements the final value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zipkit {

// kCrc32Table[i] is the CRC of the byte i, computed at compile time; the byte-at-a-time step
// (and through it the keys of the traditional encryption) use it directly.
constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
inline constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();

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
