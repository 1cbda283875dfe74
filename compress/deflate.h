// The deflate encoder (RFC 1951): a 32 KiB window searched through hash chains over three-byte
// strings, lazy match evaluation tuned by the compression level, and a per-block choice between
// stored, fixed-code and dynamic-code blocks by their exact size in bits.
//
// It reads from a TDeflateInput and writes to a TDeflateOutput, so it runs on plain memory as
// well as behind the archive writer's streams (TAbZipHelper).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zipkit {

// Supplies the bytes to compress.
class TDeflateInput {
 public:
  virtual ~TDeflateInput() = default;
  // Fills up to Count bytes (Count > 0) and returns how many it gave; 0 means the input ended.
  virtual int32_t ReadInput(uint8_t* Buffer, int32_t Count) = 0;
};

// Receives the compressed bytes in order.
class TDeflateOutput {
 public:
  virtual ~TDeflateOutput() = default;
  virtual void WriteOutput(const uint8_t* Buffer, int32_t Count) = 0;
};

// What the literal statistics of the first block said about the data.
enum TDeflateDataType : uint8_t { dtBinary = 0, dtText = 1, dtUnknown = 2 };

struct TDeflateResult {
  int64_t CompressedSize = 0;
  TDeflateDataType DataType = dtUnknown;
};

namespace deflate_detail {
struct TDeflateState;
}

// One deflater serves any number of runs, one after the other; its tables (about 300 KiB) are
// allocated once.
class TDeflater {
 public:
  explicit TDeflater(int Level);
  ~TDeflater();
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  // Compresses everything Input yields into one complete raw deflate stream.
  TDeflateResult Run(TDeflateInput& Input, TDeflateOutput& Output);

 private:
  int level_;
  std::unique_ptr<deflate_detail::TDeflateState> state_;
};

// Compresses a memory buffer into a raw deflate stream.
std::vector<uint8_t> DeflateBuffer(const uint8_t* Data, size_t Size, int Level);

}  // namespace zipkit
