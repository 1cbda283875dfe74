// Inflate: the decoder of deflated data (RFC 1951). It reads compressed bytes from a TInput one
// span at a time and hands decoded bytes to a TOutput; it knows nothing of archives.
//
// Its behaviour at the edges is that of the engine's reference decoder, which fetches input one
// byte at a time as its bit requests need it:
// - The input is asked for its next span exactly when the reference decoder would take the first
//   byte beyond the current one, never earlier (a span may end a volume of a spanned set).
// - Once the input has ended, the bits that follow are copies of TInput::StaleByte, and a block
//   of codes ends as if its end code had been read at the first symbol that starts past the
//   last bit of the data. A lookup can reach past the end while the symbols behind it are
//   still in the data's last bits; those are all decoded. A block that is not the last and
//   ends with the input used up fails: the data was cut off.
// - Distances reach up to 32768 bytes back; before the first output byte they read zeros.
// Within those rules the decoder is free to look ahead: it decodes with wide tables and a 64-bit
// bit register, and writes straight into a window that holds the history and a large stretch of
// new output, which it hands on in one piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "unzip/inflate_tables.h"

namespace zipkit {

class TAbInflater {
 public:
  class TInput {
   public:
    virtual ~TInput() = default;
    // The next span of compressed bytes; false when the data has ended.
    virtual bool NextSpan(const uint8_t*& Begin, const uint8_t*& End) = 0;
    // The byte read again and again past the end of the data.
    virtual uint8_t StaleByte() = 0;
  };
  class TOutput {
   public:
    virtual ~TOutput() = default;
    virtual void Put(const uint8_t* Data, size_t Count) = 0;
  };

  // Output through a window of its own, handed to Output in large pieces. SizeHint (the
  // expected output size, 0 if unknown) only keeps the window smaller for small items; it
  // never makes it larger than the default, and output beyond it is no slower.
  TAbInflater(TInput& Input, TOutput& Output, size_t SizeHint = 0);
  // Output straight into Capacity bytes at Output; a stream whose output does not fit fails
  // (EAbZipInflateBlock) once it reaches the end of the buffer.
  TAbInflater(TInput& Input, uint8_t* Output, size_t Capacity);
  ~TAbInflater();
  TAbInflater(const TAbInflater&) = delete;
  TAbInflater& operator=(const TAbInflater&) = delete;

  // Decodes up to the end of the final block. On a damaged block the bytes decoded before it
  // are handed on and EAbZipInflateBlock is raised.
  void Run();

  // The input ran out (the decoder wanted bytes past its end).
  bool InputEnded() const { return ended_; }
  // The last block decoded ended because the input ran out rather than at its end code.
  bool EndedByInput() const { return endedByInput_; }
  // Bytes written so far into the buffer of a direct decoder.
  size_t OutputSize() const { return static_cast<size_t>(outNext_ - valid_); }

 private:
  enum class TFastResult { kMore, kEndOfBlock, kInvalid };

  bool DecodeBlock();  // returns the block's final-block flag
  void CopyStoredBlock();
  void DecodeDynamicBlock();
  void DecodeCodes(const THuffmanTable& Literal, const THuffmanTable& Distance);
  bool DecodeSymbol(const THuffmanTable& Literal, const THuffmanTable& Distance);
  TFastResult DecodeFast(const THuffmanTable& Literal, const THuffmanTable& Distance);
  [[noreturn]] void Fail();

  // Bit input, byte by byte as the reference decoder takes it.
  void NextSpan();
  void LoadByte();
  void TopUp();
  void Want(unsigned N);
  uint32_t Bits(unsigned N) const { return static_cast<uint32_t>(bitbuf_ & ((1ull << N) - 1)); }
  void Drop(unsigned N) {
    bitbuf_ >>= N;
    bitsleft_ -= N;
  }
  uint32_t Lookup(const THuffmanTable& Table, unsigned& Skip);

  // Output.
  void SetUpWindow(uint8_t* Base, size_t Size, size_t Limit);
  void MakeRoom();
  void Flush();
  void EmitPending();
  void CopyMatch(uint32_t Distance, uint32_t Length);

  TInput& input_;
  TOutput* output_;  // none: output goes straight into the caller's buffer

  uint64_t bitbuf_ = 0;     // next bits of the stream, first bit lowest
  unsigned bitsleft_ = 0;   // valid bits in bitbuf_; the bits above are 0 or the next span bytes
  const uint8_t* inNext_ = nullptr;
  const uint8_t* inEnd_ = nullptr;
  bool ended_ = false;
  bool endedByInput_ = false;
  uint8_t stale_ = 0;
  unsigned staleBits_ = 0;  // bits taken into the register past the end; they sit above the data

  // The window: 32768 bytes of history, then new output (a direct decoder has the caller's
  // buffer and no history). Bytes before valid_ were never written: a distance reaching there
  // reads zeros. The fast loop may start a symbol while outNext_ <= outLimit_ (no limit: it
  // may not); the room behind covers one longest match and the overrun of word-sized copies.
  std::unique_ptr<uint8_t[]> window_;
  uint8_t* outNext_ = nullptr;
  uint8_t* outLimit_ = nullptr;
  uint8_t* windowEnd_ = nullptr;  // end of the room for output; a window has slack behind it
  uint8_t* emitted_ = nullptr;    // output before this has been handed on
  uint8_t* valid_ = nullptr;

  // One block's tables.
  std::unique_ptr<THuffmanTable> literal_;
  std::unique_ptr<THuffmanTable> distance_;
  std::unique_ptr<THuffmanTable> codeLengths_;
};

// Compressed bytes held in memory, handed out in spans of at most SpanSize bytes (0: one span).
class TInflateMemoryInput : public TAbInflater::TInput {
 public:
  TInflateMemoryInput(const uint8_t* Data, size_t Size, size_t SpanSize = 0)
      : data_(Data), size_(Size), span_(SpanSize == 0 ? Size : SpanSize) {}
  bool NextSpan(const uint8_t*& Begin, const uint8_t*& End) override;
  uint8_t StaleByte() override { return pos_ > 0 ? data_[pos_ - 1] : 0; }
  size_t Taken() const { return pos_; }  // bytes handed out so far
  int Spans() const { return spans_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t span_;
  size_t pos_ = 0;
  int spans_ = 0;
};

class TInflateVectorOutput : public TAbInflater::TOutput {
 public:
  void Put(const uint8_t* Data, size_t Count) override { Bytes.insert(Bytes.end(), Data, Data + Count); }
  std::vector<uint8_t> Bytes;
};

}  // namespace zipkit
