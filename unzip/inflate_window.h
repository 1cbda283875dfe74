// The inflate window's sizes and the match copy shared by the fast and the careful decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>

namespace zipkit {

inline constexpr size_t kHistory = 32768;  // the farthest a distance reaches
inline constexpr size_t kMaxMatch = 258;
inline constexpr size_t kCopyOverrun = 64;  // word copies may write this far past a match
inline constexpr size_t kWindowChunk = 256 * 1024;  // new output held before it is handed on
inline constexpr std::ptrdiff_t kFastInputMargin = 16;  // span bytes the fast loop needs ahead

inline uint64_t LoadWord(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline void StoreWord(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Little-endian load of 8 input bytes.
inline uint64_t LoadLittle64(const uint8_t* p) {
  uint64_t v = LoadWord(p);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Copies a match byte by byte, writing exactly Length bytes; the part of it that reaches back
// before the first byte written (Valid) reads as zeros. For the rare cases.
inline uint8_t* CopyFromBeforeStart(uint8_t* Out, uint32_t Distance, uint32_t Length,
                                    const uint8_t* Valid) {
  const size_t written = static_cast<size_t>(Out - Valid);
  const size_t zeros = Distance > written ? std::min<size_t>(Length, Distance - written) : 0;
  std::memset(Out, 0, zeros);
  for (size_t i = zeros; i < Length; ++i) Out[i] = *(Out + i - Distance);  // at or after Valid
  return Out + Length;
}

// Copies Length bytes from Distance bytes back to Out (overlapping copies repeat what they
// have just written) and returns the end of the copy. May write up to kCopyOverrun bytes past
// it; the bytes read all lie before the end of the copy.
inline uint8_t* CopyMatchBytes(uint8_t* Out, uint32_t Distance, uint32_t Length) {
  const uint8_t* src = Out - Distance;
  uint8_t* const end = Out + Length;
  if (Distance >= 8) {
    // Each word read was written before: the source runs at least 8 bytes behind.
    do {
      StoreWord(Out, LoadWord(src));
      StoreWord(Out + 8, LoadWord(src + 8));
      src += 16;
      Out += 16;
    } while (Out < end);
  } else if (Distance == 1) {
    const uint64_t v = 0x0101010101010101ull * *src;
    do {
      StoreWord(Out, v);
      StoreWord(Out + 8, v);
      Out += 16;
    } while (Out < end);
  } else {
    do {
      *Out++ = *src++;
    } while (Out < end);
  }
  return end;
}

}  // namespace zipkit
