// Small numeric helpers: extremes and progress percentages.
#pragma once

#include <cstdint>

namespace zipkit {

inline int32_t LargerOf(int32_t A, int32_t B) { return A > B ? A : B; }
inline uint32_t SmallerOf(uint32_t A, uint32_t B) { return A < B ? A : B; }

// Part of Whole as a percentage 0 to 100, truncated; 0 when Whole is 0 or less. Parts must not
// be negative. Large wholes are scaled down first so that Part * 100 never overflows.
uint8_t PercentOf(int32_t Part, int32_t Whole);

}  // namespace zipkit
