#include "support/bit_reverse.h"

namespace zipkit {

namespace {

struct ReverseTable {
  uint8_t t[256];
};

constexpr ReverseTable MakeReverseTable() {
  ReverseTable r{};
  for (int i = 0; i < 256; ++i) {
    int v = 0;
    for (int b = 0; b < 8; ++b)
      if (i & (1 << b)) v |= 0x80 >> b;
    r.t[i] = static_cast<uint8_t>(v);
  }
  return r;
}

constexpr ReverseTable kTable = MakeReverseTable();

}  // namespace

const uint8_t (&kReverseBits)[256] = kTable.t;

uint16_t ReverseLowBits(uint16_t Value, int32_t Count) {
  if (Count <= 0) return 0;
  if (Count > 16) Count = 16;
  if (Count <= 8) return static_cast<uint16_t>(kTable.t[Value & 0xFF] >> (8 - Count));
  const uint32_t both = static_cast<uint32_t>(kTable.t[Value & 0xFF]) << 8 | kTable.t[Value >> 8];
  return static_cast<uint16_t>(both >> (16 - Count));
}

void ReverseLowWord(uint32_t& Value) {
  const uint32_t low = static_cast<uint32_t>(kTable.t[Value & 0xFF]) << 8 | kTable.t[(Value >> 8) & 0xFF];
  Value = (Value & 0xFFFF0000u) | low;
}

}  // namespace zipkit
