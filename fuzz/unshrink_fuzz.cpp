// Unshrink on arbitrary data: byte 0 picks how the input is cut into blocks; bytes 1 and 2 give
// the item's size (which only decides where output blocks are cut).
#include "unzip/testing/legacy_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 3) return 0;
  const size_t block = Data[0] ? Data[0] : 4096;
  const int64_t expected = Data[1] | (Data[2] << 8);
  zipkit::fuzzing::CheckAgainstReference({1}, Data + 3, Size - 3, expected, block);
  return 0;
}
