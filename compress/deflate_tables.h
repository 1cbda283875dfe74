// The fixed tables of the deflate format (RFC 1951, section 3.2.5) and the lookups the encoder
// derives from them. Everything here is computed at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace zipkit::deflate_detail {

constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr int kLiteralCodes = 256;
constexpr int kEndOfBlock = 256;
constexpr int kLengthCodes = 29;
constexpr int kLitLenCodes = kLiteralCodes + 1 + kLengthCodes;  // 286
constexpr int kFixedLitLenCodes = 288;  // 286 and 287 take part in the fixed code only
constexpr int kDistCodes = 30;
constexpr int kCodeLengthCodes = 19;
constexpr int kMaxCodeLength = 15;
constexpr int kMaxCodeLengthCodeLength = 7;

// Code-length alphabet: 0..15 are lengths; these three repeat.
constexpr int kRepeatPrevious = 16;  // 3..6 copies of the previous length, 2 extra bits
constexpr int kRepeatZero3 = 17;     // 3..10 zeros, 3 extra bits
constexpr int kRepeatZero11 = 18;    // 11..138 zeros, 7 extra bits

constexpr std::array<uint8_t, kLengthCodes> kLengthExtra = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint8_t, kDistCodes> kDistExtra = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<uint8_t, kCodeLengthCodes> kCodeLengthExtra = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
// The order in which the code-length code lengths are sent.
constexpr std::array<uint8_t, kCodeLengthCodes> kCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// First match length (minus 3) of each length code, and first distance (minus 1) of each
// distance code.
constexpr std::array<uint16_t, kLengthCodes> kLengthBase = [] {
  std::array<uint16_t, kLengthCodes> base{};
  int length = 0;
  for (int code = 0; code < kLengthCodes - 1; ++code) {
    base[code] = static_cast<uint16_t>(length);
    length += 1 << kLengthExtra[code];
  }
  base[kLengthCodes - 1] = kMaxMatch - kMinMatch;  // 258 has a code of its own
  return base;
}();
constexpr std::array<uint16_t, kDistCodes> kDistBase = [] {
  std::array<uint16_t, kDistCodes> base{};
  int dist = 0;
  for (int code = 0; code < kDistCodes; ++code) {
    base[code] = static_cast<uint16_t>(dist);
    dist += 1 << kDistExtra[code];
  }
  return base;
}();

// Length code (0..28) of a match length minus 3 (0..255).
constexpr std::array<uint8_t, 256> kLengthCode = [] {
  std::array<uint8_t, 256> table{};
  for (int code = 0; code < kLengthCodes - 1; ++code)
    for (int n = 0; n < (1 << kLengthExtra[code]); ++n)
      table[kLengthBase[code] + n] = static_cast<uint8_t>(code);
  table[255] = kLengthCodes - 1;  // length 258 takes the last code, not 284's top slot
  return table;
}();

// Distance code of a distance minus 1: entries 0..255 are direct, entries 256..511 serve the
// distances from 256 on, looked up by (distance - 1) >> 7.
constexpr std::array<uint8_t, 512> kDistCodeTable = [] {
  std::array<uint8_t, 512> table{};
  for (int code = 0; code < 16; ++code)
    for (int n = 0; n < (1 << kDistExtra[code]); ++n) table[kDistBase[code] + n] = static_cast<uint8_t>(code);
  for (int code = 16; code < kDistCodes; ++code)
    for (int n = 0; n < (1 << (kDistExtra[code] - 7)); ++n)
      table[256 + (kDistBase[code] >> 7) + n] = static_cast<uint8_t>(code);
  return table;
}();

inline int DistCode(uint32_t dist_minus_1) {
  return dist_minus_1 < 256 ? kDistCodeTable[dist_minus_1] : kDistCodeTable[256 + (dist_minus_1 >> 7)];
}

// The lowest `n` bits of `value` in reverse order: deflate sends Huffman codes starting with
// their most significant bit, while the bit writer sends everything least significant first.
constexpr uint16_t ReverseBits(uint32_t value, int n) {
  uint32_t r = 0;
  for (int i = 0; i < n; ++i, value >>= 1) r = (r << 1) | (value & 1);
  return static_cast<uint16_t>(r);
}

// Canonical codes from code lengths (RFC 1951, 3.2.2), stored bit-reversed ready to send.
template <size_t N>
constexpr void AssignCodes(const std::array<uint8_t, N>& lengths, int count, std::array<uint16_t, N>& codes) {
  uint16_t length_count[kMaxCodeLength + 1] = {};
  for (int i = 0; i < count; ++i) ++length_count[lengths[i]];
  length_count[0] = 0;
  uint16_t next[kMaxCodeLength + 1] = {};
  uint32_t code = 0;
  for (int bits = 1; bits <= kMaxCodeLength; ++bits) {
    code = (code + length_count[bits - 1]) << 1;
    next[bits] = static_cast<uint16_t>(code);
  }
  for (int i = 0; i < count; ++i)
    if (lengths[i] != 0) codes[i] = ReverseBits(next[lengths[i]]++, lengths[i]);
}

// The fixed codes of block type 1.
constexpr std::array<uint8_t, kFixedLitLenCodes> kFixedLitLenLength = [] {
  std::array<uint8_t, kFixedLitLenCodes> len{};
  for (int i = 0; i < kFixedLitLenCodes; ++i) len[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return len;
}();
constexpr std::array<uint16_t, kFixedLitLenCodes> kFixedLitLenCode = [] {
  std::array<uint16_t, kFixedLitLenCodes> codes{};
  AssignCodes(kFixedLitLenLength, kFixedLitLenCodes, codes);
  return codes;
}();
constexpr int kFixedDistLength = 5;
constexpr std::array<uint16_t, kDistCodes> kFixedDistCode = [] {
  std::array<uint16_t, kDistCodes> codes{};
  for (int i = 0; i < kDistCodes; ++i) codes[i] = ReverseBits(static_cast<uint32_t>(i), kFixedDistLength);
  return codes;
}();

}  // namespace zipkit::deflate_detail
