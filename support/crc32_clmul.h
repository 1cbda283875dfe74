// The carry-less multiplication path of the bulk CRC-32 (x86-64 with PCLMULQDQ), kept apart
// from the portable code. Elsewhere Crc32ClmulAvailable() is false.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zipkit {

// Below this length the set-up of the folding costs more than it saves.
inline constexpr size_t kCrc32ClmulMinLength = 64;

// True when the processor can run Crc32Clmul (checked once).
bool Crc32ClmulAvailable();
// The running CRC after Length >= kCrc32ClmulMinLength bytes.
uint32_t Crc32Clmul(uint32_t CRC, const uint8_t* Data, size_t Length);

// The portable slice-by-8 path; also finishes the tail of the folding path.
uint32_t Crc32Slice8(uint32_t CRC, const uint8_t* Data, size_t Length);

}  // namespace zipkit
