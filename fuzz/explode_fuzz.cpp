// Explode on arbitrary data: byte 0 picks the dictionary (bit 0), the tree count (bit 1) and
// how the input is cut into blocks (bits 2 to 7); bytes 1 and 2 give the item's size.
#include "unzip/testing/legacy_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 3) return 0;
  const zipkit::testing::Codec c{6, (Data[0] & 1) != 0, (Data[0] & 2) != 0};
  const size_t block = (Data[0] >> 2) ? (Data[0] >> 2) : 4096;
  const int64_t expected = Data[1] | (Data[2] << 8);
  zipkit::fuzzing::CheckAgainstReference(c, Data + 3, Size - 3, expected, block);
  return 0;
}
