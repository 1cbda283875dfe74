#include "unzip/unreduce.h"

#include <memory>

namespace zipkit::legacy {
namespace {

constexpr uint8_t kEscape = 144;  // introduces a copy; 144, 0 stands for the byte itself

// The follower set of one byte value: the bytes that tend to follow it, indexed with Width
// bits. A set has up to 32 members; a damaged count (6 bits allow 63) is read in full so that
// the bits stay in step, and an index past the count reads a zero, never outside the set.
struct FollowerSet {
  uint8_t count;
  uint8_t width;
  uint8_t member[64];
};

// Bits of Count - 1, at least 1.
uint8_t IndexWidth(uint32_t Count) {
  uint8_t w = 1;
  while ((1u << w) < Count) ++w;
  return w;
}

}  // namespace

void Unreduce(Input& In, Output& Out, int64_t Expected, int Factor) {
  BitReader in(In);
  HistoryWriter out(Out, Expected);
  try {
    auto sets = std::make_unique<FollowerSet[]>(256);  // zero-filled
    for (int x = 255; x >= 0; --x) {
      FollowerSet& s = sets[x];
      s.count = static_cast<uint8_t>(in.Bits(6));
      for (int i = 0; i < s.count; ++i) s.member[i] = static_cast<uint8_t>(in.Bits(8));
      s.width = IndexWidth(s.count);
    }

    const uint32_t length_mask = Factor >= 1 && Factor <= 4 ? 0xFFu >> Factor : 0;
    int state = 0;
    uint8_t last = 0;  // the last byte of the compressed stream, the context of the next
    uint32_t v = 0, length = 0;
    while (!in.Ended() && !out.Done()) {
      const FollowerSet& s = sets[last];
      uint8_t c;
      if (s.count == 0 || in.Bits(1)) {
        c = static_cast<uint8_t>(in.Bits(8));
      } else {
        c = s.member[in.Bits(s.width)];
      }
      last = c;
      if (in.Ended()) break;

      switch (state) {
        case 0:
          if (c == kEscape) {
            state = 1;
          } else {
            out.Literal(c);
          }
          break;
        case 1:
          if (c == 0) {
            out.Literal(kEscape);
            state = 0;
          } else {
            v = c;
            length = v & length_mask;
            state = length == length_mask ? 2 : 3;
          }
          break;
        case 2:
          length += c;
          state = 3;
          break;
        default: {
          if (length_mask == 0) throw InvalidFactor();
          // The top Factor bits of V and this byte: at most 4096 back.
          const uint32_t back = ((v >> (8 - Factor)) << 8) + c + 1;
          out.Copy(back, length + 3);  // at most 0x7F + 255 + 3 bytes
          state = 0;
          break;
        }
      }
    }
  } catch (...) {
    out.Abandon();
    throw;
  }
  out.Finish();
}

}  // namespace zipkit::legacy
