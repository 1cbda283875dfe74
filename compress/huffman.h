// Huffman code lengths for one deflate block: optimal lengths from the symbol frequencies, then
// cut to the alphabet's greatest length with the fewest extra bits.
#pragma once

#include <cstdint>

namespace zipkit::deflate_detail {

// Largest alphabet built here (literal/length codes).
constexpr int kMaxAlphabet = 286;

// Builds code lengths for Freq[0..count) into Lengths (0 for unused codes), no longer than
// max_length. A tree with fewer than two used codes gets dummy codes (frequency treated as 1)
// so that every code is complete. Returns the highest code with a non-zero length.
//
// Ties are broken toward the shallower subtree, so that the result needs as little length
// limiting as possible.
int BuildCodeLengths(const uint16_t* Freq, int count, int max_length, uint8_t* Lengths);

// Canonical codes (RFC 1951, 3.2.2) for Lengths[0..count), bit-reversed so that they can be sent
// least significant bit first.
void AssignCodes(const uint8_t* Lengths, int count, uint16_t* Codes);

}  // namespace zipkit::deflate_detail
