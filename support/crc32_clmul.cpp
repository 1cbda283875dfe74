// CRC-32 by carry-less multiplication (PCLMULQDQ), after Intel's "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ Instruction" (Gopal et al., 2009).
//
// Idea: the CRC of a message is its remainder modulo P. A 128-bit block A followed by D more
// bits has the same remainder as A * x^D (mod P) added to those bits, so a block can be "folded"
// forward over a distance D by multiplying its two 64-bit halves with x^(D+32) mod P and
// x^(D-32) mod P. Four accumulators fold 64 bytes per step in parallel; at the end they are
// folded into one, reduced to 64 and then 32 bits (Barrett). The constants are bit-reflected
// because the ZIP CRC is, and shifted left by one to match the reflected product.
#include "support/crc32_clmul.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZIPKIT_CRC32_CLMUL 1
#include <immintrin.h>
#endif

namespace zipkit {

#if ZIPKIT_CRC32_CLMUL

namespace {

// Fold constants, reflected: (x^n mod P)' << 1 for the n named beside each.
constexpr uint64_t kFold512Lo = 0x154442bd4;  // x^(512+32): fold four blocks over 64 bytes
constexpr uint64_t kFold512Hi = 0x1c6e41596;  // x^(512-32)
constexpr uint64_t kFold128Lo = 0x1751997d0;  // x^(128+32): fold one block over 16 bytes
constexpr uint64_t kFold128Hi = 0x0ccaa009e;  // x^(128-32)
constexpr uint64_t kFold64 = 0x163cd6124;     // x^64: 96 bits down to 64
constexpr uint64_t kBarrettMu = 0x1f7011641;  // floor(x^64 / P), reflected
constexpr uint64_t kPoly = 0x1db710641;       // P, reflected

#define CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

// Folds Acc over 16 bytes (the constants' distance) and adds Next.
CLMUL_TARGET inline __m128i Fold(__m128i acc, __m128i next, __m128i k) {
  const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

CLMUL_TARGET inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

CLMUL_TARGET uint32_t FoldAll(uint32_t crc, const uint8_t* p, size_t n) {
  // The running CRC enters as the first 32 bits of the message, added to them.
  __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = Load(p + 16);
  __m128i x2 = Load(p + 32);
  __m128i x3 = Load(p + 48);
  p += 64;
  n -= 64;

  const __m128i k512 = _mm_set_epi64x(kFold512Hi, kFold512Lo);
  while (n >= 64) {
    x0 = Fold(x0, Load(p), k512);
    x1 = Fold(x1, Load(p + 16), k512);
    x2 = Fold(x2, Load(p + 32), k512);
    x3 = Fold(x3, Load(p + 48), k512);
    p += 64;
    n -= 64;
  }

  // Four accumulators into one, then the remaining whole blocks.
  const __m128i k128 = _mm_set_epi64x(kFold128Hi, kFold128Lo);
  __m128i x = Fold(x0, x1, k128);
  x = Fold(x, x2, k128);
  x = Fold(x, x3, k128);
  while (n >= 16) {
    x = Fold(x, Load(p), k128);
    p += 16;
    n -= 16;
  }

  // 128 bits to 96: fold the low half onto the high half.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, k128, 0x10), _mm_srli_si128(x, 8));
  // 96 bits to 64.
  const __m128i k64 = _mm_set_epi64x(0, kFold64);
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k64, 0x00), _mm_srli_si128(x, 4));
  // Barrett reduction of 64 bits to the 32-bit remainder.
  const __m128i barrett = _mm_set_epi64x(kBarrettMu, kPoly);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
  crc = static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));

  // Fewer than 16 bytes remain.
  return n != 0 ? Crc32Slice8(crc, p, n) : crc;
}

}  // namespace

bool Crc32ClmulAvailable() {
  static const bool available = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return available;
}

uint32_t Crc32Clmul(uint32_t CRC, const uint8_t* Data, size_t Length) {
  return FoldAll(CRC, Data, Length);
}

#else

bool Crc32ClmulAvailable() { return false; }

uint32_t Crc32Clmul(uint32_t CRC, const uint8_t* Data, size_t Length) {
  return Crc32Slice8(CRC, Data, Length);
}

#endif

}  // namespace zipkit
