#include "compress/deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compress/deflate_levels.h"

namespace zipkit {
namespace {

using Bytes = std::vector<uint8_t>;

// --- Inputs ---------------------------------------------------------------------------------

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>(rng());
  return b;
}

// Words from a small vocabulary: compressible, with matches at all distances.
Bytes Text(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"the ", "archive ", "of ", "entries ", "and ", "window ",
                                       "deflate ", "block, ", "stored ", "match\n", "Huffman ",
                                       "code ", "length ", "distance. ", "a ", "literal "};
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n) {
    const char* w = kWords[rng() % 16];
    b.insert(b.end(), w, w + std::strlen(w));
  }
  b.resize(n);
  return b;
}

Bytes Same(size_t n, uint8_t c) { return Bytes(n, c); }

// Random bytes in which no string of three bytes occurs twice: nothing to match at all.
Bytes RandomWithoutRepeats(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<bool> seen(1u << 24);
  Bytes b;
  while (b.size() < n) {
    const uint8_t c = static_cast<uint8_t>(rng());
    if (b.size() >= 2) {
      const uint32_t triple = (uint32_t{b[b.size() - 2]} << 16) | (uint32_t{b.back()} << 8) | c;
      if (seen[triple]) continue;
      seen[triple] = true;
    }
    b.push_back(c);
  }
  return b;
}

