// A byte-at-a-time inflate written as plainly as possible, for tests and fuzzing: a 32-bit bit
// buffer filled one byte per request shortfall, chained lookup tables with a narrow root and
// sub-tables opened level by level, and a 32 KB ring window. It shows where input is taken,
// what follows the end of the data (the last byte, again and again) and how a block ends when
// the data runs out (at the first symbol that starts past its last bit). Every access is
// bounds-checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "unzip/inflate_tables.h"

namespace zipkit::model {

struct TEntry {
  uint8_t Op = 99;  // 0..13 extra bits, 15 end of block, 16 literal, 17..32 link, 99 invalid
  uint8_t Bits = 0;
  uint16_t Value = 0;
  int Link = -1;  // sub-table index for a link
};

struct TTables {
  std::vector<std::vector<TEntry>> Tables;  // [0] is the root; empty: no code
};

// Builds the chained tables; returns 0 complete, 1 incomplete, 2 over-subscribed.
inline int Build(const uint16_t* Lengths, int Count, int SimpleCount, const uint16_t* Base,
                 const uint8_t* Extra, TTables& Out, int& RootBits) {
  Out.Tables.clear();
  int c[17] = {};
  for (int s = 0; s < Count; ++s) ++c[Lengths[s]];
  if (c[0] == Count) {
    RootBits = 0;
    return 0;
  }
  int k = 1;
  while (c[k] == 0) ++k;
  int g = 16;
  while (c[g] == 0) --g;
  int l = RootBits;
  if (l < k) l = k;
  if (l > g) l = g;
  RootBits = l;

  int y = 1 << k;
  for (int j = k; j < g; ++j) {
    if ((y -= c[j]) < 0) return 2;
    y <<= 1;
  }
  if ((y -= c[g]) < 0) return 2;
  c[g] += y;

  std::vector<int> v;
  for (int len = 1; len <= 16; ++len)
    for (int s = 0; s < Count; ++s)
      if (Lengths[s] == len) v.push_back(s);
  const size_t n = v.size();
  size_t p = 0;

  int x[17] = {};   // index pattern of each level
  int u[17] = {};   // table of each level
  int zs[17] = {};  // size of each level's table
  unsigned i = 0;
  int h = -1;
  int w = -l;
  for (; k <= g; ++k) {
    int a = c[k];
    while (a--) {
      while (k > w + l) {
        ++h;
        w += l;
        int z = g - w > l ? l : g - w;
        int j = k - w;
        int f = 1 << j;
        if (f > a + 1) {
          f -= a + 1;
          int xp = k;
          if (j < z) {
            while (++j < z) {
              f <<= 1;
              ++xp;
              if (f <= c[xp]) break;
              f -= c[xp];
            }
          }
        }
        Out.Tables.emplace_back(size_t{1} << j);
        u[h] = static_cast<int>(Out.Tables.size()) - 1;
        zs[h] = 1 << j;
        if (h > 0) {
          x[h] = static_cast<int>(i);
          TEntry r;
          r.Bits = static_cast<uint8_t>(l);
          r.Op = static_cast<uint8_t>(16 + j);
          r.Link = u[h];
          Out.Tables.at(u[h - 1]).at(i >> (w - l)) = r;
        }
      }
      TEntry r;
      r.Bits = static_cast<uint8_t>(k - w);
      if (p >= n) {
        r.Op = 99;
      } else if (v[p] < SimpleCount) {
        r.Op = v[p] < 256 ? 16 : 15;
        r.Value = static_cast<uint16_t>(v[p++]);
      } else {
        r.Op = Extra[v[p] - SimpleCount];
        r.Value = Base[v[p++] - SimpleCount];
      }
      const int f = 1 << (k - w);
      for (int j = static_cast<int>(i >> w); j < zs[h]; j += f) Out.Tables.at(u[h]).at(j) = r;
      unsigned bit = 1u << (k - 1);
      for (; i & bit; bit >>= 1) i ^= bit;
      i ^= bit;
      while (h >= 0 && static_cast<int>(i & ((1u << w) - 1)) != x[h]) {
        --h;
        w -= l;
      }
    }
  }
  return (y != 0 && g != 1) ? 1 : 0;
}

struct TResult {
  bool Limited = false;  // stopped at the output limit; the rest is not meaningful
  bool Ok = false;
  bool EndedByInput = false;
  std::vector<uint8_t> Output;
  size_t Taken = 0;  // input bytes fetched
};

class TDecoder {
 public:
  TDecoder(const uint8_t* Data, size_t Size, size_t Limit)
      : data_(Data), size_(Size), limit_(Limit), window_(32768, 0) {}

  TResult Run() {
    TResult r;
    r.Ok = true;
    try {
      for (;;) {
        ended_by_input_ = false;
        if (Block()) break;
        if (ended_) throw Failure{};
      }
    } catch (const Failure&) {
      r.Ok = false;
    } catch (const Limit&) {
      r.Limited = true;
    }
    r.EndedByInput = ended_by_input_;
    r.Output = std::move(out_);
    r.Taken = pos_;
    return r;
  }

 private:
  struct Failure {};
  struct Limit {};

