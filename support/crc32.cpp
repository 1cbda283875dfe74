// The bulk CRC-32. The portable path is slice-by-8: eight tables let one step consume eight
// bytes with independent lookups. Where the processor multiplies carry-less (crc32_clmul.cpp),
// long buffers go through that path instead; it is chosen once, at first use.
#include "support/crc32.h"

#include <cstring>

#include "support/crc32_clmul.h"

namespace zipkit {

namespace {

// kSlice[k][b] is the CRC of the byte b followed by k zero bytes.
struct SliceTables {
  uint32_t t[8][256];
};

constexpr SliceTables MakeSliceTables() {
  SliceTables s{};
  for (int b = 0; b < 256; ++b) s.t[0][b] = kCrc32Table[b];
  for (int k = 1; k < 8; ++k)
    for (int b = 0; b < 256; ++b) s.t[k][b] = (s.t[k - 1][b] >> 8) ^ kCrc32Table[s.t[k - 1][b] & 0xFF];
  return s;
}

constexpr SliceTables kSlice = MakeSliceTables();

uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t Crc32Slice8(uint32_t crc, const uint8_t* p, size_t n) {
  while (n >= 8) {
    const uint32_t a = Load32(p) ^ crc;
    const uint32_t b = Load32(p + 4);
    crc = kSlice.t[7][a & 0xFF] ^ kSlice.t[6][(a >> 8) & 0xFF] ^ kSlice.t[5][(a >> 16) & 0xFF] ^
          kSlice.t[4][a >> 24] ^ kSlice.t[3][b & 0xFF] ^ kSlice.t[2][(b >> 8) & 0xFF] ^
          kSlice.t[1][(b >> 16) & 0xFF] ^ kSlice.t[0][b >> 24];
    p += 8;
    n -= 8;
  }
  while (n-- != 0) crc = Crc32Step(*p++, crc);
  return crc;
}

uint32_t Crc32Update(uint32_t CRC, const uint8_t* Data, size_t Length) {
  if (Length >= kCrc32ClmulMinLength && Crc32ClmulAvailable()) {
    return Crc32Clmul(CRC, Data, Length);
  }
  return Crc32Slice8(CRC, Data, Length);
}

void UpdateCrc32(uint32_t& CRC, const void* Buffer, uint16_t Count) {
  if (Count != 0) CRC = Crc32Update(CRC, static_cast<const uint8_t*>(Buffer), Count);
}

void UpdateCrc32(uint32_t& CRC, const void* Buffer, int32_t Count) {
  if (Count > 0) CRC = Crc32Update(CRC, static_cast<const uint8_t*>(Buffer), static_cast<size_t>(Count));
}

}  // namespace zipkit
