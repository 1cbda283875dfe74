// Test tool for the fuzz targets of the older decoders: run the fast decoder on the input and,
// when input and output stay small, the byte-at-a-time reference too, and trap on any difference in
// the bytes, the progress reports or the failure. Sanitizers catch any access outside a table.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "unzip/legacy_io.h"

// The reference is the oracle, not the code under test: left out of the coverage
// instrumentation, whose comparison hooks in its byte-at-a-time loops cost more than the rest.
#pragma clang attribute push(__attribute__((no_sanitize("coverage"))), apply_to = function)
#include "unzip/testing/reference_decoders.h"
#pragma clang attribute pop

#include "unzip/testing/legacy_check.h"

namespace zipkit::fuzzing {

inline void CheckAgainstReference(const testing::Codec& C, const uint8_t* Data, size_t Size,
                                  int64_t Expected, size_t Block) {
  const std::vector<uint8_t> in(Data, Data + Size);
  // Unshrink and explode may expand a few KB into megabytes; past this much output the loops
  // only repeat themselves, at a high cost under the coverage instrumentation.
  constexpr int64_t kLimit = 1 << 18;
  testing::Decoded fast;
  try {
    fast = testing::DecodeFast(C, in, Expected, Block, true, kLimit);
  } catch (const std::length_error&) {
    return;
  }
  // Large inputs (whole entries of real archives among the seeds) only run the fast decoder:
  // the reference would take most of the time.
  if (Size > 16384) return;
  const testing::Decoded ref = testing::DecodeReference(C, in, Expected);
  if (fast.corrupt != ref.corrupt || fast.bytes != ref.bytes || fast.reports != ref.reports ||
      (C.method == 1 && fast.writes != ref.writes))
    __builtin_trap();
}

}  // namespace zipkit::fuzzing
