// Bit reversal for the codecs that send Huffman codes most significant bit first.
#pragma once

#include <cstdint>

namespace zipkit {

// kReverseBits[i] is i with its eight bits in reverse order.
extern const uint8_t (&kReverseBits)[256];

// The lowest Count bits (1 to 16) of Value in reverse order; for Count up to 8 the high byte of
// Value is ignored.
uint16_t ReverseLowBits(uint16_t Value, int32_t Count);

// Reverses the order of the 16 low bits of Value; the 16 high bits stay.
void ReverseLowWord(uint32_t& Value);

}  // namespace zipkit
