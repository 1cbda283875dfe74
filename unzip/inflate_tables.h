// The constant tables of the deflate format and the builder of inflate's decoding tables.
#pragma once

#include <cstdint>

namespace zipkit {

// Length codes 257..285 plus two entries for 286 and 287, whose extra-bit count kInvalidExtra
// makes them decode as invalid.
extern const uint16_t kLengthBase[31];
extern const uint8_t kLengthExtra[31];
// Distance codes 0..29.
extern const uint16_t kDistanceBase[30];
extern const uint8_t kDistanceExtra[30];
// The order in which a dynamic block stores the code length code lengths.
extern const uint8_t kCodeLengthOrder[19];

inline constexpr uint8_t kInvalidExtra = 99;
inline constexpr int kMaxCodeLength = 15;
inline constexpr int kMaxSymbols = 288;

// Root widths requested from BuildHuffmanTable for each code.
inline constexpr int kFixedLiteralRootBits = 7;
inline constexpr int kFixedDistanceRootBits = 5;
inline constexpr int kCodeLengthRootBits = 7;
inline constexpr int kDynamicLiteralRootBits = 9;
inline constexpr int kDynamicDistanceRootBits = 6;

// One decoding table entry, 32 bits:
//   bits  0..7   bits consumed by the entry: the code's bits at this level plus its extra bits
//                (for a sub-table link: the width of the root index)
//   bits  8..11  the code's bits at this level; the extra bits start above them
//                (for a link: the sub-table's index width)
//   bit  14      kLink: the value is the sub-table's first index
//   bit  15      kExceptional: a link, the end of the block or an invalid code
//   bits 16..30  the literal, the length or distance base, the sub-table's first index, or
//                kEndOfBlockValue / kInvalidValue for an exceptional entry that is not a link
//   bit  31      kLiteral: a literal byte (or, in the code length code, a symbol below 19)
// Literals and lengths decode with one lookup when their code fits the root; the entry
// carries the extra-bit count, so a length and its extra bits are taken in one step.
namespace entry {
inline constexpr uint32_t kLink = 0x4000;
inline constexpr uint32_t kExceptional = 0x8000;
inline constexpr uint32_t kLiteral = 0x80000000u;
inline constexpr uint32_t kEndOfBlockValue = 0;
inline constexpr uint32_t kInvalidValue = 1;

inline constexpr unsigned Consumed(uint32_t e) { return e & 0xFF; }
inline constexpr unsigned CodeBits(uint32_t e) { return (e >> 8) & 15; }
inline constexpr uint32_t Value(uint32_t e) { return (e >> 16) & 0x7FFF; }
inline constexpr bool IsInvalid(uint32_t e) {
  return (e & (kExceptional | kLink)) == kExceptional && Value(e) == kInvalidValue;
}
inline constexpr bool IsEndOfBlock(uint32_t e) {
  return (e & (kExceptional | kLink)) == kExceptional && Value(e) == kEndOfBlockValue;
}
}  // namespace entry

// A decoding table: a root table of 2^TableBits entries followed by its sub-tables. The root
// can be wider than the code's RootBits (the width the format's reference decoder uses). For
// every entry Reach records how many bits from the start of the code the reference decoder
// asks for before it has that entry (its root width, or the level plus the width of the
// sub-table holding the code), so that the careful decoder takes input at the same points.
struct THuffmanTable {
  // Root widths we aim for: wide roots decode nearly every code with one lookup.
  static constexpr int kWideRootBits = 11;
  // Enough for a root of 11 bits plus a sub-table of up to 16 entries per symbol longer than
  // the root, the largest a code of at most kMaxSymbols lengths can need.
  static constexpr int kCapacity = (1 << 11) + kMaxSymbols * (1 << (kMaxCodeLength - 11));

  uint8_t TableBits = 0;  // width of the root index; 0 for an empty code
  uint8_t WantBits = kWideRootBits;  // the root width to build, lowered to the longest code
  uint32_t Entries[kCapacity];
  uint8_t Reach[kCapacity];
};

// Builds the decoding table for Count code lengths (0 = unused symbol, at most 15; Count at
// most kMaxSymbols). Symbols below SimpleCount are literals (below 256) or the end of the
// block (256); symbol v from SimpleCount on is a length or distance with base
// BaseTable[v - SimpleCount] and ExtraTable[v - SimpleCount] extra bits (kInvalidExtra: an
// invalid code). RootBits comes in as the requested root width and goes out raised to the
// shortest and lowered to the longest code length (0 for an empty code).
// Returns 0 for a complete code, 1 for an incomplete one (usable: the missing codes decode as
// invalid), 2 for an over-subscribed one (no usable table). A single code of length 1 counts as
// complete; its other bit pattern decodes as invalid. A code with no lengths at all is
// complete and empty: every lookup yields an invalid entry that needs no input. Result 3 (out
// of memory) never happens: the table lives in fixed storage.
int BuildHuffmanTable(const uint16_t* Lengths, int Count, int SimpleCount,
                      const uint16_t* BaseTable, const uint8_t* ExtraTable, THuffmanTable& Table,
                      int& RootBits);

// Releases what a table holds; the storage is fixed, so this only leaves the table empty.
void FreeHuffmanTable(THuffmanTable& Table);

// The fixed code's tables, built once.
const THuffmanTable& FixedLiteralTable();
const THuffmanTable& FixedDistanceTable();

}  // namespace zipkit
