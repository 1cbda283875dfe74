// Test tool: an encoder of methods 2 to 5 (reduce with factors 1 to 4). First the data becomes
// a byte stream in which 144 introduces a copy (144, 0 is the byte 144 itself); then every byte
// of that stream is coded against the follower set of the byte before it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "unzip/testing/bit_writer.h"
#include "unzip/testing/lz_parse.h"

namespace zipkit::testing {

struct ReduceOptions {
  int factor = 4;          // 1 to 4
  int max_followers = 32;  // largest follower set (0: every byte coded plainly)
  bool copies = true;      // false: literals only
};

// The stream of bytes before the follower coding.
inline std::vector<uint8_t> ReduceExpand(const std::vector<uint8_t>& Data, const ReduceOptions& O) {
  const uint32_t f = static_cast<uint32_t>(O.factor);
  const uint32_t mask = 0xFFu >> f;
  LzLimits limits;
  limits.min_length = 3;
  limits.max_length = O.copies ? mask + 255 + 3 : 0;
  limits.max_back = (1u << f) * 256;
  // 144, 0 means the byte 144: a copy whose V byte would be 0 (length 3 within 256 bytes)
  // cannot be written.
  limits.allowed = [](uint32_t length, uint32_t back) { return length > 3 || back > 256; };
  std::vector<uint8_t> s;
  for (const LzToken& t : LzParse(Data, limits)) {
    if (t.length == 0) {
      s.push_back(t.literal);
      if (t.literal == 144) s.push_back(0);
      continue;
    }
    const uint32_t len = t.length - 3;
    const uint32_t d = t.back - 1;
    const uint32_t v = ((d >> 8) << (8 - f)) | std::min(len, mask);
    s.push_back(144);
    s.push_back(static_cast<uint8_t>(v));
    if (len >= mask) s.push_back(static_cast<uint8_t>(len - mask));
    s.push_back(static_cast<uint8_t>(d));
  }
  return s;
}

inline std::vector<uint8_t> Reduce(const std::vector<uint8_t>& Data, const ReduceOptions& O = {}) {
  const std::vector<uint8_t> s = ReduceExpand(Data, O);

  // Follower sets: the most frequent successors of each byte, as many as allowed.
  std::vector<std::array<uint32_t, 256>> freq(256);
  for (auto& f : freq) f.fill(0);
  uint8_t last = 0;
  for (uint8_t c : s) {
    ++freq[last][c];
    last = c;
  }
  std::vector<std::vector<uint8_t>> sets(256);
  for (int x = 0; x < 256; ++x) {
    std::vector<int> order;
    for (int c = 0; c < 256; ++c)
      if (freq[x][c] > 0) order.push_back(c);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return freq[x][a] > freq[x][b]; });
    if (static_cast<int>(order.size()) > O.max_followers) order.resize(O.max_followers);
    for (int c : order) sets[x].push_back(static_cast<uint8_t>(c));
  }
  auto width = [](size_t n) {
    int w = 1;
    while ((1u << w) < n) ++w;
    return w;
  };

  BitWriter out;
  for (int x = 255; x >= 0; --x) {
    out.Put(static_cast<uint32_t>(sets[x].size()), 6);
    for (uint8_t c : sets[x]) out.Put(c, 8);
  }
  last = 0;
  for (uint8_t c : s) {
    const std::vector<uint8_t>& set = sets[last];
    if (set.empty()) {
      out.Put(c, 8);
    } else {
      auto it = std::find(set.begin(), set.end(), c);
      if (it == set.end()) {
        out.Put(1, 1);
        out.Put(c, 8);
      } else {
        out.Put(0, 1);
        out.Put(static_cast<uint32_t>(it - set.begin()), width(set.size()));
      }
    }
    last = c;
  }
  return out.Finish();
}

}  // namespace zipkit::testing
