// How hard the deflate encoder searches, by compression level, and how the archive's deflation
// option picks the level.
#pragma once

#include <cstdint>

#include "zip/zip_archive.h"  // TAbZipDeflationOption

namespace zipkit {

struct TDeflateLevel {
  // Once the best match so far is this long, only a quarter of the chain is searched.
  uint16_t GoodLength;
  // A match at least this long is taken without trying the next position for a longer one.
  uint16_t LazyLimit;
  // The most hash chain candidates examined per search.
  uint16_t ChainLimit;
};

// Level 1 to 9; any other level counts as 5.
TDeflateLevel DeflateLevel(int Level);

// doMaximum 9, doFast 3, doSuperFast 1, everything else 5.
int LevelForOption(TAbZipDeflationOption Option);

}  // namespace zipkit