  void Need(int n) {
    while (count_ < n) {
      if (pos_ < size_) {
        current_ = data_[pos_++];
      } else {
        ended_ = true;  // the byte taken is the last one again
        stale_ += 8;
      }
      word_ |= static_cast<uint32_t>(current_) << count_;
      count_ += 8;
    }
  }
  uint32_t Peek(int n) const { return word_ & ((1u << n) - 1); }
  void Drop(int n) {
    word_ >>= n;
    count_ -= n;
  }
  uint32_t Take(int n) {
    Need(n);
    const uint32_t v = Peek(n);
    Drop(n);
    return v;
  }
  void Put(uint8_t b) {
    if (out_.size() == limit_) throw Limit{};
    window_.at(pos_window_) = b;
    pos_window_ = (pos_window_ + 1) & 32767;
    out_.push_back(b);
  }

  TEntry Decode(const TTables& t, int bits) {
    if (t.Tables.empty()) throw Failure{};
    Need(bits);
    TEntry e = t.Tables.at(0).at(Peek(bits));
    while (e.Op > 16) {
      if (e.Op == 99) throw Failure{};
      Drop(e.Bits);
      const int sub = e.Op - 16;
      Need(sub);
      e = t.Tables.at(e.Link).at(Peek(sub));
    }
    Drop(e.Bits);
    return e;
  }

  bool Block() {
    const bool last = Take(1) != 0;
    switch (Take(2)) {
      case 0: Stored(); break;
      case 1: Fixed(); break;
      case 2: Dynamic(); break;
      default: throw Failure{};
    }
    return last;
  }

  void Stored() {
    Drop(count_ % 8);
    const uint32_t len = Take(16);
    const uint32_t nlen = Take(16);
    if (len != (~nlen & 0xFFFF)) throw Failure{};
    for (uint32_t k = 0; k < len; ++k) Put(static_cast<uint8_t>(Take(8)));
  }

  void Fixed() {
    uint16_t lengths[288];
    for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    TTables lit, dist;
    int lb = kFixedLiteralRootBits, db = kFixedDistanceRootBits;
    if (Build(lengths, 288, 257, kLengthBase, kLengthExtra, lit, lb) != 0) throw Failure{};
    for (int s = 0; s < 30; ++s) lengths[s] = 5;
    if (Build(lengths, 30, 0, kDistanceBase, kDistanceExtra, dist, db) > 1) throw Failure{};
    Codes(lit, dist, lb, db);
  }

  void Dynamic() {
    const int hlit = static_cast<int>(Take(5)) + 257;
    const int hdist = static_cast<int>(Take(5)) + 1;
    const int hclen = static_cast<int>(Take(4)) + 4;
    if (hlit > 286 || hdist > 30) throw Failure{};
    uint16_t cl[19] = {};
    for (int k = 0; k < hclen; ++k) cl[kCodeLengthOrder[k]] = static_cast<uint16_t>(Take(3));
    TTables clt;
    int cb = kCodeLengthRootBits;
    if (Build(cl, 19, 19, nullptr, nullptr, clt, cb) != 0) throw Failure{};
    std::vector<uint16_t> lengths;
    uint16_t prev = 0;
    const size_t total = static_cast<size_t>(hlit + hdist);
    while (lengths.size() < total) {
      const TEntry e = Decode(clt, cb);
      if (e.Value < 16) {
        prev = e.Value;
        lengths.push_back(prev);
        continue;
      }
      size_t rep;
      uint16_t val = 0;
      if (e.Value == 16) {
        rep = 3 + Take(2);
        val = prev;
      } else if (e.Value == 17) {
        rep = 3 + Take(3);
      } else {
        rep = 11 + Take(7);
      }
      if (e.Value != 16) prev = 0;
      if (lengths.size() + rep > total) throw Failure{};
      lengths.insert(lengths.end(), rep, val);
    }
    TTables lit, dist;
    int lb = kDynamicLiteralRootBits, db = kDynamicDistanceRootBits;
    if (Build(lengths.data(), hlit, 257, kLengthBase, kLengthExtra, lit, lb) != 0) throw Failure{};
    if (Build(lengths.data() + hlit, hdist, 0, kDistanceBase, kDistanceExtra, dist, db) != 0)
      throw Failure{};
    Codes(lit, dist, lb, db);
  }

  void Codes(const TTables& lit, const TTables& dist, int lb, int db) {
    for (;;) {
      if (ended_ && count_ <= stale_) {  // no bit of the data left
        ended_by_input_ = true;
        return;
      }
      TEntry e = Decode(lit, lb);
      if (e.Op == 16) {
        Put(static_cast<uint8_t>(e.Value));
        continue;
      }
      if (e.Op == 15) return;
      const uint32_t length = e.Value + Take(e.Op);
      e = Decode(dist, db);
      const uint32_t distance = e.Value + Take(e.Op);
      int src = (pos_window_ - static_cast<int>(distance)) & 32767;
      for (uint32_t k = 0; k < length; ++k) {
        Put(window_.at(src));
        src = (src + 1) & 32767;
      }
    }
  }

  const uint8_t* data_;
  size_t size_;
  size_t limit_;
  size_t pos_ = 0;
  bool ended_ = false;
  bool ended_by_input_ = false;
  int stale_ = 0;  // bits taken past the end; the last ones in the buffer
  uint8_t current_ = 0;
  uint32_t word_ = 0;
  int count_ = 0;
  std::vector<uint8_t> window_;
  int pos_window_ = 0;
  std::vector<uint8_t> out_;
};

inline TResult Inflate(const uint8_t* Data, size_t Size, size_t Limit = SIZE_MAX) {
  return TDecoder(Data, Size, Limit).Run();
}

}  // namespace zipkit::model
