// Test tool: the three older decoders written the slow, literal way (one bit at a time, one
// byte at a time, every copied byte read back from the output after a flush, Shannon-Fano codes
// matched by walking the sorted list), over a model of the decompressor's buffers. The fast
// decoders must agree with it on every byte and on every progress report, on valid and on
// damaged data. Where damaged data leaves the behaviour open it makes the same choices as the
// fast decoders (CorruptInput for a code wider than 13 bits or a string that does not end,
// surplus tree lengths dropped, follower sets of up to 63 read in full).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "unzip/legacy_io.h"

namespace zipkit::testing {

// The progress percentage: part * 100 / whole, both scaled down by 256 for wholes above
// 16,384,000; 100 from the whole on; 0 for an empty whole.
inline uint8_t TestPercentOf(int64_t Part, int64_t Whole) {
  if (Whole > 16384000) {
    Part = (Part + 128) >> 8;
    Whole = (Whole + 128) >> 8;
  }
  if (Whole <= 0) return 0;
  if (Part >= Whole) return 100;
  return static_cast<uint8_t>(Part * 100 / Whole);
}

struct Report {
  uint8_t percent;
  int64_t at;  // bytes written when it was made
  bool operator==(const Report&) const = default;
};

// The decompressor's buffers as the old decoders saw them.
struct RefMachine {
  RefMachine(const std::vector<uint8_t>& In, int64_t Expected) : in(In), expected(Expected) {}

  const std::vector<uint8_t>& in;
  size_t next = 0;
  bool input_ended = false;
  uint8_t current = 0;
  int bits_in_byte = 0;

  int64_t expected;
  std::vector<uint8_t> out;  // what reached the sink
  std::vector<uint8_t> buffer = std::vector<uint8_t>(32768);
  int32_t fill = 0;
  uint8_t last_percent = 0;
  std::vector<Report> reports;
  std::vector<int32_t> writes;

