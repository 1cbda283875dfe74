// Plumbing of the decoders of the older methods (shrink, reduce, implode): where their
// compressed bytes come from, a bit reader over them, and where their output goes.
//
// The decoders know nothing of the decompressor. It plugs in through Input and Output
// (legacy_helper.cpp); tests, benchmarks and fuzz targets drive the same code on memory.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "host/exceptions.h"

namespace zipkit::legacy {

// Compressed data that a decoder refuses to follow any further: a code wider than 13 bits, a
// string that never ends. The decompressor reports it as a damaged item.
class CorruptInput : public Exception {
 public:
  using Exception::Exception;
};

// A reduce factor outside 1 to 4.
class InvalidFactor : public Exception {
 public:
  InvalidFactor() : Exception("Invalid Reduce Factor") {}
};

// The compressed bytes of one item, handed out block by block.
class Input {
 public:
  virtual ~Input() = default;
  // The next block, valid until the following call; false once the data is used up.
  virtual bool Next(const uint8_t*& Data, size_t& Size) = 0;
};

// A memory buffer as input, cut into blocks of at most BlockSize bytes (tests cut it small
// to cross block edges everywhere).
class MemoryInput final : public Input {
 public:
  MemoryInput(const uint8_t* Data, size_t Size, size_t BlockSize = 4096)
      : data_(Data), left_(Size), block_(BlockSize ? BlockSize : 1) {}
  bool Next(const uint8_t*& Data, size_t& Size) override {
    if (left_ == 0) return false;
    Data = data_;
    Size = left_ < block_ ? left_ : block_;
    data_ += Size;
    left_ -= Size;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t left_;
  size_t block_;
};

// Where decoded bytes go.
//
// The byte-at-a-time decoders these replace flushed their output buffer at fixed points (when
// it was full, when the item's size was reached, before each byte copied from earlier output)
// and reported progress there when the percentage had changed. The decoders keep those points:
// at the first of them at or beyond ProgressDue() they write everything produced so far and call
// Progress().
class Output {
 public:
  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
  virtual ~Output() = default;
  // Decoded bytes in order, at most 32768 at a time.
  virtual void Write(const uint8_t* Data, int32_t Size) = 0;
  // Bytes produced but not written when the decoder stops, normally or by an exception (at
  // most 32768): the caller's final flush takes them.
  virtual void Leave(const uint8_t* Data, int32_t Size) {
    if (Size > 0) Write(Data, Size);
  }
  // Output count at which the next progress report falls due.
  virtual int64_t ProgressDue() { return kNever; }
  virtual void Progress() {}
};

// The smallest output count above From whose progress percentage differs from Last (the one
// reported last), or kNever. Percent must not decrease as the count grows, and stays the same
// from Whole on.
template <class PercentFn>
int64_t FirstCountWithNewPercent(int64_t From, int64_t Whole, uint8_t Last, PercentFn Percent) {
  int64_t lo = From + 1;
  int64_t hi = Whole > lo ? Whole : lo;
  if (Percent(hi) == Last) return Output::kNever;
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (Percent(mid) != Last) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

// Reads bits least significant first, as the older methods store them. Past the end of the
// data it hands out zero bits; Ended() tells when a read has used any of them, which is when
// the decoders stop. It takes a new block only when the bits asked for need it.
class BitReader {
 public:
  explicit BitReader(Input& In) : in_(In) {}

  // True once a read has taken bits beyond the end of the data.
  bool Ended() const { return count_ < pad_; }

  uint32_t Bits(int N) {  // N = 1..32
    Ensure(N);
    const uint32_t v = static_cast<uint32_t>(buf_ & LowMask(N));
    Skip(N);
    return v;
  }

  // Guarantees N (at most 32) bits in the buffer, taking blocks or zero bits past the end.
  void Ensure(int N) {
    if (count_ < N) Refill(N);
  }
  // Tops the buffer up from the current block only.
  void Fill() {
    if (next_ != end_) Load();
  }
  uint64_t Peek() const { return buf_; }
  int Available() const { return count_; }
  void Skip(int N) {
    buf_ >>= N;
    count_ -= N;
  }

  static uint64_t LowMask(int N) { return N >= 64 ? ~uint64_t{0} : (uint64_t{1} << N) - 1; }

 private:
  // Loads as many bytes of the current block as fit.
  void Load() {
    if (count_ <= 56 && end_ - next_ >= 8) {
      uint64_t word;
      std::memcpy(&word, next_, 8);
      if constexpr (std::endian::native == std::endian::big) word = Swap(word);
      buf_ |= word << count_;
      next_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56 && next_ != end_) {
      buf_ |= uint64_t{*next_++} << count_;
      count_ += 8;
    }
  }

  void Refill(int N) {
    for (;;) {
      Load();
      if (count_ >= N) return;
      size_t size = 0;
      if (!eof_ && in_.Next(next_, size)) {
        end_ = next_ + size;
        buf_ &= LowMask(count_);
        continue;
      }
      eof_ = true;
      next_ = end_ = nullptr;
      // Zero bits past the end. Once some were taken, pad_ stays above count_ (but small).
      if (count_ < pad_) pad_ = count_ + 1;
      buf_ &= LowMask(count_);
      while (count_ < N) {
        count_ += 8;
        pad_ += 8;
      }
      return;
    }
  }

  static uint64_t Swap(uint64_t v) {
    uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r = (r << 8) | ((v >> (8 * i)) & 0xFF);
    return r;
  }

  Input& in_;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t buf_ = 0;
  int count_ = 0;     // valid bits in buf_
  int pad_ = 0;       // of those, zero bits added past the end (the top ones); above
                      // count_ once a read has taken some
  bool eof_ = false;  // Input has no more blocks
};

// Output of the decoders that copy from earlier output (explode, unreduce). The last 8 KB stay
// in front of the bytes being produced, so a copy reads them from memory; before the first byte
// that history is zero, which is what a copy reaching before the start must produce.
class HistoryWriter {
 public:
  static constexpr int32_t kHistory = 8192;  // farthest copy distance of either method
  static constexpr int32_t kBlock = 32768;   // largest write to Output
  static constexpr int32_t kMaxCopy = 512;   // longest copy: 385 bytes (reduce factor 1)

  HistoryWriter(Output& Out, int64_t Expected)
      : out_(Out), buf_(new uint8_t[kHistory + kBlock]()), expected_(Expected) {
    due_ = out_.ProgressDue();
    UpdateWatch();
  }

  int64_t Produced() const { return produced_; }
  // The item's size is reached; the decoders test this before each literal or copy.
  bool Done() const { return produced_ >= expected_; }

  void Literal(uint8_t B) {
    if (pos_ > kLimit) Slide();
    buf_[pos_++] = B;
    if (++produced_ >= watch_) AfterPut();
  }

  // Copies Length bytes (at most kMaxCopy) starting Back bytes (1 to kHistory) behind the end.
  // The copy may overlap the bytes it produces.
  void Copy(uint32_t Back, uint32_t Length) {
    if (pos_ > kLimit) Slide();
    const int64_t end = produced_ + Length;
    // Bytes whose source lies before the start: no flush precedes them.
    const bool all_before_start = static_cast<int64_t>(Back) >= end;
    if (end < watch_ && (all_before_start || end - 1 < due_)) {
      uint8_t* d = buf_.get() + pos_;
      const uint8_t* s = d - Back;
      if (Back >= Length) {
        std::memcpy(d, s, Length);
      } else if (Back == 1) {
        std::memset(d, *s, Length);
      } else {
        for (uint32_t i = 0; i < Length; ++i) d[i] = s[i];
      }
      pos_ += static_cast<int32_t>(Length);
      produced_ = end;
      if (!all_before_start) {  // the old decoders flushed before the last byte
        next_full_ = end - 1 + kBlock;
        UpdateWatch();
      }
      return;
    }
    // A flush point matters inside this copy: go byte by byte as the old decoders did.
    for (uint32_t i = 0; i < Length; ++i) {
      if (produced_ >= static_cast<int64_t>(Back)) {
        FlushPoint();
        UpdateWatch();
      }
      buf_[pos_] = buf_[pos_ - Back];
      ++pos_;
      if (++produced_ >= watch_) AfterPut();
    }
  }

  // Hands the bytes not yet written to Output::Leave: at the end, and on failure (then nothing
  // may be thrown over the failure in flight).
  void Finish() { LeavePending(); }
  void Abandon() noexcept {
    try {
      LeavePending();
    } catch (...) {
    }
  }

 private:
  static constexpr int32_t kLimit = kHistory + kBlock - kMaxCopy;

  void Emit() {
    const int32_t n = pos_ - emitted_;
    if (n == 0) return;
    const uint8_t* p = buf_.get() + emitted_;
    emitted_ = pos_;  // counted as written even if the write fails: never write twice
    out_.Write(p, n);
  }
  void LeavePending() {
    const int32_t n = pos_ - emitted_;
    const uint8_t* p = buf_.get() + emitted_;
    emitted_ = pos_;
    out_.Leave(p, n);
  }
  // Writes the pending bytes and moves the last kHistory bytes to the front.
  void Slide() {
    Emit();
    std::memmove(buf_.get(), buf_.get() + pos_ - kHistory, kHistory);
    pos_ = emitted_ = kHistory;
  }

  // A point where the old decoders flushed: their buffer empties, and progress is reported
  // when it has changed.
  void FlushPoint() {
    next_full_ = produced_ + kBlock;
    if (produced_ >= due_) {
      Emit();
      out_.Progress();
      due_ = out_.ProgressDue();
    }
  }
  // After a byte was put: their buffer was flushed when full or when the item's size was hit.
  void AfterPut() {
    if (produced_ == next_full_ || produced_ == expected_) FlushPoint();
    UpdateWatch();
  }
  void UpdateWatch() {
    watch_ = next_full_;
    if (expected_ > produced_ && expected_ < watch_) watch_ = expected_;
  }

  Output& out_;
  std::unique_ptr<uint8_t[]> buf_;
  int32_t pos_ = kHistory;      // where the next byte goes
  int32_t emitted_ = kHistory;  // first byte not yet written
  int64_t produced_ = 0;
  int64_t expected_;
  int64_t due_ = Output::kNever;
  int64_t next_full_ = kBlock;  // count at which the old buffer would have filled up
  int64_t watch_ = 0;           // the next count at which AfterPut has something to do
};

// Output of unshrink, which copies nothing: bytes collect in a 32 KB block that is written
// when full and when the item's size is reached, as the old decoder wrote its buffer.
class BlockWriter {
 public:
  static constexpr int32_t kBlock = 32768;

  BlockWriter(Output& Out, int64_t Expected)
      : out_(Out), buf_(new uint8_t[kBlock]), expected_(Expected) {
    due_ = out_.ProgressDue();
    SetBoundary();
  }

  int64_t Produced() const { return produced_; }

  void Put(uint8_t B) {
    buf_[fill_++] = B;
    if (++produced_ == boundary_) Flush();
  }
  // Space for Count bytes in the block (filled by the caller, then Commit), or null when the
  // block would be written before their end.
  uint8_t* Room(int32_t Count) {
    return Count <= boundary_ - produced_ ? buf_.get() + fill_ : nullptr;
  }
  void Commit(int32_t Count) {
    fill_ += Count;
    produced_ += Count;
    if (produced_ == boundary_) Flush();
  }
  // Puts Top[-1], Top[-2], ... Top[-Count]: a string unwound onto a stack.
  void PutReversed(const uint8_t* Top, int32_t Count) {
    while (Count > 0) {
      int32_t k = Count;
      if (boundary_ - produced_ < k) k = static_cast<int32_t>(boundary_ - produced_);
      uint8_t* d = buf_.get() + fill_;
      for (int32_t i = 0; i < k; ++i) d[i] = *--Top;
      fill_ += k;
      produced_ += k;
      Count -= k;
      if (produced_ == boundary_) Flush();
    }
  }

  void Finish() { LeavePending(); }
  void Abandon() noexcept {
    try {
      LeavePending();
    } catch (...) {
    }
  }

 private:
  void Flush() {
    const int32_t n = fill_;
    fill_ = 0;
    out_.Write(buf_.get(), n);
    if (produced_ >= due_) {
      out_.Progress();
      due_ = out_.ProgressDue();
    }
    SetBoundary();
  }
  void LeavePending() {
    const int32_t n = fill_;
    fill_ = 0;
    out_.Leave(buf_.get(), n);
  }
  void SetBoundary() {
    boundary_ = produced_ + (kBlock - fill_);
    if (expected_ > produced_ && expected_ < boundary_) boundary_ = expected_;
  }

  Output& out_;
  std::unique_ptr<uint8_t[]> buf_;
  int32_t fill_ = 0;
  int64_t produced_ = 0;
  int64_t expected_;
  int64_t due_ = Output::kNever;
  int64_t boundary_ = kBlock;  // count at which the block is written next
};

}  // namespace zipkit::legacy
