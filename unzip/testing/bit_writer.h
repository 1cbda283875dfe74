// Test tool: writes bits least significant first, as the older ZIP methods store them.
#pragma once

#include <cstdint>
#include <vector>

namespace zipkit::testing {

class BitWriter {
 public:
  void Put(uint32_t Value, int Bits) {
    acc_ |= static_cast<uint64_t>(Value & ((Bits >= 32) ? ~0u : ((1u << Bits) - 1))) << count_;
    count_ += Bits;
    while (count_ >= 8) {
      out_.push_back(static_cast<uint8_t>(acc_));
      acc_ >>= 8;
      count_ -= 8;
    }
  }
  // The bytes written, the last one padded with zero bits.
  std::vector<uint8_t> Finish() {
    if (count_ > 0) out_.push_back(static_cast<uint8_t>(acc_));
    acc_ = 0;
    count_ = 0;
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_;
  uint64_t acc_ = 0;
  int count_ = 0;
};

}  // namespace zipkit::testing
