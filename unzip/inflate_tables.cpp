#include "unzip/inflate_tables.h"

#include <algorithm>

namespace zipkit {

const uint16_t kLengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                  35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
const uint8_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                  3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, kInvalidExtra, kInvalidExtra};
const uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

namespace {

constexpr uint32_t MakeEntry(uint32_t Flags, unsigned Consumed, unsigned CodeBits, uint32_t Value) {
  return Flags | Consumed | (CodeBits << 8) | (Value << 16);
}

constexpr uint32_t kInvalidEntry = MakeEntry(entry::kExceptional, 0, 0, entry::kInvalidValue);

// The entry of symbol Symbol whose code has CodeBits bits at its table level.
uint32_t SymbolEntry(int Symbol, int SimpleCount, const uint16_t* BaseTable,
                     const uint8_t* ExtraTable, unsigned CodeBits) {
  if (Symbol < SimpleCount) {
    if (Symbol == 256)
      return MakeEntry(entry::kExceptional, CodeBits, CodeBits, entry::kEndOfBlockValue);
    return MakeEntry(entry::kLiteral, CodeBits, CodeBits, static_cast<uint32_t>(Symbol));
  }
  const unsigned extra = ExtraTable[Symbol - SimpleCount];
  if (extra > 16) return kInvalidEntry;
  return MakeEntry(0, CodeBits + extra, CodeBits, BaseTable[Symbol - SimpleCount]);
}

// The first Bits bits of Code (most significant first) as a lookup index (first bit lowest).
constexpr uint8_t kReversedByte[256] = {
#define R2(n) n, n + 2 * 64, n + 1 * 64, n + 3 * 64
#define R4(n) R2(n), R2(n + 2 * 16), R2(n + 1 * 16), R2(n + 3 * 16)
#define R6(n) R4(n), R4(n + 2 * 4), R4(n + 1 * 4), R4(n + 3 * 4)
    R6(0), R6(2), R6(1), R6(3)
#undef R6
#undef R4
#undef R2
};

unsigned Reverse(unsigned Code, int Bits) {
  const unsigned r = (static_cast<unsigned>(kReversedByte[Code & 0xFF]) << 8) | kReversedByte[(Code >> 8) & 0xFF];
  return r >> (16 - Bits);
}

void MakeEmpty(THuffmanTable& Table) {
  Table.TableBits = 0;
  Table.Entries[0] = kInvalidEntry;
  Table.Reach[0] = 0;
}

// The codes of one table in canonical order (by length, then symbol), each with its value
// written most significant bit first and aligned to the longest length; the codes missing from
// an incomplete code (fillers, all of the longest length) take the values from Used on.
struct TCanonical {
  int N = 0;
  int Longest = 0;
  uint32_t Used = 0;  // values below this belong to real codes
  uint16_t Symbol[kMaxSymbols];
  uint8_t Length[kMaxSymbols];
  uint16_t Code[kMaxSymbols];     // the code itself, Length bits
  uint32_t Aligned[kMaxSymbols];  // the code shifted to Longest bits

  // For every code longer than Level, the longest length among the codes (fillers included)
  // that share its first Level bits. Codes sharing a prefix are adjacent in canonical order
  // and the last of them is the longest, so one backward walk finds every group's maximum.
  void LongestInGroups(int Level, uint8_t* Out) const {
    const int shift = Longest - Level;
    int64_t group = -1;
    int longest = 0;
    if (Used < (1u << Longest)) {
      group = Used >> shift;
      longest = Longest;
    }
    for (int i = N - 1; i >= 0 && Length[i] > Level; --i) {
      const int64_t prefix = Aligned[i] >> shift;
      if (prefix != group) {
        group = prefix;
        longest = Length[i];
      }
      Out[i] = static_cast<uint8_t>(longest);
    }
  }
};

}  // namespace

