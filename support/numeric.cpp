#include "support/numeric.h"

namespace zipkit {

uint8_t PercentOf(int32_t Part, int32_t Whole) {
  if (Part < 0) Part = 0;
  // Beyond 16,384,000 the product Part * 100 could leave 32 bits: divide both by 256, rounded.
  uint32_t part = static_cast<uint32_t>(Part);
  uint32_t whole = static_cast<uint32_t>(Whole);
  if (Whole > 0xFA0000) {
    part = (part + 128) >> 8;
    whole = (whole + 128) >> 8;
  }
  if (Whole <= 0) return 0;
  if (part >= whole) return 100;
  return static_cast<uint8_t>(part * 100 / whole);
}

}  // namespace zipkit
