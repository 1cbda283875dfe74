// The sliding window and the bit bucket driven by arbitrary operation sequences, each checked
// against a plain model: a vector of every byte written and a position.
//
// Byte 0 picks the stream: bit 0 the window (over a recording memory stream, or over a bit
// bucket when bit 1 is set) or the bucket (bits 1-2 its size: 4096, 8192, 32768, or any value
// read from the input). Then each operation is one byte (bits 0-1: write, read, seek, size and
// position; bits 2-3: the seek's origin, 3 being invalid; bit 4: a count or offset of 32 bits
// instead of 16) followed by its argument.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "host/exceptions.h"
#include "host/stream.h"
#include "support/bit_bucket.h"
#include "support/errors.h"
#include "support/sliding_window.h"

namespace {

using namespace zipkit;
using Bytes = std::vector<uint8_t>;

void Expect(bool Condition, const char* What) {
  if (!Condition) {
    std::fprintf(stderr, "stream differs from its model: %s\n", What);
    std::abort();
  }
}

class TInput {
 public:
  TInput(const uint8_t* Data, size_t Size) : data_(Data), left_(Size) {}
  bool Empty() const { return left_ == 0; }
  uint8_t Byte() {
    if (left_ == 0) return 0;
    --left_;
    return *data_++;
  }
  int32_t Int(bool Wide) {
    uint32_t v = Byte() | (Byte() << 8);
    if (!Wide) return static_cast<int16_t>(v);
    v |= static_cast<uint32_t>(Byte()) << 16 | static_cast<uint32_t>(Byte()) << 24;
    return static_cast<int32_t>(v);
  }