int BuildHuffmanTable(const uint16_t* Lengths, int Count, int SimpleCount,
                      const uint16_t* BaseTable, const uint8_t* ExtraTable, THuffmanTable& Table,
                      int& RootBits) {
  MakeEmpty(Table);
  if (Count < 0 || Count > kMaxSymbols) return 2;

  int count[kMaxCodeLength + 1] = {};
  for (int s = 0; s < Count; ++s) {
    if (Lengths[s] > kMaxCodeLength) return 2;
    ++count[Lengths[s]];
  }
  if (count[0] == Count) {
    RootBits = 0;
    return 0;
  }
  int shortest = 1;
  while (count[shortest] == 0) ++shortest;
  int longest = kMaxCodeLength;
  while (count[longest] == 0) --longest;
  const int root = std::clamp(RootBits, shortest, longest);
  RootBits = root;

  // Check the lengths against the code space; what is left at the longest length is filled
  // with codes that have no symbol.
  int32_t left = 1 << shortest;
  for (int len = shortest; len < longest; ++len) {
    left -= count[len];
    if (left < 0) return 2;
    left <<= 1;
  }
  left -= count[longest];
  if (left < 0) return 2;
  const int32_t fillers = left;

  TCanonical c;
  c.Longest = longest;
  {
    int offset[kMaxCodeLength + 2] = {};
    for (int len = 1; len <= kMaxCodeLength; ++len) offset[len + 1] = offset[len] + count[len];
    for (int s = 0; s < Count; ++s)
      if (Lengths[s] != 0) c.Symbol[offset[Lengths[s]]++] = static_cast<uint16_t>(s);
    c.N = Count - count[0];
    uint32_t next = 0;
    int i = 0;
    for (int len = 1; len <= longest; ++len) {
      for (int n = 0; n < count[len]; ++n, ++i, ++next) {
        c.Length[i] = static_cast<uint8_t>(len);
        c.Code[i] = static_cast<uint16_t>(next);
        c.Aligned[i] = next << (longest - len);
      }
      next <<= 1;
    }
    c.Used = (1u << longest) - static_cast<uint32_t>(fillers);
  }

  // Reach of every code in the reference layout: a code no longer than the root sits in the
  // root; a longer one in the sub-table of its level (a multiple of the root width), which is
  // as wide as the longest code under its prefix needs, at most the root width. Fillers reach
  // the longest length.
  uint8_t reach[kMaxSymbols];
  {
    uint8_t group[kMaxSymbols];
    for (int i = 0; i < c.N; ++i) reach[i] = static_cast<uint8_t>(root);
    for (int level = root; level < longest; level += root) {
      c.LongestInGroups(level, group);
      for (int i = c.N - 1; i >= 0 && c.Length[i] > level; --i)
        if (c.Length[i] <= level + root)
          reach[i] = static_cast<uint8_t>(level + std::min(root, group[i] - level));
    }
  }

  // Our own layout: a root as wide as WantBits allows, sub-tables sized to their codes.
  int bits = std::min<int>(std::max<int>(Table.WantBits, 1), longest);
  auto bound = [&](int b) {
    return (1 << b) + (std::min(1 << b, c.N) << (longest - b));
  };
  while (bound(bits) > THuffmanTable::kCapacity) ++bits;
  Table.TableBits = static_cast<uint8_t>(bits);
  const uint32_t rootSize = 1u << bits;
  uint32_t* const entries = Table.Entries;

  uint8_t* const reaches = Table.Reach;
  auto invalidate = [&](uint32_t From, uint32_t To) {
    std::fill(entries + From, entries + To, kInvalidEntry);
    std::fill(reaches + From, reaches + To, static_cast<uint8_t>(longest));
  };

  // The root: codes are placed while the table is as wide as their length, and the table is
  // doubled as the length grows, which repeats every entry at all indices it matches. Indices
  // no code reaches stay invalid; those that lead to longer codes get their links below.
  int width = std::min(shortest, bits);
  invalidate(0, 1u << width);
  int i = 0;
  for (;;) {
    for (; i < c.N && c.Length[i] == width; ++i) {
      const uint32_t index = Reverse(c.Code[i], width);
      entries[index] = SymbolEntry(c.Symbol[i], SimpleCount, BaseTable, ExtraTable, width);
      reaches[index] = reach[i];
    }
    if (width == bits) break;
    std::copy(entries, entries + (1u << width), entries + (1u << width));
    std::copy(reaches, reaches + (1u << width), reaches + (1u << width));
    ++width;
  }
  if (i < c.N) {
    uint8_t group[kMaxSymbols];
    c.LongestInGroups(bits, group);
    uint32_t nextFree = rootSize;
    int64_t prefix = -1;
    uint32_t start = 0;
    uint32_t subSize = 0;
    for (; i < c.N; ++i) {
      const int len = c.Length[i];
      const int rest = len - bits;
      const uint32_t p = c.Code[i] >> rest;
      if (p != prefix) {
        prefix = p;
        const int subWidth = group[i] - bits;
        start = nextFree;
        subSize = 1u << subWidth;
        nextFree += subSize;
        if (fillers != 0) invalidate(start, start + subSize);
        entries[Reverse(p, bits)] = MakeEntry(entry::kExceptional | entry::kLink, bits, subWidth, start);
      }
      const uint32_t e = SymbolEntry(c.Symbol[i], SimpleCount, BaseTable, ExtraTable, rest);
      const unsigned low = c.Code[i] & ((1u << rest) - 1);
      for (uint32_t index = Reverse(low, rest); index < subSize; index += 1u << rest) {
        entries[start + index] = e;
        reaches[start + index] = reach[i];
      }
    }
  }
  return (fillers != 0 && longest != 1) ? 1 : 0;
}

void FreeHuffmanTable(THuffmanTable& Table) { MakeEmpty(Table); }

namespace {

struct TFixedTables {
  THuffmanTable Literal;
  THuffmanTable Distance;
  TFixedTables() {
    uint16_t lengths[kMaxSymbols];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    int rootBits = kFixedLiteralRootBits;
    BuildHuffmanTable(lengths, 288, 257, kLengthBase, kLengthExtra, Literal, rootBits);
    std::fill(lengths, lengths + 30, 5);
    rootBits = kFixedDistanceRootBits;
    BuildHuffmanTable(lengths, 30, 0, kDistanceBase, kDistanceExtra, Distance, rootBits);
  }
};

const TFixedTables& Fixed() {
  static const TFixedTables tables;
  return tables;
}

}  // namespace

const THuffmanTable& FixedLiteralTable() { return Fixed().Literal; }
const THuffmanTable& FixedDistanceTable() { return Fixed().Distance; }

}  // namespace zipkit
