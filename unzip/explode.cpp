#include "unzip/explode.h"

#include <algorithm>
#include <memory>

namespace zipkit::legacy {
namespace {

constexpr int kMaxCodeLength = 16;
constexpr int kTableBits = 12;  // codes up to this long decode by one table look-up

// A Shannon-Fano tree as the decoder uses it.
//
// The data sends code lengths only; the codes follow from sorting the entries by (length,
// value) and counting up from the longest. A code is matched bit by bit, shortest lengths first,
// the first entry in that order whose code equals the bits read so far wins, and no match at all
// decodes as 0 after the longest length's bits. The table below gives the same answer as that
// walk, also for the codes of damaged trees (overlapping, or with bits beyond their length,
// which never match).
struct Tree {
  int max_length = 0;  // longest code length present
  int table_bits = 1;
  // Indexed by the next table_bits bits: (length << 8) | value; 0 when the answer needs more
  // bits than the table covers (or there is none).
  uint16_t table[1 << kTableBits];
  // Entries longer than table_bits, in sorted order, for the walk past the table.
  struct Long {
    uint16_t code;
    uint8_t length;
    uint8_t value;
  };
  int long_count = 0;
  Long longs[256];
};

uint16_t Reverse16(uint32_t v) {
  uint32_t r = 0;
  for (int i = 0; i < 16; ++i) r |= ((v >> i) & 1u) << (15 - i);
  return static_cast<uint16_t>(r);
}

// Reads a tree description of Count entries: one byte holding the number of bytes that follow,
// minus 1; each of them gives a length (low nibble + 1) for the next (high nibble + 1) entries.
void LoadTree(BitReader& In, Tree& T, int Count) {
  uint8_t length[256] = {};
  const int bytes = static_cast<int>(In.Bits(8)) + 1;
  int k = 0;
  for (int i = 0; i < bytes; ++i) {
    const uint32_t b = In.Bits(8);
    const uint8_t l = static_cast<uint8_t>((b & 0x0F) + 1);
    // Damaged data may describe more entries than the tree has: the surplus is dropped.
    for (uint32_t r = (b >> 4) + 1; r > 0 && k < Count; --r) length[k++] = l;
  }

  // Sort by (length, value); uncovered entries (length 0) never match and are left out.
  uint8_t sorted[256];
  int n = 0;
  for (int l = 1; l <= kMaxCodeLength; ++l)
    for (int v = 0; v < Count; ++v)
      if (length[v] == l) sorted[n++] = static_cast<uint8_t>(v);

  // Codes counted up from the longest entry, 16 bits wide, then bit-reversed so that the
  // first bit read is bit 0.
  uint16_t code[256];
  uint16_t c = 0, increment = 0;
  int last_length = 0;
  for (int i = n - 1; i >= 0; --i) {
    const int l = length[sorted[i]];
    c = static_cast<uint16_t>(c + increment);
    if (l != last_length) {
      last_length = l;
      increment = static_cast<uint16_t>(1u << (16 - l));
    }
    code[i] = Reverse16(c);
  }

  T.max_length = n ? length[sorted[n - 1]] : 0;
  T.table_bits = std::clamp(T.max_length, 1, kTableBits);
  const uint32_t size = 1u << T.table_bits;
  std::fill(T.table, T.table + size, uint16_t{0});
  T.long_count = 0;
  for (int i = 0; i < n; ++i) {
    const int l = length[sorted[i]];
    const uint32_t cd = code[i];
    if (l > T.table_bits) {
      T.longs[T.long_count++] = {static_cast<uint16_t>(cd), static_cast<uint8_t>(l), sorted[i]};
      continue;
    }
    if (cd >> l) continue;  // bits beyond its length: never matches
    const uint16_t entry = static_cast<uint16_t>((l << 8) | sorted[i]);
    for (uint32_t s = cd; s < size; s += 1u << l)
      if (T.table[s] == 0) T.table[s] = entry;  // the first in sorted order wins
  }
}

uint32_t DecodeSlow(BitReader& In, const Tree& T) {
  In.Ensure(T.table_bits);
  const uint16_t e = T.table[In.Peek() & BitReader::LowMask(T.table_bits)];
  if (e != 0) {
    In.Skip(e >> 8);
    return e & 0xFF;
  }
  for (int i = 0; i < T.long_count; ++i) {
    const Tree::Long& l = T.longs[i];
    In.Ensure(l.length);
    if ((In.Peek() & BitReader::LowMask(l.length)) == l.code) {
      In.Skip(l.length);
      return l.value;
    }
  }
  // No entry matches: the walk has read the longest length's bits.
  const int used = std::max(T.max_length, 1);
  In.Ensure(used);
  In.Skip(used);
  return 0;
}

inline uint32_t Decode(BitReader& In, const Tree& T) {
  if (In.Available() < T.table_bits) In.Fill();
  const uint16_t e = T.table[In.Peek() & BitReader::LowMask(T.table_bits)];
  const int l = e >> 8;
  // Near the end of a block the bits above Available() are zeros, not data: the answer stands
  // only if it needed no more bits than were there.
  if (l != 0 && l <= In.Available()) {
    In.Skip(l);
    return e & 0xFF;
  }
  return DecodeSlow(In, T);
}

struct Trees {
  Tree literal, length, distance;
};

}  // namespace

void Explode(Input& In, Output& Out, int64_t Expected, bool Dict8K, bool LiteralTree) {
  BitReader in(In);
  HistoryWriter out(Out, Expected);
  try {
    auto trees = std::make_unique<Trees>();
    if (LiteralTree) LoadTree(in, trees->literal, 256);
    LoadTree(in, trees->length, 64);
    LoadTree(in, trees->distance, 64);
    const int low_bits = Dict8K ? 7 : 6;
    const uint32_t min_length = LiteralTree ? 3 : 2;

    // The end of the data and the item's size are looked at before each literal or copy only:
    // the last copy may run past the size.
    while (!in.Ended() && !out.Done()) {
      if (in.Bits(1)) {
        out.Literal(static_cast<uint8_t>(LiteralTree ? Decode(in, trees->literal) : in.Bits(8)));
        continue;
      }
      const uint32_t low = in.Bits(low_bits);
      const uint32_t distance = low | (Decode(in, trees->distance) << low_bits);  // < 8192
      uint32_t length = Decode(in, trees->length);
      if (length == 63) length += in.Bits(8);
      out.Copy(distance + 1, length + min_length);  // at most 63 + 255 + 3 bytes
    }
  } catch (...) {
    out.Abandon();
    throw;
  }
  out.Finish();
}

}  // namespace zipkit::legacy
