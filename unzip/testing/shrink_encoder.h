// Test tool: an encoder of method 1 (shrink), so that the decoder can be proven on large and
// varied input. It keeps the dictionary exactly as the decoder will see it (same codes, same
// partial clear), widens the code size when a code needs it and can clear the leaves of the
// dictionary when it is full or every so many codes.
#pragma once

#include <cstdint>
#include <vector>

#include "unzip/testing/bit_writer.h"

namespace zipkit::testing {

struct ShrinkOptions {
  bool clear_when_full = true;  // a partial clear each time the dictionary fills up
  int clear_every = 0;          // also one after every this many codes (0: never)
  bool widen_early = false;     // widen as soon as the next new code needs it, not when used
};

inline std::vector<uint8_t> Shrink(const std::vector<uint8_t>& Data, const ShrinkOptions& O = {}) {
  if (Data.empty()) return {};
  constexpr uint16_t kFree = 0xFFFF;
  constexpr uint32_t kLimit = 8192;
  std::vector<uint16_t> parent(8193, kFree);
  std::vector<uint8_t> suffix(8193, 0);
  // (parent << 8 | byte) -> the code of that string, 0 for none.
  std::vector<uint16_t> child(8192 * 256, 0);
  auto key = [](uint32_t p, uint8_t b) { return (p << 8) | b; };

  BitWriter out;
  int size = 9;
  uint32_t next_free = 257;
  auto widen_to = [&](uint32_t code) {
    while (code >= (1u << size)) {
      out.Put(256, size);
      out.Put(1, size);
      ++size;
    }
  };
  auto emit = [&](uint32_t code) {
    widen_to(code);
    out.Put(code, size);
  };
  // The same partial clear as the decoder's: every code below next_free that is no other
  // code's prefix is freed.
  auto partial_clear = [&] {
    out.Put(256, size);
    out.Put(2, size);
    std::vector<bool> prefix(8193, false);
    for (uint32_t c = 257; c < next_free; ++c)
      if (parent[c] >= 257) prefix[parent[c]] = true;
    for (uint32_t c = 257; c < next_free; ++c) {
      if (prefix[c]) continue;
      if (child[key(parent[c], suffix[c])] == c) child[key(parent[c], suffix[c])] = 0;
      parent[c] = kFree;
    }
    next_free = 257;
    while (next_free < kLimit && parent[next_free] != kFree) ++next_free;
  };

  uint32_t w = Data[0];
  long codes = 0;
  for (size_t i = 1; i < Data.size(); ++i) {
    const uint8_t c = Data[i];
    if (const uint16_t next = child[key(w, c)]) {
      w = next;
      continue;
    }
    emit(w);
    ++codes;
    // The decoder defines w + c when it reads the next code, after any control code; a clear
    // therefore comes before the definition here too.
    if ((O.clear_when_full && next_free >= kLimit) || (O.clear_every && codes % O.clear_every == 0))
      partial_clear();
    if (next_free < kLimit) {
      parent[next_free] = static_cast<uint16_t>(w);
      suffix[next_free] = c;
      child[key(w, c)] = static_cast<uint16_t>(next_free);
      do ++next_free;
      while (next_free < kLimit && parent[next_free] != kFree);
      if (O.widen_early && next_free < kLimit) widen_to(next_free);
    }
    w = c;
  }
  emit(w);
  return out.Finish();
}

}  // namespace zipkit::testing
