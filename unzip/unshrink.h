// Unshrink: the decoder of method 1 (shrunk), dynamic LZW with codes of 9 to 13 bits and a
// control code that widens the codes or frees the leaves of the dictionary.
#pragma once

#include <cstdint>

#include "unzip/legacy_io.h"

namespace zipkit::legacy {

// Decodes one shrunk item. The data alone says where it ends; Expected only decides where
// output blocks are cut (a block is written when the item's size is reached).
void Unshrink(Input& In, Output& Out, int64_t Expected);

}  // namespace zipkit::legacy
