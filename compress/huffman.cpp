#include "compress/huffman.h"

#include <algorithm>

#include "compress/deflate_tables.h"

namespace zipkit::deflate_detail {

namespace {

// Every leaf and inner node of the largest tree, plus the unused slot 0 of the heap.
constexpr int kHeapSize = 2 * kMaxAlphabet + 1;

// The working state of one build. Nodes 0..count-1 are the leaves (codes); inner nodes are
// numbered from count on. heap[1..heap_len] is a min-heap on (frequency, depth); the nodes taken
// out of it are stacked at the top end, heap[heap_max..kHeapSize), parents before children.
struct TTreeBuild {
  uint32_t freq[kHeapSize];
  uint16_t parent[kHeapSize];
  uint8_t depth[kHeapSize];
  uint8_t length[kHeapSize];
  int heap[kHeapSize];
  int heap_len = 0;
  int heap_max = kHeapSize;

  bool Smaller(int n, int m) const {
    return freq[n] < freq[m] || (freq[n] == freq[m] && depth[n] <= depth[m]);
  }

  // Restores the heap below slot k after heap[k] changed.
  void SiftDown(int k) {
    const int v = heap[k];
    int j = k << 1;
    while (j <= heap_len) {
      if (j < heap_len && Smaller(heap[j + 1], heap[j])) ++j;
      if (Smaller(v, heap[j])) break;
      heap[k] = heap[j];
      k = j;
      j <<= 1;
    }
    heap[k] = v;
  }

  int PopMin() {
    const int top = heap[1];
    heap[1] = heap[heap_len--];
    SiftDown(1);
    return top;
  }
};

// Gives every node its depth from the root, cut at max_length, and when cuts were needed moves
// leaves between lengths until the code is complete again (the zlib approach: each overflowing
// leaf is paired under a shorter leaf that moves down one level). Returns nothing: the final
// leaf lengths are in b.length and their counts in bl_count.
void LimitCodeLengths(TTreeBuild& b, int max_code, int max_length, uint16_t* bl_count) {
  int overflow = 0;
  b.length[b.heap[b.heap_max]] = 0;  // the root
  for (int h = b.heap_max + 1; h < kHeapSize; ++h) {
    const int n = b.heap[h];
    int bits = b.length[b.parent[n]] + 1;
    if (bits > max_length) {
      bits = max_length;
      ++overflow;
    }
    b.length[n] = static_cast<uint8_t>(bits);
    if (n <= max_code) ++bl_count[bits];
  }
  if (overflow == 0) return;

  do {
    int bits = max_length - 1;
    while (bl_count[bits] == 0) --bits;
    --bl_count[bits];           // a leaf moves down one level ...
    bl_count[bits + 1] += 2;    // ... and takes an overflowing leaf beside it
    --bl_count[max_length];     // the deepest level loses that leaf
    overflow -= 2;
  } while (overflow > 0);

  // Hand the lengths out again, longest to the least frequent leaves: the stack holds the
  // leaves in order of increasing frequency when read from its end.
  int h = kHeapSize;
  for (int bits = max_length; bits != 0; --bits) {
    int n = bl_count[bits];
    while (n != 0) {
      const int m = b.heap[--h];
      if (m > max_code) continue;
      b.length[m] = static_cast<uint8_t>(bits);
      --n;
    }
  }
}

}  // namespace

int BuildCodeLengths(const uint16_t* Freq, int count, int max_length, uint8_t* Lengths) {
  TTreeBuild b;
  int max_code = -1;
  for (int n = 0; n < count; ++n) {
    b.freq[n] = Freq[n];
    b.depth[n] = 0;
    if (Freq[n] != 0) {
      b.heap[++b.heap_len] = n;
      max_code = n;
    }
  }
  // A code needs two symbols at least; a missing one gets frequency 1 and costs nothing, since
  // the block never sends it.
  while (b.heap_len < 2) {
    const int node = max_code < 2 ? ++max_code : 0;
    b.heap[++b.heap_len] = node;
    b.freq[node] = 1;
    b.depth[node] = 0;
  }

  for (int n = b.heap_len / 2; n >= 1; --n) b.SiftDown(n);

  // Join the two least frequent nodes until one is left.
  int node = count;
  do {
    const int n = b.PopMin();
    const int m = b.heap[1];
    b.heap[--b.heap_max] = n;
    b.heap[--b.heap_max] = m;
    b.freq[node] = b.freq[n] + b.freq[m];
    b.depth[node] = static_cast<uint8_t>(std::max(b.depth[n], b.depth[m]) + 1);
    b.parent[n] = b.parent[m] = static_cast<uint16_t>(node);
    b.heap[1] = node++;
    b.SiftDown(1);
  } while (b.heap_len >= 2);
  b.heap[--b.heap_max] = b.heap[1];

  uint16_t bl_count[kMaxCodeLength + 1] = {};
  LimitCodeLengths(b, max_code, max_length, bl_count);

  std::fill(Lengths, Lengths + count, uint8_t{0});
  for (int h = b.heap_max; h < kHeapSize; ++h) {
    const int n = b.heap[h];
    if (n <= max_code) Lengths[n] = b.length[n];
  }
  return max_code;
}

void AssignCodes(const uint8_t* Lengths, int count, uint16_t* Codes) {
  uint16_t length_count[kMaxCodeLength + 1] = {};
  for (int i = 0; i < count; ++i) ++length_count[Lengths[i]];
  length_count[0] = 0;
  uint16_t next[kMaxCodeLength + 1] = {};
  uint32_t code = 0;
  for (int bits = 1; bits <= kMaxCodeLength; ++bits) {
    code = (code + length_count[bits - 1]) << 1;
    next[bits] = static_cast<uint16_t>(code);
  }
  for (int i = 0; i < count; ++i) {
    const int len = Lengths[i];
    Codes[i] = len != 0 ? ReverseBits(next[len]++, len) : 0;
  }
}

}  // namespace zipkit::deflate_detail