// Bytes in which no three-byte string occurs twice: counters written as a high byte from
// 0x80..0xFF and a low byte from 0x00..0x7F, so every triple tells where it stands.
Bytes UniqueTriples(size_t n, uint32_t first) {
  Bytes b;
  for (uint32_t k = first; b.size() < n; ++k) {
    b.push_back(static_cast<uint8_t>(0x80 | ((k >> 7) & 0x7F)));
    b.push_back(static_cast<uint8_t>(k & 0x7F));
  }
  b.resize(n);
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

Bytes FromString(const std::string& s) { return Bytes(s.begin(), s.end()); }

// --- Running the encoder --------------------------------------------------------------------

class TBytesInput : public TDeflateInput {
 public:
  // chunk > 0 limits every read to that many bytes, as a slow stream would.
  TBytesInput(const Bytes& data, size_t chunk = 0) : data_(data), chunk_(chunk) {}
  int32_t ReadInput(uint8_t* Buffer, int32_t Count) override {
    size_t n = std::min(data_.size() - pos_, static_cast<size_t>(Count));
    if (chunk_ != 0) n = std::min(n, chunk_);
    std::copy_n(data_.begin() + static_cast<ptrdiff_t>(pos_), n, Buffer);
    pos_ += n;
    return static_cast<int32_t>(n);
  }

 private:
  const Bytes& data_;
  size_t chunk_;
  size_t pos_ = 0;
};

class TBytesOutput : public TDeflateOutput {
 public:
  void WriteOutput(const uint8_t* Buffer, int32_t Count) override {
    EXPECT_GT(Count, 0);
    bytes.insert(bytes.end(), Buffer, Buffer + Count);
  }
  Bytes bytes;
};

struct TPacked {
  Bytes bytes;
  TDeflateResult result;
};

TPacked Deflate(const Bytes& data, int level, size_t chunk = 0) {
  TBytesInput input(data, chunk);
  TBytesOutput output;
  TPacked packed;
  packed.result = TDeflater(level).Run(input, output);
  packed.bytes = std::move(output.bytes);
  return packed;
}

// zlib's raw inflate (no header, 32 KiB window): the independent check.
bool ZlibInflate(const Bytes& packed, size_t expected_size, Bytes& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out.assign(expected_size + 1, 0);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}

// --- A tracing decoder ----------------------------------------------------------------------
// Decodes a deflate stream symbol by symbol, so that tests can see the block types and every
// match the encoder chose. Written from RFC 1951 for the tests; inflation itself is checked with
// zlib above.

struct TSymbol {
  uint32_t length;    // 0 for a literal
  uint32_t distance;  // 0 for a literal
};

struct TTrace {
  bool ok = false;
  std::vector<int> block_types;  // 0 stored, 1 fixed, 2 dynamic
  std::vector<TSymbol> symbols;
  Bytes data;
};

class TTracer {
 public:
  explicit TTracer(const Bytes& in) : in_(in) {}

  TTrace Run() {
    TTrace t;
    bool last = false;
    while (!last) {
      last = Bits(1) != 0;
      const int type = static_cast<int>(Bits(2));
      t.block_types.push_back(type);
      if (type == 0 && !Stored(t)) return t;
      if (type == 1 && !Fixed(t)) return t;
      if (type == 2 && !Dynamic(t)) return t;
      if (type == 3 || overrun_) return t;
    }
    t.ok = !overrun_ && (bit_ + 7) / 8 == in_.size();
    return t;
  }

 private:
  struct THuffman {
    uint16_t count[16] = {};
    std::vector<uint16_t> symbol;
  };

  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit_) {
      if (bit_ / 8 >= in_.size()) {
        overrun_ = true;
        return 0;
      }
      v |= static_cast<uint32_t>((in_[bit_ / 8] >> (bit_ % 8)) & 1) << i;
    }
    return v;
  }

  // Canonical code from lengths; false when the lengths oversubscribe the code space.
  static bool Build(THuffman& h, const uint8_t* lengths, int n) {
    for (int i = 0; i < n; ++i) ++h.count[lengths[i]];
    int left = 1;
    for (int len = 1; len < 16; ++len) {
      left = (left << 1) - h.count[len];
      if (left < 0) return false;
    }
    uint16_t offset[16] = {};
    for (int len = 1; len < 15; ++len) offset[len + 1] = static_cast<uint16_t>(offset[len] + h.count[len]);
    h.symbol.assign(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i)
      if (lengths[i] != 0) h.symbol[offset[lengths[i]]++] = static_cast<uint16_t>(i);
    h.count[0] = 0;
    return true;
  }

  int Decode(const THuffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
      code |= static_cast<int>(Bits(1));
      const int count = h.count[len];
      if (code - count < first) return h.symbol[static_cast<size_t>(index + (code - first))];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

  bool Stored(TTrace& t) {
    bit_ = (bit_ + 7) / 8 * 8;
    const uint32_t len = Bits(16);
    const uint32_t nlen = Bits(16);
    if (overrun_ || len != (~nlen & 0xFFFF) || bit_ / 8 + len > in_.size()) return false;
    for (uint32_t i = 0; i < len; ++i) {
      t.data.push_back(in_[bit_ / 8]);
      t.symbols.push_back({0, 0});
      bit_ += 8;
    }
    return true;
  }

  bool Fixed(TTrace& t) {
    uint8_t lengths[288 + 30];
    for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    for (int i = 0; i < 30; ++i) lengths[288 + i] = 5;
    THuffman lit, dist;
    Build(lit, lengths, 288);
    Build(dist, lengths + 288, 30);
    return Codes(t, lit, dist);
  }

  bool Dynamic(TTrace& t) {
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int nlen = static_cast<int>(Bits(5)) + 257;
    const int ndist = static_cast<int>(Bits(5)) + 1;
    const int ncode = static_cast<int>(Bits(4)) + 4;
    if (nlen > 286 || ndist > 30) return false;
    uint8_t lengths[320] = {};
    for (int i = 0; i < ncode; ++i) lengths[kOrder[i]] = static_cast<uint8_t>(Bits(3));
    THuffman lencode;
    if (!Build(lencode, lengths, 19)) return false;
    int index = 0;
    while (index < nlen + ndist) {
      const int sym = Decode(lencode);
      if (sym < 0) return false;
      if (sym < 16) {
        lengths[index++] = static_cast<uint8_t>(sym);
        continue;
      }
      uint8_t len = 0;
      int repeat;
      if (sym == 16) {
        if (index == 0) return false;
        len = lengths[index - 1];
        repeat = 3 + static_cast<int>(Bits(2));
      } else if (sym == 17) {
        repeat = 3 + static_cast<int>(Bits(3));
      } else {
        repeat = 11 + static_cast<int>(Bits(7));
      }
      if (index + repeat > nlen + ndist) return false;
      while (repeat-- > 0) lengths[index++] = len;
    }
    if (lengths[256] == 0) return false;
    THuffman lit, dist;
    if (!Build(lit, lengths, nlen) || !Build(dist, lengths + nlen, ndist)) return false;
    return Codes(t, lit, dist);
  }

  bool Codes(TTrace& t, const THuffman& lit, const THuffman& dist) {
    static const uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                           33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                           6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
      const int sym = Decode(lit);
      if (sym < 0 || overrun_) return false;
      if (sym < 256) {
        t.data.push_back(static_cast<uint8_t>(sym));
        t.symbols.push_back({0, 0});
        continue;
      }
      if (sym == 256) return true;
      if (sym > 285) return false;
      const uint32_t length = kLenBase[sym - 257] + Bits(kLenExtra[sym - 257]);
      const int dsym = Decode(dist);
      if (dsym < 0 || dsym > 29) return false;
      const uint32_t distance = kDistBase[dsym] + Bits(kDistExtra[dsym]);
      if (distance > t.data.size()) return false;
      t.symbols.push_back({length, distance});
      for (uint32_t i = 0; i < length; ++i) t.data.push_back(t.data[t.data.size() - distance]);
    }
  }

  const Bytes& in_;
  size_t bit_ = 0;
  bool overrun_ = false;
};

