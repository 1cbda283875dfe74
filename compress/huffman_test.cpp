#include "compress/huffman.h"

#include <gtest/gtest.h>

#include <functional>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace zipkit::deflate_detail {
namespace {

// Cost in bits of an optimal (unlimited) Huffman code for the used symbols, and its depth.
struct TOptimal {
  uint64_t bits = 0;
  int depth = 0;
};

TOptimal OptimalHuffman(const std::vector<uint16_t>& freq) {
  using Node = std::pair<uint64_t, int>;  // weight, depth of the subtree
  std::priority_queue<Node, std::vector<Node>, std::greater<>> heap;
  for (uint16_t f : freq)
    if (f != 0) heap.push({f, 0});
  TOptimal result;
  while (heap.size() > 1) {
    const Node a = heap.top();
    heap.pop();
    const Node b = heap.top();
    heap.pop();
    result.bits += a.first + b.first;
    heap.push({a.first + b.first, std::max(a.second, b.second) + 1});
  }
  if (!heap.empty()) result.depth = heap.top().second;
  return result;
}

struct TShape {
  std::string name;
  std::vector<uint16_t> freq;
  int max_length;
};

std::vector<TShape> Shapes() {
  std::vector<TShape> shapes;
  shapes.push_back({"nothing used", std::vector<uint16_t>(30, 0), 15});
  {
    std::vector<uint16_t> f(286, 0);
    f[256] = 1;
    shapes.push_back({"only the end code", f, 15});
  }
  {
    std::vector<uint16_t> f(30, 0);
    f[0] = 9;
    shapes.push_back({"code 0 alone", f, 15});
  }
  {
    std::vector<uint16_t> f(30, 0);
    f[17] = 4;
    shapes.push_back({"code 17 alone", f, 15});
  }
  {
    std::vector<uint16_t> f(19, 0);
    f[3] = 1;
    f[18] = 100;
    shapes.push_back({"two codes", f, 7});
  }
  shapes.push_back({"uniform 286", std::vector<uint16_t>(286, 7), 15});
  {
    // Fibonacci weights give the deepest tree: far beyond 15 and 7 levels.
    std::vector<uint16_t> f(24);
    uint16_t a = 1, b = 1;
    for (auto& x : f) {
      x = a;
      const uint16_t next = static_cast<uint16_t>(a + b);
      a = b;
      b = next;
    }
    shapes.push_back({"fibonacci 24, limit 15", f, 15});
    f.resize(19);
    shapes.push_back({"fibonacci 19, limit 7", f, 7});
  }
  {
    std::vector<uint16_t> f(286, 0);
    for (int i = 0; i < 286; ++i) f[i] = static_cast<uint16_t>(i % 5 == 0 ? 0 : 1 + (30000 >> (i % 17)));
    shapes.push_back({"skewed with gaps", f, 15});
  }
  std::mt19937 rng(42);
  for (int round = 0; round < 20; ++round) {
    std::vector<uint16_t> f(286);
    for (auto& x : f) x = static_cast<uint16_t>(rng() % 3 == 0 ? 0 : rng() % (1u << (rng() % 16)));
    shapes.push_back({"random " + std::to_string(round), f, 15});
  }
  return shapes;
}

TEST(Huffman, LengthsFormACompleteCodeWithinTheLimit) {
  for (const TShape& s : Shapes()) {
    SCOPED_TRACE(s.name);
    const int n = static_cast<int>(s.freq.size());
    std::vector<uint8_t> len(s.freq.size(), 99);
    const int max_code = BuildCodeLengths(s.freq.data(), n, s.max_length, len.data());

    int used = 0;
    int highest_nonzero = -1;
    // Kraft sum in units of 2^-15: a complete code sums to exactly 2^15.
    uint64_t kraft = 0;
    uint64_t bits = 0;
    for (int i = 0; i < n; ++i) {
      ASSERT_LE(len[i], s.max_length);
      if (s.freq[i] != 0) {
        ++used;
        ASSERT_GT(len[i], 0) << "code " << i;
      }
      if (len[i] != 0) {
        highest_nonzero = i;
        kraft += 1u << (15 - len[i]);
      }
      bits += static_cast<uint64_t>(s.freq[i]) * len[i];
    }
    EXPECT_EQ(kraft, 1u << 15);
    EXPECT_EQ(max_code, highest_nonzero);
    // Fewer than two used codes are padded to exactly two.
    if (used < 2) {
      int given = 0;
      for (uint8_t l : len) given += l != 0;
      EXPECT_EQ(given, 2);
    }

    if (used < 2) continue;
    const TOptimal optimal = OptimalHuffman(s.freq);
    if (optimal.depth <= s.max_length) {
      EXPECT_EQ(bits, optimal.bits) << "not optimal although no limit was needed";
    } else {
      // The limited code still gives the rarer of two symbols no shorter a code.
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
          if (s.freq[i] != 0 && s.freq[j] != 0 && s.freq[i] < s.freq[j]) {
            ASSERT_GE(len[i], len[j]);
          }
    }
  }
}

// RFC 1951, 3.2.2: lengths (3, 3, 3, 3, 3, 2, 4, 4) give the codes 010, 011, 100, 101, 110, 00,
// 1110, 1111; the writer keeps them bit-reversed.
TEST(Huffman, CanonicalCodesAreBitReversed) {
  const uint8_t lengths[8] = {3, 3, 3, 3, 3, 2, 4, 4};
  const uint16_t msb_first[8] = {0b010, 0b011, 0b100, 0b101, 0b110, 0b00, 0b1110, 0b1111};
  uint16_t codes[8];
  AssignCodes(lengths, 8, codes);
  for (int i = 0; i < 8; ++i) {
    uint16_t reversed = 0;
    for (int b = 0; b < lengths[i]; ++b) reversed = static_cast<uint16_t>(reversed | (((msb_first[i] >> b) & 1) << (lengths[i] - 1 - b)));
    EXPECT_EQ(codes[i], reversed) << "code " << i;
  }
}

TEST(Huffman, CodesOfBuiltLengthsArePrefixFree) {
  for (const TShape& s : Shapes()) {
    SCOPED_TRACE(s.name);
    const int n = static_cast<int>(s.freq.size());
    std::vector<uint8_t> len(s.freq.size());
    BuildCodeLengths(s.freq.data(), n, s.max_length, len.data());
    std::vector<uint16_t> code(s.freq.size());
    AssignCodes(len.data(), n, code.data());
    // Sent least significant bit first, a code is a prefix of another when their low bits agree.
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        if (i == j || len[i] == 0 || len[j] == 0 || len[i] > len[j]) continue;
        const uint16_t mask = static_cast<uint16_t>((1u << len[i]) - 1);
        ASSERT_NE(code[i], code[j] & mask) << i << " is a prefix of " << j;
      }
  }
}

}  // namespace
}  // namespace zipkit::deflate_detail
