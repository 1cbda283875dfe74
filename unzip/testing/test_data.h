// Test tool: deterministic inputs of different character for round trips.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zipkit::testing {

enum class DataKind {
  kText,    // words and lines: many short and medium copies
  kRandom,  // incompressible
  kRuns,    // long runs and long repeats of blocks: the longest copies
  kBinary,  // skewed byte values, structured records, many 144s
};

inline const char* Name(DataKind K) {
  switch (K) {
    case DataKind::kText:
      return "text";
    case DataKind::kRandom:
      return "random";
    case DataKind::kRuns:
      return "runs";
    case DataKind::kBinary:
      return "binary";
  }
  return "?";
}

inline std::vector<uint8_t> MakeData(DataKind Kind, size_t Size, uint32_t Seed = 1) {
  std::mt19937 rng(Seed);
  std::vector<uint8_t> d;
  d.reserve(Size);
  switch (Kind) {
    case DataKind::kText: {
      static const char* words[] = {"the ",    "zip ",    "archive ", "of ",      "older ",
                                    "method ", "shrink ", "reduce ",  "implode ", "and ",
                                    "data ",   "\r\n",    "entry ",   "bytes ",   "copy "};
      while (d.size() < Size) {
        const std::string w = words[rng() % 15];
        for (char c : w)
          if (d.size() < Size) d.push_back(static_cast<uint8_t>(c));
      }
      break;
    }
    case DataKind::kRandom:
      while (d.size() < Size) d.push_back(static_cast<uint8_t>(rng()));
      break;
    case DataKind::kRuns:
      while (d.size() < Size) {
        if (rng() % 2) {
          const uint8_t b = static_cast<uint8_t>(rng() % 4 == 0 ? 144 : rng());
          for (size_t n = 1 + rng() % 2000; n > 0 && d.size() < Size; --n) d.push_back(b);
        } else if (d.size() > 16) {
          const size_t back = 1 + rng() % std::min<size_t>(d.size(), 9000);
          for (size_t n = 1 + rng() % 1500; n > 0 && d.size() < Size; --n)
            d.push_back(d[d.size() - back]);
        } else {
          d.push_back(static_cast<uint8_t>(rng()));
        }
      }
      break;
    case DataKind::kBinary:
      while (d.size() < Size) {
        const uint32_t r = rng();
        if (r % 7 == 0)
          d.push_back(144);
        else if (r % 3 == 0)
          d.push_back(static_cast<uint8_t>(d.size() & 0xFF));
        else
          d.push_back(static_cast<uint8_t>((r >> 8) % 24));
      }
      break;
  }
  return d;
}

}  // namespace zipkit::testing
