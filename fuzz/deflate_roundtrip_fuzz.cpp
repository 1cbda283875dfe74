// Our deflate, then zlib's raw inflate and our own inflate (through its window, in spans, and
// straight into a buffer of the exact size), must each give the input back, at every level and
// whatever sizes the input arrives in.
//
// Input layout: byte 0 picks the level (1..9), byte 1 the size of each read the encoder gets
// (0: as much as it asks for), the rest is the data.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compress/deflate.h"
#include "support/errors.h"
#include "unzip/inflate.h"

namespace {

class TFuzzInput : public zipkit::TDeflateInput {
 public:
  TFuzzInput(const uint8_t* data, size_t size, size_t chunk) : data_(data), left_(size), chunk_(chunk) {}
  int32_t ReadInput(uint8_t* Buffer, int32_t Count) override {
    size_t n = std::min(left_, static_cast<size_t>(Count));
    if (chunk_ != 0) n = std::min(n, chunk_);
    if (n != 0) std::memcpy(Buffer, data_, n);
    data_ += n;
    left_ -= n;
    return static_cast<int32_t>(n);
  }

 private:
  const uint8_t* data_;
  size_t left_;
  size_t chunk_;
};

class TFuzzOutput : public zipkit::TDeflateOutput {
 public:
  void WriteOutput(const uint8_t* Buffer, int32_t Count) override {
    if (Count <= 0) std::abort();
    bytes.insert(bytes.end(), Buffer, Buffer + Count);
  }
  std::vector<uint8_t> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int level = 1 + data[0] % 9;
  const size_t chunk = data[1];
  data += 2;
  size -= 2;

  TFuzzInput input(data, size, chunk);
  TFuzzOutput output;
  const zipkit::TDeflateResult result = zipkit::TDeflater(level).Run(input, output);
  if (result.CompressedSize != static_cast<int64_t>(output.bytes.size())) std::abort();
  // Stored blocks bound the growth: 5 bytes per 16 KiB at the very worst, plus the end.
  if (output.bytes.size() > size + 5 * (size / 16384 + 2)) std::abort();

  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) std::abort();
  std::vector<uint8_t> back(size + 1);
  z.next_in = output.bytes.data();
  z.avail_in = static_cast<uInt>(output.bytes.size());
  z.next_out = back.data();
  z.avail_out = static_cast<uInt>(back.size());
  const int rc = inflate(&z, Z_FINISH);
  const size_t produced = z.total_out;
  const bool all_input_used = z.avail_in == 0;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || !all_input_used || produced != size) std::abort();
  if (size != 0 && std::memcmp(back.data(), data, size) != 0) std::abort();

  // Our inflate, through its window with input spans of the encoder's read size ...
  const std::vector<uint8_t> original(data, data + size);
  {
    zipkit::TInflateMemoryInput in(output.bytes.data(), output.bytes.size(), chunk);
    zipkit::TInflateVectorOutput out;
    zipkit::TAbInflater inflater(in, out, size);
    try {
      inflater.Run();
    } catch (const zipkit::EAbZipInflateBlock&) {
      std::abort();
    }
    if (inflater.EndedByInput() || out.Bytes != original) std::abort();
  }
  // ... and straight into a buffer just large enough.
  {
    zipkit::TInflateMemoryInput in(output.bytes.data(), output.bytes.size(), 0);
    std::vector<uint8_t> direct(size);
    zipkit::TAbInflater inflater(in, direct.data(), direct.size());
    try {
      inflater.Run();
    } catch (const zipkit::EAbZipInflateBlock&) {
      std::abort();
    }
    if (inflater.EndedByInput() || inflater.OutputSize() != size || direct != original)
      std::abort();
  }
  return 0;
}