TTrace Trace(const Bytes& packed) { return TTracer(packed).Run(); }

// --- Tests ----------------------------------------------------------------------------------

struct TInputCase {
  const char* name;
  Bytes data;
};

std::vector<TInputCase> RoundTripInputs() {
  std::vector<TInputCase> cases = {
      {"empty", {}},
      {"one byte", {0x41}},
      {"two bytes", {0x00, 0xFF}},
      {"three same", Same(3, 'x')},
      {"258 same", Same(258, 0)},
      {"259 same", Same(259, 0)},
      {"100000 same", Same(100000, 0xAA)},
      {"random 1000", RandomBytes(1000, 1)},
      {"random 100000", RandomBytes(100000, 2)},
      {"text 50000", Text(50000, 3)},
      {"period 3", [] {
         Bytes b;
         for (int i = 0; i < 40000; ++i) b.push_back(static_cast<uint8_t>("abc"[i % 3]));
         return b;
       }()},
      {"random then its repeat", [] {
         const Bytes r = RandomBytes(20000, 4);
         return Concat({r, r, r});
       }()},
      {"text, random, text", Concat({Text(30000, 5), RandomBytes(30000, 6), Text(30000, 5)})},
  };
  // Around the window (32 KiB), the buffer it slides in (64 KiB) and the look-ahead (262).
  for (size_t n : {32767u, 32768u, 32769u, 65274u, 65535u, 65536u, 65537u, 65798u, 98303u, 98304u, 98305u}) {
    cases.push_back({"text", Text(n, static_cast<uint32_t>(n))});
    cases.push_back({"random", RandomBytes(n, static_cast<uint32_t>(n))});
  }
  return cases;
}

TEST(Deflate, RoundTripsThroughZlibAtEveryLevel) {
  for (const TInputCase& c : RoundTripInputs()) {
    for (int level = 1; level <= 9; ++level) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(c.data.size()) + " bytes, level " +
                   std::to_string(level));
      const TPacked packed = Deflate(c.data, level);
      EXPECT_EQ(packed.result.CompressedSize, static_cast<int64_t>(packed.bytes.size()));
      Bytes back;
      ASSERT_TRUE(ZlibInflate(packed.bytes, c.data.size(), back));
      ASSERT_TRUE(back == c.data);

      // What the encoder chose stays inside the format's and the window's limits.
      const TTrace t = Trace(packed.bytes);
      ASSERT_TRUE(t.ok);
      ASSERT_TRUE(t.data == c.data);
      for (const TSymbol& s : t.symbols) {
        if (s.length == 0) continue;
        ASSERT_GE(s.length, 3u);
        ASSERT_LE(s.length, 258u);
        ASSERT_LE(s.distance, 32506u);
        ASSERT_FALSE(s.length == 3 && s.distance > 4096) << "a far three-byte match";
      }
    }
  }
}

TEST(Deflate, EmptyInputIsOneFixedBlockWithOnlyTheEnd) {
  const TPacked packed = Deflate({}, 5);
  // BFINAL 1, BTYPE 01, then the 7-bit end-of-block code 0000000: ten bits.
  EXPECT_EQ(packed.bytes, (Bytes{0x03, 0x00}));
  EXPECT_EQ(packed.result.CompressedSize, 2);
}

TEST(Deflate, BlockTypesFollowTheData) {
  struct TCase {
    const char* name;
    Bytes data;
    int block_type;  // every block has it
    TDeflateDataType data_type;
  };
  const TCase cases[] = {
      {"random", RandomBytes(150000, 7), 0, dtBinary},
      {"random, small", RandomBytes(300, 8), 0, dtBinary},
      // Literals only: the second block begins just below the middle of the window when it
      // slides, and must not lose its bytes to the slide.
      {"random, no repeats", RandomWithoutRepeats(150000, 16), 0, dtBinary},
      {"text", Text(150000, 9), 2, dtText},
      {"one byte", {0x41}, 1, dtText},
      {"zeros", Same(5000, 0), 2, dtBinary},
  };
  for (const TCase& c : cases) {
    for (int level : {1, 5, 9}) {
      SCOPED_TRACE(std::string(c.name) + ", level " + std::to_string(level));
      const TPacked packed = Deflate(c.data, level);
      const TTrace t = Trace(packed.bytes);
      ASSERT_TRUE(t.ok);
      EXPECT_TRUE(t.data == c.data);
      for (int type : t.block_types) EXPECT_EQ(type, c.block_type);
      EXPECT_EQ(packed.result.DataType, c.data_type);
      if (c.block_type == 0) {
        // Stored: 5 bytes of header per block and nothing else.
        EXPECT_EQ(packed.bytes.size(), c.data.size() + 5 * t.block_types.size());
      }
    }
  }
}