  void NextByte() {
    if (next < in.size()) {
      current = in[next++];
    } else {
      input_ended = true;  // current stays: zero, as the bit reader left it
    }
  }
  uint32_t ReadBits(int n) {
    uint32_t result = 0;
    for (int i = 0; i < n; ++i) {
      if (bits_in_byte == 0) {
        NextByte();
        bits_in_byte = 8;
      }
      result |= static_cast<uint32_t>(current & 1) << i;
      current >>= 1;
      --bits_in_byte;
    }
    return result;
  }
  int64_t Produced() const { return static_cast<int64_t>(out.size()) + fill; }
  void Flush() {
    if (fill) {
      out.insert(out.end(), buffer.begin(), buffer.begin() + fill);
      writes.push_back(fill);
      fill = 0;
    }
    const uint8_t p = TestPercentOf(static_cast<int64_t>(out.size()), expected);
    if (p != last_percent) {
      last_percent = p;
      reports.push_back({p, static_cast<int64_t>(out.size())});
    }
  }
  void PutByte(uint8_t b) {
    buffer[fill++] = b;
    if (fill == 32768 || Produced() == expected) Flush();
  }
  // A byte copied from Source, a position in the output (negative: before the start).
  void CopyByte(int64_t Source) {
    if (Source < 0) {
      PutByte(0);
      return;
    }
    Flush();
    PutByte(out[static_cast<size_t>(Source)]);
  }
};

// Method 6.
struct RefTree {
  struct Entry {
    uint16_t code;
    uint8_t value, length;
  };
  std::vector<Entry> entries;
};

inline void RefLoadTree(RefMachine& M, RefTree& T, int Count) {
  T.entries.assign(Count, {});
  for (int i = 0; i < Count; ++i) T.entries[i].value = static_cast<uint8_t>(i);
  const int n = static_cast<int>(M.ReadBits(8)) + 1;
  int k = 0;
  for (int i = 0; i < n; ++i) {
    const uint32_t b = M.ReadBits(8);
    for (uint32_t r = 0; r < (b >> 4) + 1; ++r)
      if (k < Count) T.entries[k++].length = static_cast<uint8_t>((b & 15) + 1);
  }
  std::stable_sort(
      T.entries.begin(), T.entries.end(),
      [](const RefTree::Entry& a, const RefTree::Entry& b) { return a.length < b.length; });
  uint16_t code = 0, increment = 0;
  int last = 0;
  for (int i = Count - 1; i >= 0; --i) {
    code = static_cast<uint16_t>(code + increment);
    if (T.entries[i].length != last) {
      last = T.entries[i].length;
      increment = static_cast<uint16_t>(last ? 1u << (16 - last) : 0);
    }
    uint16_t r = 0;
    for (int b = 0; b < 16; ++b)
      if (code & (1u << b)) r |= static_cast<uint16_t>(1u << (15 - b));
    T.entries[i].code = r;
  }
}

inline uint32_t RefDecode(RefMachine& M, const RefTree& T) {
  int bits = 0;
  uint32_t pattern = 0;
  size_t index = 0;
  for (;;) {
    pattern |= M.ReadBits(1) << bits;
    ++bits;
    while (T.entries[index].length < bits)
      if (++index == T.entries.size()) return 0;
    while (T.entries[index].length == bits) {
      if (T.entries[index].code == pattern) return T.entries[index].value;
      if (++index == T.entries.size()) return 0;
    }
  }
}

inline void RefExplode(RefMachine& M, bool Dict8K, bool LiteralTree) {
  RefTree lit, len, dist;
  if (LiteralTree) RefLoadTree(M, lit, 256);
  RefLoadTree(M, len, 64);
  RefLoadTree(M, dist, 64);
  const int low_bits = Dict8K ? 7 : 6;
  const uint32_t min_length = LiteralTree ? 3 : 2;
  while (!M.input_ended && M.Produced() < M.expected) {
    if (M.ReadBits(1)) {
      M.PutByte(static_cast<uint8_t>(LiteralTree ? RefDecode(M, lit) : M.ReadBits(8)));
      continue;
    }
    uint32_t d = M.ReadBits(low_bits);
    d |= RefDecode(M, dist) << low_bits;
    uint32_t l = RefDecode(M, len);
    if (l == 63) l += M.ReadBits(8);
    l += min_length;
    int64_t source = M.Produced() - d - 1;
    for (uint32_t i = 0; i < l; ++i) M.CopyByte(source++);
  }
  M.Flush();
}

// Method 1.
inline void RefUnshrink(RefMachine& M) {
  std::vector<int16_t> parent(8193, -1);
  std::vector<uint8_t> suffix(8193, 0);
  std::vector<uint8_t> stack;
  for (int c = 0; c < 256; ++c) {
    parent[c] = 0;
    suffix[c] = static_cast<uint8_t>(c);
  }
  int size = 9;
  int next_free = 257;
  int old = static_cast<int>(M.ReadBits(9));
  if (M.input_ended) return M.Flush();
  uint8_t fin = static_cast<uint8_t>(old);
  M.PutByte(fin);
  auto push = [&](uint8_t b) {
    if (stack.size() == 8193) throw legacy::CorruptInput("string never ends");
    stack.push_back(b);
  };
  while (!M.input_ended) {
    int code = static_cast<int>(M.ReadBits(size));
    while (code == 256 && !M.input_ended) {
      const uint32_t sub = M.ReadBits(size);
      if (M.input_ended) break;
      if (sub == 1) {
        if (size == 13) throw legacy::CorruptInput("code too wide");
        ++size;
      } else if (sub == 2) {
        for (int c = 257; c < next_free; ++c) parent[c] = static_cast<int16_t>(parent[c] | 0x8000);
        for (int c = 257; c < next_free; ++c) {
          const int p = parent[c] & 0x7FFF;
          if (p >= 257 && parent[p] != -1) parent[p] = static_cast<int16_t>(parent[p] & 0x7FFF);
        }
        for (int c = 257; c < next_free; ++c)
          if (parent[c] < 0) parent[c] = -1;
        next_free = 257;
        while (next_free < 8192 && parent[next_free] != -1) ++next_free;
      }
      code = static_cast<int>(M.ReadBits(size));
    }
    if (M.input_ended) break;
    const int in_code = code;
    stack.clear();
    if (parent[code] == -1) {
      push(fin);
      code = old;
    }
    while (code >= 257) {
      if (parent[code] == -1) {
        push(fin);
        code = old;
      } else {
        push(suffix[code]);
        code = parent[code];
      }
    }
    fin = suffix[code];
    M.PutByte(fin);
    while (!stack.empty()) {
      M.PutByte(stack.back());
      stack.pop_back();
    }
    if (next_free < 8192) {
      parent[next_free] = static_cast<int16_t>(old);
      suffix[next_free] = fin;
      while (next_free < 8192 && parent[next_free] != -1) ++next_free;
    }
    old = in_code;
  }
  M.Flush();
}

// Methods 2 to 5.
inline void RefUnreduce(RefMachine& M, int Factor) {
  std::vector<std::vector<uint8_t>> sets(256);
  for (int x = 255; x >= 0; --x) {
    const uint32_t n = M.ReadBits(6);
    for (uint32_t i = 0; i < n; ++i) sets[x].push_back(static_cast<uint8_t>(M.ReadBits(8)));
  }
  const uint32_t mask = 0xFFu >> Factor;
  int state = 0;
  uint8_t last = 0;
  uint32_t v = 0, len = 0;
  while (!M.input_ended && M.Produced() < M.expected) {
    const std::vector<uint8_t>& s = sets[last];
    uint8_t c;
    if (s.empty() || M.ReadBits(1)) {
      c = static_cast<uint8_t>(M.ReadBits(8));
    } else {
      int width = 1;
      while ((1u << width) < s.size()) ++width;
      const uint32_t i = M.ReadBits(width);
      c = i < s.size() ? s[i] : 0;
    }
    last = c;
    if (M.input_ended) break;
    if (state == 0) {
      if (c == 144)
        state = 1;
      else
        M.PutByte(c);
    } else if (state == 1) {
      if (c == 0) {
        M.PutByte(144);
        state = 0;
      } else {
        v = c;
        len = v & mask;
        state = len == mask ? 2 : 3;
      }
    } else if (state == 2) {
      len += c;
      state = 3;
    } else {
      int64_t source = M.Produced() - (((v >> (8 - Factor)) << 8) + c + 1);
      for (uint32_t i = 0; i < len + 3; ++i) M.CopyByte(source++);
      state = 0;
    }
  }
  M.Flush();
}

// An Output that keeps the bytes, the write sizes and the progress reports with the same
// percentage rule, and takes the bytes left at the end as the decompressor's last flush would.
class RecordingOutput : public legacy::Output {
 public:
  explicit RecordingOutput(int64_t Expected, bool ReportProgress = true, int64_t Limit = INT64_MAX)
      : expected_(Expected), report_(ReportProgress), limit_(Limit) {}

