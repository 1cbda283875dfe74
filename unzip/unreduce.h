// Unreduce: the decoder of methods 2 to 5 (reduced with factors 1 to 4): bytes coded against
// per-byte follower sets, then expanded where the byte 144 introduces a copy of earlier output.
#pragma once

#include <cstdint>

#include "unzip/legacy_io.h"

namespace zipkit::legacy {

// Decodes one reduced item of Expected bytes; Factor = method - 1. A factor outside 1 to 4
// raises InvalidFactor at the first copy.
void Unreduce(Input& In, Output& Out, int64_t Expected, int Factor);

}  // namespace zipkit::legacy
