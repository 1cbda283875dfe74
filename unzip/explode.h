// Explode: the decoder of method 6 (imploded), a sliding dictionary of 4 or 8 KB whose
// literals, lengths and distances are coded with Shannon-Fano trees sent ahead of the data.
#pragma once

#include <cstdint>

#include "unzip/legacy_io.h"

namespace zipkit::legacy {

// Decodes one imploded item of Expected bytes. Dict8K: flag bit 1 (7 low distance bits, else
// 6). LiteralTree: flag bit 2 (three trees, literals coded, matches from 3 bytes; else two
// trees, plain 8-bit literals, matches from 2 bytes).
void Explode(Input& In, Output& Out, int64_t Expected, bool Dict8K, bool LiteralTree);

}  // namespace zipkit::legacy
