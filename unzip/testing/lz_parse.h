// Test tool: a plain greedy LZ77 parse with hash chains, shared by the test encoders of the
// reduce and implode methods. Each token is a literal or a copy of earlier input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zipkit::testing {

struct LzToken {
  uint32_t length;  // 0: a literal
  uint32_t back;    // distance of a copy, 1 = the previous byte
  uint8_t literal;
};

struct LzLimits {
  uint32_t min_length;
  uint32_t max_length;
  uint32_t max_back;
  int max_chain = 48;
  // Lets the encoder refuse a copy its format cannot say (reduce: length 3 within 256 bytes).
  std::function<bool(uint32_t Length, uint32_t Back)> allowed;
};

inline std::vector<LzToken> LzParse(const std::vector<uint8_t>& Data, const LzLimits& L) {
  constexpr int kHashBits = 15;
  std::vector<int32_t> head(1u << kHashBits, -1);
  std::vector<int32_t> prev(Data.size(), -1);
  auto hash = [&](size_t i) {
    // Two bytes when copies of 2 count, so that they are found at all.
    uint32_t h = Data[i] | (Data[i + 1] << 8);
    if (L.min_length > 2 && i + 2 < Data.size()) h |= Data[i + 2] << 16;
    return (h * 2654435761u) >> (32 - kHashBits);
  };
  auto insert = [&](size_t i) {
    if (i + 1 >= Data.size()) return;
    const uint32_t h = hash(i);
    prev[i] = head[h];
    head[h] = static_cast<int32_t>(i);
  };

  std::vector<LzToken> out;
  size_t i = 0;
  while (i < Data.size()) {
    uint32_t best_len = 0, best_back = 0;
    if (i + 1 < Data.size()) {
      int chain = L.max_chain;
      for (int32_t j = head[hash(i)]; j >= 0 && chain-- > 0; j = prev[j]) {
        const size_t back = i - static_cast<size_t>(j);
        if (back > L.max_back) break;
        uint32_t n = 0;
        while (n < L.max_length && i + n < Data.size() && Data[j + n] == Data[i + n]) ++n;
        if (n > best_len && n >= L.min_length && (!L.allowed || L.allowed(n, back))) {
          best_len = n;
          best_back = static_cast<uint32_t>(back);
        }
      }
    }
    if (best_len >= L.min_length) {
      out.push_back({best_len, best_back, 0});
      for (uint32_t k = 0; k < best_len; ++k) insert(i + k);
      i += best_len;
    } else {
      out.push_back({0, 0, Data[i]});
      insert(i);
      ++i;
    }
  }
  return out;
}

}  // namespace zipkit::testing