  std::vector<uint8_t> bytes;
  std::vector<int32_t> writes;
  std::vector<Report> reports;

  void Write(const uint8_t* Data, int32_t Size) override {
    if (Size <= 0 || Size > 32768) throw std::logic_error("write of a bad size");
    if (static_cast<int64_t>(bytes.size()) + Size > limit_) throw std::length_error("output limit");
    bytes.insert(bytes.end(), Data, Data + Size);
    writes.push_back(Size);
  }
  void Leave(const uint8_t* Data, int32_t Size) override {
    if (Size < 0 || Size > 32768) throw std::logic_error("left a bad size");
    left_.assign(Data, Data + Size);
  }
  int64_t ProgressDue() override {
    if (!report_) return kNever;
    const int64_t from = static_cast<int64_t>(bytes.size());
    return legacy::FirstCountWithNewPercent(from, expected_, last_,
                                            [&](int64_t c) { return TestPercentOf(c, expected_); });
  }
  void Progress() override {
    if (!report_) throw std::logic_error("progress without reports");
    const uint8_t p = TestPercentOf(static_cast<int64_t>(bytes.size()), expected_);
    if (p == last_) throw std::logic_error("progress called without a change");
    last_ = p;
    reports.push_back({p, static_cast<int64_t>(bytes.size())});
  }
  // The decompressor's final flush.
  void Close() {
    if (!left_.empty()) Write(left_.data(), static_cast<int32_t>(left_.size()));
    left_.clear();
    const uint8_t p = TestPercentOf(static_cast<int64_t>(bytes.size()), expected_);
    if (report_ && p != last_) {
      last_ = p;
      reports.push_back({p, static_cast<int64_t>(bytes.size())});
    }
  }

 private:
  int64_t expected_;
  bool report_;
  int64_t limit_;
  uint8_t last_ = 0;
  std::vector<uint8_t> left_;
};

}  // namespace zipkit::testing
