// Test tool: an encoder of method 6 (implode) with a 4 or 8 KB dictionary and two or three
// trees. Code lengths come from a Huffman construction limited to 16 bits over every value of
// each tree (so every tree is complete); the codes follow from the lengths by the method's own
// rule, which the decoder repeats.
#pragma once

#include <algorithm>
#include <cstdint>
#include <queue>
#include <vector>

#include "unzip/testing/bit_writer.h"
#include "unzip/testing/lz_parse.h"

namespace zipkit::testing {

struct ImplodeOptions {
  bool dict_8k = false;       // general purpose flag bit 1
  bool literal_tree = false;  // flag bit 2: three trees
};

// Code lengths (1 to 16) for the given symbol counts; every symbol gets one.
inline std::vector<uint8_t> LimitedHuffmanLengths(std::vector<uint64_t> Freq) {
  const size_t n = Freq.size();
  for (auto& f : Freq) f = f + 1;
  for (;;) {
    struct Node {
      uint64_t weight;
      int index;
    };
    auto cmp = [](const Node& a, const Node& b) { return a.weight > b.weight; };
    std::priority_queue<Node, std::vector<Node>, decltype(cmp)> q(cmp);
    std::vector<int> up(2 * n, -1);
    for (size_t i = 0; i < n; ++i) q.push({Freq[i], static_cast<int>(i)});
    int next = static_cast<int>(n);
    while (q.size() > 1) {
      Node a = q.top();
      q.pop();
      Node b = q.top();
      q.pop();
      up[a.index] = up[b.index] = next;
      q.push({a.weight + b.weight, next++});
    }
    std::vector<uint8_t> lengths(n);
    int longest = 0;
    for (size_t i = 0; i < n; ++i) {
      int d = 0;
      for (int j = static_cast<int>(i); up[j] >= 0; j = up[j]) ++d;
      lengths[i] = static_cast<uint8_t>(d);
      longest = std::max(longest, d);
    }
    if (longest <= 16) return lengths;
    for (auto& f : Freq) f = (f >> 1) | 1;  // flatten and try again
  }
}

// The codes the decoder derives from the lengths, bit-reversed so that the first bit sent is
// bit 0.
inline std::vector<uint16_t> ShannonFanoCodes(const std::vector<uint8_t>& Lengths) {
  const size_t n = Lengths.size();
  std::vector<int> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return Lengths[a] < Lengths[b]; });
  std::vector<uint16_t> codes(n);
  uint16_t code = 0, increment = 0;
  int last = 0;
  for (size_t k = n; k-- > 0;) {
    const int l = Lengths[order[k]];
    code = static_cast<uint16_t>(code + increment);
    if (l != last) {
      last = l;
      increment = static_cast<uint16_t>(1u << (16 - l));
    }
    uint16_t r = 0;
    for (int b = 0; b < 16; ++b)
      if (code & (1u << b)) r |= static_cast<uint16_t>(1u << (15 - b));
    codes[order[k]] = r;
  }
  return codes;
}

// The tree description: a byte count minus 1, then (repeat - 1) << 4 | (length - 1) bytes.
inline void PutTreeDescription(BitWriter& Out, const std::vector<uint8_t>& Lengths) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < Lengths.size();) {
    size_t r = 1;
    while (r < 16 && i + r < Lengths.size() && Lengths[i + r] == Lengths[i]) ++r;
    bytes.push_back(static_cast<uint8_t>(((r - 1) << 4) | (Lengths[i] - 1)));
    i += r;
  }
  Out.Put(static_cast<uint32_t>(bytes.size() - 1), 8);
  for (uint8_t b : bytes) Out.Put(b, 8);
}

inline std::vector<uint8_t> Implode(const std::vector<uint8_t>& Data,
                                    const ImplodeOptions& O = {}) {
  const int low_bits = O.dict_8k ? 7 : 6;
  const uint32_t min_length = O.literal_tree ? 3 : 2;
  LzLimits limits;
  limits.min_length = min_length;
  limits.max_length = min_length + 63 + 255;
  limits.max_back = O.dict_8k ? 8192 : 4096;
  const std::vector<LzToken> tokens = LzParse(Data, limits);

  std::vector<uint64_t> lit_freq(256, 0), len_freq(64, 0), dist_freq(64, 0);
  for (const LzToken& t : tokens) {
    if (t.length == 0) {
      ++lit_freq[t.literal];
    } else {
      ++len_freq[std::min<uint32_t>(t.length - min_length, 63)];
      ++dist_freq[(t.back - 1) >> low_bits];
    }
  }
  const auto lit_len = LimitedHuffmanLengths(lit_freq);
  const auto len_len = LimitedHuffmanLengths(len_freq);
  const auto dist_len = LimitedHuffmanLengths(dist_freq);
  const auto lit_code = ShannonFanoCodes(lit_len);
  const auto len_code = ShannonFanoCodes(len_len);
  const auto dist_code = ShannonFanoCodes(dist_len);

  BitWriter out;
  if (O.literal_tree) PutTreeDescription(out, lit_len);
  PutTreeDescription(out, len_len);
  PutTreeDescription(out, dist_len);
  for (const LzToken& t : tokens) {
    if (t.length == 0) {
      out.Put(1, 1);
      if (O.literal_tree) {
        out.Put(lit_code[t.literal], lit_len[t.literal]);
      } else {
        out.Put(t.literal, 8);
      }
      continue;
    }
    const uint32_t d = t.back - 1;
    const uint32_t l = t.length - min_length;
    out.Put(0, 1);
    out.Put(d, low_bits);
    out.Put(dist_code[d >> low_bits], dist_len[d >> low_bits]);
    out.Put(len_code[std::min<uint32_t>(l, 63)], len_len[std::min<uint32_t>(l, 63)]);
    if (l >= 63) out.Put(l - 63, 8);
  }
  return out.Finish();
}

}  // namespace zipkit::testing
