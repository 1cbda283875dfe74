#include "compress/deflate.h"

#include <algorithm>
#include <cstring>

#include "compress/bit_writer.h"
#include "compress/block_writer.h"
#include "compress/matcher.h"

namespace zipkit {

namespace deflate_detail {

struct TDeflateState {
  TMatcher matcher;
  TBlockWriter blocks;
};

}  // namespace deflate_detail

TDeflater::TDeflater(int Level) : level_(Level), state_(std::make_unique<deflate_detail::TDeflateState>()) {}

TDeflater::~TDeflater() = default;

TDeflateResult TDeflater::Run(TDeflateInput& Input, TDeflateOutput& Output) {
  deflate_detail::TBitWriter bits(Output);
  state_->blocks.Start(bits);
  state_->matcher.Run(Input, state_->blocks, level_);
  TDeflateResult result;
  result.CompressedSize = bits.Total();
  result.DataType = state_->blocks.DataType();
  return result;
}

namespace {

class TMemoryInput : public TDeflateInput {
 public:
  TMemoryInput(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  int32_t ReadInput(uint8_t* Buffer, int32_t Count) override {
    const size_t n = std::min(left_, static_cast<size_t>(Count));
    if (n != 0) std::memcpy(Buffer, data_, n);
    data_ += n;
    left_ -= n;
    return static_cast<int32_t>(n);
  }

 private:
  const uint8_t* data_;
  size_t left_;
};

class TVectorOutput : public TDeflateOutput {
 public:
  explicit TVectorOutput(std::vector<uint8_t>& out) : out_(out) {}
  void WriteOutput(const uint8_t* Buffer, int32_t Count) override {
    out_.insert(out_.end(), Buffer, Buffer + Count);
  }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace

std::vector<uint8_t> DeflateBuffer(const uint8_t* Data, size_t Size, int Level) {
  std::vector<uint8_t> out;
  out.reserve(Size / 2 + 64);
  TMemoryInput input(Data, Size);
  TVectorOutput output(out);
  TDeflater(Level).Run(input, output);
  return out;
}

}  // namespace zipkit
