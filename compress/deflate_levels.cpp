#include "compress/deflate_levels.h"

namespace zipkit {

namespace {

// Indexed by level - 1. Only 1, 3, 5 and 9 are reachable through the deflation options; the
// other rows keep the scale continuous for callers that pass a level directly.
constexpr TDeflateLevel kLevels[9] = {
    {4, 4, 4},       // 1
    {4, 5, 8},       // 2
    {4, 6, 32},      // 3
    {4, 4, 16},      // 4
    {8, 16, 32},     // 5
    {8, 16, 128},    // 6
    {8, 32, 256},    // 7
    {32, 128, 1024}, // 8
    {32, 258, 4096}, // 9
};

}  // namespace

TDeflateLevel DeflateLevel(int Level) {
  if (Level < 1 || Level > 9) Level = 5;
  return kLevels[Level - 1];
}

int LevelForOption(TAbZipDeflationOption Option) {
  switch (Option) {
    case doMaximum: return 9;
    case doFast: return 3;
    case doSuperFast: return 1;
    default: return 5;
  }
}

}  // namespace zipkit