 private:
  const uint8_t* data_;
  size_t left_;
};

// Bytes to write: a function of their position, distinct enough that a byte in the wrong place
// shows; cut from one table.
constexpr int64_t kPeriod = 65521;
Bytes Payload(int64_t From, int32_t Count) {
  static const Bytes table = [] {
    Bytes t(kPeriod + 65536);
    for (size_t i = 0; i < t.size(); ++i) {
      const uint64_t n = i % kPeriod;
      t[i] = static_cast<uint8_t>(n * 131 + (n >> 8) * 7 + (n >> 13));
    }
    return t;
  }();
  const auto start = table.begin() + From % kPeriod;
  return Bytes(start, start + std::clamp(Count, 0, 65536));
}

// The model stops growing here; longer streams only repeat what shorter ones showed.
constexpr size_t kMaxModel = 1 << 20;

// The window's target: every write must land at its end, so the output is written strictly in
// order and once.
class TRecorder : public TMemoryStream {
 public:
  int32_t Write(const void* Buffer, int32_t Count) override {
    Expect(Position() == Size(), "target written out of order");
    return TMemoryStream::Write(Buffer, Count);
  }
};

void WindowCase(TInput& In, bool OverBucket) {
  TRecorder recorder;
  TAbBitBucketStream bucket;
  TStream& target = OverBucket ? static_cast<TStream&>(bucket) : recorder;
  Bytes model;      // everything written
  int64_t pos = 0;  // may be negative: the first 32 KiB read as zeros before the data
  {
    TabSlidingWindowStream window(target);
    // Positions before this one have reached the target.
    auto start = [&] { return static_cast<int64_t>(model.size() / 8192) * 8192 - 32768; };
    while (!In.Empty()) {
      const uint8_t op = In.Byte();
      const bool wide = op & 0x10;
      switch (op & 3) {
        case 0: {  // write
          const int32_t count = wide ? In.Int(true) : static_cast<uint16_t>(In.Int(false));
          const int32_t cut = std::clamp(count, 0, 32768);
          if (model.size() > kMaxModel) break;
          const Bytes data = Payload(static_cast<int64_t>(model.size()), cut);
          if (pos != static_cast<int64_t>(model.size())) {
            bool raised = false;
            try {
              window.Write(data.data(), count);
            } catch (const Exception&) {
              raised = true;
            }
            Expect(raised, "write away from the end");
            break;
          }
          Expect(window.Write(data.data(), count) == cut, "write count");
          model.insert(model.end(), data.begin(), data.end());
          pos = static_cast<int64_t>(model.size());
          break;
        }
        case 1: {  // read
          const int32_t count = wide ? In.Int(true) : static_cast<uint16_t>(In.Int(false));
          const int64_t n = std::max<int64_t>(
              0, std::min<int64_t>({count, 32768, static_cast<int64_t>(model.size()) - pos}));
          Bytes got(static_cast<size_t>(n) + 1, 0xEE);
          Expect(window.Read(got.data(), count) == n, "read count");
          for (int64_t i = 0; i < n; ++i) {
            const int64_t at = pos + i;
            const uint8_t want = at < 0 ? 0 : model[static_cast<size_t>(at)];
            Expect(got[static_cast<size_t>(i)] == want, "byte read");
          }
          Expect(got[static_cast<size_t>(n)] == 0xEE, "read beyond the count");
          pos += n;
          break;
        }
        case 2: {  // seek
          const uint16_t origin = (op >> 2) & 3;
          const int32_t offset = In.Int(wide);
          const int64_t base = origin == 0 ? 0 : origin == 1 ? pos : static_cast<int64_t>(model.size());
          const int64_t want = base + offset;
          const bool ok = origin != 3 && want >= start() && want <= static_cast<int64_t>(model.size());
          bool raised = false;
          int32_t got = 0;
          try {
            got = window.Seek(offset, origin);
          } catch (const Exception&) {
            raised = true;
          }
          Expect(raised == !ok, ok ? "a valid seek raised" : "an invalid seek passed");
          if (ok) {
            Expect(got == want, "seek result");
            pos = want;
          }
          break;
        }
        default:
          Expect(window.Position() == pos, "position");
          Expect(window.Size() == static_cast<int64_t>(model.size()), "size");
          Expect(window.Position() == pos, "position after size");
          break;
      }
      if (!OverBucket) {
        const int64_t sent = std::max<int64_t>(start(), 0);
        Expect(recorder.Size() == sent, "bytes sent to the target");
      }
    }
    if (In.Byte() & 1) window.Flush();  // else the destructor flushes
  }
  if (!OverBucket) {
    Expect(recorder.Size() == static_cast<int64_t>(model.size()), "target size at the end");
    Expect(model.empty() || std::memcmp(recorder.Memory(), model.data(), model.size()) == 0,
           "target bytes");
    return;
  }
  // The bucket keeps the newest 33791 bytes that it can seek back to.
  const int32_t total = static_cast<int32_t>(model.size());
  Expect(bucket.Seek(0, soFromEnd) == total, "bucket size");
  const int32_t keep = std::min(total, 33791);
  Expect(bucket.Seek(total - keep, soFromBeginning) == total - keep, "bucket seek");
  Bytes tail(static_cast<size_t>(keep));
  Expect(bucket.Read(tail.data(), keep) == keep, "bucket read");
  Expect(std::equal(tail.begin(), tail.end(), model.end() - keep), "bucket bytes");
}

void BucketCase(TInput& In, int32_t Requested) {
  const int32_t ring =
      (Requested == 4096 || Requested == 8192 || Requested == 32768 ? Requested : 32768) + 1024;
  TAbBitBucketStream bucket(Requested);
  Bytes model;
  int64_t pos = 0;
  while (!In.Empty()) {
    const uint8_t op = In.Byte();
    const bool wide = op & 0x10;
    const int64_t total = static_cast<int64_t>(model.size());
    switch (op & 3) {
      case 0: {
        const int32_t count = wide ? In.Int(true) : static_cast<uint16_t>(In.Int(false));
        if (model.size() > kMaxModel) break;
        const Bytes data = Payload(total, std::min(count, ring));
        if (count > ring) {
          bool raised = false;
          try {
            bucket.Write(data.data(), count);
          } catch (const EAbBBSWriteTooManyBytes&) {
            raised = true;
          }
          Expect(raised, "oversized write");
          break;
        }
        Expect(bucket.Write(data.data(), count) == std::max(count, 0), "write count");
        if (count <= 0) break;  // nothing written, nothing moves
        model.insert(model.end(), data.begin(), data.end());
        pos = static_cast<int64_t>(model.size());
        break;
      }
      case 1: {
        const int32_t count = wide ? In.Int(true) : static_cast<uint16_t>(In.Int(false));
        const bool ok = count <= ring && (count <= 0 || total - pos >= count);
        Bytes got(static_cast<size_t>(std::clamp(count, 0, ring)) + 1, 0xEE);
        int32_t n_read = 0;
        bool raised = false;
        try {
          n_read = bucket.Read(got.data(), count);
        } catch (const EAbBBSReadTooManyBytes&) {
          raised = true;
        }
        Expect(raised == !ok, ok ? "a valid read raised" : "an invalid read passed");
        if (!ok) break;
        Expect(n_read == std::max(count, 0), "read count");
        const size_t n = static_cast<size_t>(std::max(count, 0));
        Expect(std::equal(got.begin(), got.begin() + static_cast<ptrdiff_t>(n),
                          model.begin() + pos),
               "bytes read");
        Expect(got[n] == 0xEE, "read beyond the count");
        pos += static_cast<int64_t>(n);
        break;
      }
      case 2: {
        const uint16_t origin = (op >> 2) & 3;
        const int32_t offset = In.Int(wide);
        const int64_t base = origin == 0 ? 0 : origin == 1 ? pos : total;
        const int64_t want = base + offset;
        const bool ok = (origin == 2 && offset == 0) ||
                        (origin != 3 && want <= total && want > total - ring && want >= 0);
        bool raised = false;
        int32_t got = 0;
        try {
          got = bucket.Seek(offset, origin);
        } catch (const EAbBBSInvalidOrigin&) {
          raised = true;
          Expect(origin == 3, "invalid origin raised for a valid one");
        } catch (const EAbBBSSeekOutsideBuffer&) {
          raised = true;
          Expect(origin != 3, "an invalid origin reported as outside the buffer");
        }
        Expect(raised == !ok, ok ? "a valid seek raised" : "an invalid seek passed");
        if (ok) {
          Expect(got == want, "seek result");
          pos = want;
        }
        break;
      }
      default:
        Expect(bucket.Position() == pos, "position");
        Expect(bucket.Size() == total, "size");
        Expect(bucket.Position() == pos, "position after size");
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0 || Size > 4096) return 0;
  TInput in(Data + 1, Size - 1);
  const uint8_t kind = Data[0];
  if (kind & 1) {
    WindowCase(in, (kind & 2) != 0);
    return 0;
  }
  static const int32_t kSizes[] = {4096, 8192, 32768};
  const int selector = (kind >> 1) & 3;
  BucketCase(in, selector < 3 ? kSizes[selector] : in.Int(true));
  return 0;
}