// A three-byte match costs more than three literals once its distance needs many extra bits.
TEST(Deflate, ThreeByteMatchFarBackIsSentAsLiterals) {
  struct TCase {
    size_t gap;
    bool match_expected;
  };
  for (const TCase& c : {TCase{1000, true}, TCase{4000, true}, TCase{5000, false}, TCase{20000, false}}) {
    SCOPED_TRACE("gap " + std::to_string(c.gap));
    // "abc" cannot occur in the filler, nor any other string of three bytes twice. (The first
    // byte stays unmatched: position 0 is where no hash chain can point.)
    const Bytes data = Concat({FromString("_abc"), UniqueTriples(c.gap, 256), FromString("abc"),
                               UniqueTriples(100, 12000)});
    for (int level : {1, 5, 9}) {
      const TTrace t = Trace(Deflate(data, level).bytes);
      ASSERT_TRUE(t.ok);
      ASSERT_TRUE(t.data == data);
      int matches = 0;
      for (const TSymbol& s : t.symbols) {
        if (s.length == 0) continue;
        ++matches;
        EXPECT_EQ(s.length, 3u);
        EXPECT_EQ(s.distance, c.gap + 3);
      }
      EXPECT_EQ(matches, c.match_expected ? 1 : 0) << "level " << level;
    }
  }
}

// The window fills the same way whatever sizes the input arrives in.
TEST(Deflate, InputReadInPiecesGivesTheSameStream) {
  const Bytes data = Concat({Text(100000, 10), Same(3000, 'z'), Text(60000, 11)});
  for (int level : {1, 5, 9}) {
    const Bytes whole = Deflate(data, level).bytes;
    for (size_t chunk : {1u, 7u, 261u, 4096u, 40000u}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", pieces of " + std::to_string(chunk));
      EXPECT_TRUE(Deflate(data, level, chunk).bytes == whole);
    }
  }
}

TEST(Deflate, HigherLevelsCompressTextNoWorse) {
  const Bytes data = Text(200000, 12);
  const size_t fast = Deflate(data, 1).bytes.size();
  const size_t normal = Deflate(data, 5).bytes.size();
  const size_t best = Deflate(data, 9).bytes.size();
  EXPECT_LT(fast, data.size() / 2);
  EXPECT_LE(normal, fast);
  EXPECT_LE(best, normal);
}

TEST(Deflate, DeflaterRunsAgainWithFreshState) {
  TDeflater deflater(9);
  const Bytes first = Text(70000, 13);
  const Bytes second = RandomBytes(5000, 14);
  for (const Bytes* data : {&first, &second, &first}) {
    TBytesInput input(*data);
    TBytesOutput output;
    deflater.Run(input, output);
    EXPECT_TRUE(output.bytes == Deflate(*data, 9).bytes);
  }
}

TEST(Deflate, BufferHelperMatchesTheStreamingRun) {
  const Bytes data = Text(40000, 15);
  EXPECT_TRUE(DeflateBuffer(data.data(), data.size(), 5) == Deflate(data, 5).bytes);
}

TEST(DeflateLevels, OptionsPickLevelsAndUnknownLevelsCountAsFive) {
  EXPECT_EQ(LevelForOption(doMaximum), 9);
  EXPECT_EQ(LevelForOption(doFast), 3);
  EXPECT_EQ(LevelForOption(doSuperFast), 1);
  EXPECT_EQ(LevelForOption(doNormal), 5);
  EXPECT_EQ(LevelForOption(doInvalid), 5);
  EXPECT_EQ(LevelForOption(static_cast<TAbZipDeflationOption>(77)), 5);

  const TDeflateLevel five = DeflateLevel(5);
  EXPECT_EQ(five.GoodLength, 8);
  EXPECT_EQ(five.LazyLimit, 16);
  EXPECT_EQ(five.ChainLimit, 32);
  for (int level : {0, -1, 10, 1000}) {
    const TDeflateLevel l = DeflateLevel(level);
    EXPECT_EQ(l.GoodLength, five.GoodLength);
    EXPECT_EQ(l.LazyLimit, five.LazyLimit);
    EXPECT_EQ(l.ChainLimit, five.ChainLimit);
  }
  const TDeflateLevel nine = DeflateLevel(9);
  EXPECT_EQ(nine.GoodLength, 32);
  EXPECT_EQ(nine.LazyLimit, 258);
  EXPECT_EQ(nine.ChainLimit, 4096);
  const TDeflateLevel one = DeflateLevel(1);
  EXPECT_EQ(one.ChainLimit, 4);
}

}  // namespace
}  // namespace zipkit
