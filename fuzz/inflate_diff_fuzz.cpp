// Ours against zlib. The first byte chooses the mode:
// - even: the rest is a raw deflate stream; where zlib decodes it to its end, ours must give
//   the same bytes. (zlib refuses distances before the start, which we read as zeros, and a few
//   codes we accept; those inputs are skipped.)
// - odd: the rest is data, compressed by zlib with a level, strategy, window and memory level
//   taken from the next bytes; ours must give the data back, whatever the input spans.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/errors.h"
#include "unzip/inflate.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxOutput = 16 << 20;

void Expect(bool Condition, const char* What) {
  if (!Condition) {
    std::fprintf(stderr, "inflate differs from zlib: %s\n", What);
    std::abort();
  }
}

// zlib's raw inflate; false unless it reaches the end of the final block.
bool ZlibInflate(const uint8_t* Data, size_t Size, Bytes& Out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(Data);
  z.avail_in = static_cast<uInt>(Size);
  int rc = Z_OK;
  uint8_t chunk[1 << 16];
  Out.clear();
  while (rc == Z_OK && Out.size() < kMaxOutput) {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    rc = inflate(&z, Z_NO_FLUSH);
    Out.insert(Out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) break;  // wants more input
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

bool ZlibDeflate(const uint8_t* Data, size_t Size, int Level, int Strategy, int WindowBits,
                 int MemLevel, Bytes& Out) {
  z_stream z{};
  if (deflateInit2(&z, Level, Z_DEFLATED, -WindowBits, MemLevel, Strategy) != Z_OK) return false;
  Out.resize(deflateBound(&z, static_cast<uLong>(Size)) + 64);
  z.next_in = const_cast<Bytef*>(Data);
  z.avail_in = static_cast<uInt>(Size);
  z.next_out = Out.data();
  z.avail_out = static_cast<uInt>(Out.size());
  const int rc = deflate(&z, Z_FINISH);
  Out.resize(z.total_out);
  deflateEnd(&z);
  return rc == Z_STREAM_END;
}

struct TOurs {
  bool Ok = false;
  bool EndedByInput = false;
  Bytes Output;
};

TOurs Ours(const Bytes& In, size_t Span) {
  zipkit::TInflateMemoryInput input(In.data(), In.size(), Span);
  zipkit::TInflateVectorOutput output;
  zipkit::TAbInflater inflater(input, output);
  TOurs r;
  try {
    inflater.Run();
    r.Ok = true;
  } catch (const zipkit::EAbZipInflateBlock&) {
  }
  r.EndedByInput = inflater.EndedByInput();
  r.Output = std::move(output.Bytes);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  const uint8_t mode = Data[0];
  const size_t span = 1 + Data[1] % 61;
  Data += 2;
  Size -= 2;

  if ((mode & 1) == 0) {
    const Bytes stream(Data, Data + Size);
    Bytes expected;
    if (!ZlibInflate(Data, Size, expected)) return 0;
    const TOurs r = Ours(stream, (mode & 2) ? span : 0);
    Expect(r.Ok, "zlib decodes what we refuse");
    Expect(!r.EndedByInput, "the input ran out before the final end code");
    Expect(r.Output == expected, "output");
    return 0;
  }

  if (Size < 3) return 0;
  const int level = Data[0] % 10;
  const int strategy = Data[1] % 5;  // default, filtered, Huffman only, RLE, fixed
  const int windowBits = 9 + Data[2] % 7;
  const int memLevel = 1 + (Data[2] >> 3) % 9;
  Data += 3;
  Size -= 3;
  Bytes stream;
  if (!ZlibDeflate(Data, Size, level, strategy, windowBits, memLevel, stream)) return 0;
  const TOurs r = Ours(stream, span);
  Expect(r.Ok, "refused a zlib stream");
  Expect(!r.EndedByInput, "a zlib stream ended early");
  Expect(r.Output == Bytes(Data, Data + Size), "round trip");
  return 0;
}
