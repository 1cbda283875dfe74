#include "unzip/inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "host/stream.h"
#include "support/errors.h"
#include "unzip/inflate_model_test.h"
#include "unzip/inflate_tables.h"
#include "unzip/unzip_helper.h"

namespace zipkit {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- building streams by hand ----

class TBitWriter {
 public:
  void Put(uint32_t Value, int Bits) {  // a number, least significant bit first
    for (int b = 0; b < Bits; ++b) PutBit((Value >> b) & 1);
  }
  void PutCode(uint32_t Code, int Length) {  // a Huffman code, first bit = most significant
    for (int b = Length - 1; b >= 0; --b) PutBit((Code >> b) & 1);
  }
  void Align() {
    while (bits_ != 0) PutBit(0);
  }
  Bytes Finish() {
    Align();
    return bytes_;
  }

 private:
  void PutBit(uint32_t Bit) {
    if (bits_ == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<uint8_t>(Bit << bits_);
    bits_ = (bits_ + 1) & 7;
  }
  Bytes bytes_;
  int bits_ = 0;
};

std::vector<uint16_t> CanonicalCodes(const std::vector<uint16_t>& Lengths) {
  int count[16] = {};
  for (uint16_t l : Lengths) ++count[l];
  count[0] = 0;
  uint16_t next[16] = {};
  uint16_t code = 0;
  for (int len = 1; len < 16; ++len) {
    code = static_cast<uint16_t>((code + count[len - 1]) << 1);
    next[len] = code;
  }
  std::vector<uint16_t> codes(Lengths.size());
  for (size_t s = 0; s < Lengths.size(); ++s)
    if (Lengths[s] != 0) codes[s] = next[Lengths[s]]++;
  return codes;
}

void PutHeader(TBitWriter& W, bool Last, int Type) {
  W.Put(Last ? 1 : 0, 1);
  W.Put(static_cast<uint32_t>(Type), 2);
}

void PutStored(TBitWriter& W, bool Last, const Bytes& Data) {
  PutHeader(W, Last, 0);
  W.Align();
  W.Put(static_cast<uint32_t>(Data.size()), 16);
  W.Put(~static_cast<uint32_t>(Data.size()) & 0xFFFF, 16);
  for (uint8_t b : Data) W.Put(b, 8);
}

void PutFixedSymbol(TBitWriter& W, int Symbol) {
  if (Symbol < 144) W.PutCode(0x30 + Symbol, 8);
  else if (Symbol < 256) W.PutCode(0x190 + Symbol - 144, 9);
  else if (Symbol < 280) W.PutCode(Symbol - 256, 7);
  else W.PutCode(0xC0 + Symbol - 280, 8);
}

// The length symbol and extra bits of Length (3..258).
std::pair<int, uint32_t> LengthSymbol(int Length) {
  int c = 28;
  while (kLengthBase[c] > Length) --c;
  return {257 + c, static_cast<uint32_t>(Length - kLengthBase[c])};
}

std::pair<int, uint32_t> DistanceSymbol(int Distance) {
  int c = 29;
  while (kDistanceBase[c] > Distance) --c;
  return {c, static_cast<uint32_t>(Distance - kDistanceBase[c])};
}

void PutFixedMatch(TBitWriter& W, int Length, int Distance) {
  const auto [ls, le] = LengthSymbol(Length);
  PutFixedSymbol(W, ls);
  W.Put(le, kLengthExtra[ls - 257]);
  const auto [ds, de] = DistanceSymbol(Distance);
  W.PutCode(static_cast<uint32_t>(ds), 5);
  W.Put(de, kDistanceExtra[ds]);
}

void PutFixedText(TBitWriter& W, const std::string& Text) {
  for (unsigned char ch : Text) PutFixedSymbol(W, ch);
}

// A dynamic block: its code length code and the code length symbols (with their extra bits)
// are given, so that odd headers can be written.
struct TClSymbol {
  int Symbol;
  uint32_t Extra = 0;
};

class TDynamicBlock {
 public:
  TDynamicBlock(std::vector<uint16_t> Literal, std::vector<uint16_t> Distance)
      : literal_(std::move(Literal)), distance_(std::move(Distance)),
        literalCodes_(CanonicalCodes(literal_)), distanceCodes_(CanonicalCodes(distance_)) {}

  // Header with the code lengths sent one by one through a code of sixteen 4-bit codes.
  void PutHeader(TBitWriter& W, bool Last) const {
    std::vector<uint16_t> cl(19, 0);
    for (int s = 0; s < 16; ++s) cl[s] = 4;
    std::vector<TClSymbol> symbols;
    for (uint16_t l : literal_) symbols.push_back({l});
    for (uint16_t l : distance_) symbols.push_back({l});
    PutHeaderWith(W, Last, cl, symbols);
  }

  void PutHeaderWith(TBitWriter& W, bool Last, const std::vector<uint16_t>& CodeLengthLengths,
                     const std::vector<TClSymbol>& Symbols, int Literals = 0, int Distances = 0) const {
    zipkit::PutHeader(W, Last, 2);
    W.Put(static_cast<uint32_t>((Literals ? Literals : static_cast<int>(literal_.size())) - 257), 5);
    W.Put(static_cast<uint32_t>((Distances ? Distances : static_cast<int>(distance_.size())) - 1), 5);
    int hclen = 19;
    while (hclen > 4 && CodeLengthLengths[kCodeLengthOrder[hclen - 1]] == 0) --hclen;
    W.Put(static_cast<uint32_t>(hclen - 4), 4);
    for (int i = 0; i < hclen; ++i) W.Put(CodeLengthLengths[kCodeLengthOrder[i]], 3);
    const std::vector<uint16_t> codes = CanonicalCodes(CodeLengthLengths);
    for (const TClSymbol& s : Symbols) {
      W.PutCode(codes[s.Symbol], CodeLengthLengths[s.Symbol]);
      if (s.Symbol == 16) W.Put(s.Extra, 2);
      if (s.Symbol == 17) W.Put(s.Extra, 3);
      if (s.Symbol == 18) W.Put(s.Extra, 7);
    }
  }

  void PutSymbol(TBitWriter& W, int Symbol) const {
    W.PutCode(literalCodes_[Symbol], literal_[Symbol]);
  }
  void PutDistanceCode(TBitWriter& W, int Code) const {
    W.PutCode(distanceCodes_[Code], distance_[Code]);
  }
  void PutMatch(TBitWriter& W, int Length, int Distance) const {
    const auto [ls, le] = LengthSymbol(Length);
    PutSymbol(W, ls);
    W.Put(le, kLengthExtra[ls - 257]);
    const auto [ds, de] = DistanceSymbol(Distance);
    PutDistanceCode(W, ds);
    W.Put(de, kDistanceExtra[ds]);
  }

 private:
  std::vector<uint16_t> literal_, distance_;
  std::vector<uint16_t> literalCodes_, distanceCodes_;
};

// A literal code over the given symbols, all other lengths 0.
std::vector<uint16_t> Lengths(size_t Count, std::initializer_list<std::pair<int, int>> Set) {
  std::vector<uint16_t> l(Count, 0);
  for (auto [s, len] : Set) l[static_cast<size_t>(s)] = static_cast<uint16_t>(len);
  return l;
}

// ---- decoding ----

struct TOutcome {
  bool Ok = false;
  bool EndedByInput = false;
  Bytes Output;
  size_t Taken = 0;
  int Spans = 0;
};

TOutcome Decode(const Bytes& Data, size_t SpanSize = 0) {
  TInflateMemoryInput input(Data.data(), Data.size(), SpanSize);
  TInflateVectorOutput output;
  TAbInflater inflater(input, output);
  TOutcome r;
  try {
    inflater.Run();
    r.Ok = true;
  } catch (const EAbZipInflateBlock&) {
    r.Ok = false;
  }
  r.EndedByInput = inflater.EndedByInput();
  r.Output = std::move(output.Bytes);
  r.Taken = input.Taken();
  r.Spans = input.Spans();
  return r;
}

// Straight into a buffer of Capacity bytes.
TOutcome DecodeDirect(const Bytes& Data, size_t Capacity, size_t SpanSize = 0) {
  TInflateMemoryInput input(Data.data(), Data.size(), SpanSize);
  Bytes out(Capacity);
  TAbInflater inflater(input, out.data(), out.size());
  TOutcome r;
  try {
    inflater.Run();
    r.Ok = true;
  } catch (const EAbZipInflateBlock&) {
    r.Ok = false;
  }
  r.EndedByInput = inflater.EndedByInput();
  out.resize(inflater.OutputSize());
  r.Output = std::move(out);
  r.Taken = input.Taken();
  r.Spans = input.Spans();
  return r;
}

// Ours, with the input cut into spans of SpanSize, against the byte-wise model: the same
// outcome, the same bytes, and input asked for at the same points.
void ExpectLikeModel(const Bytes& Data, size_t SpanSize, const std::string& Context) {
  const model::TResult m = model::Inflate(Data.data(), Data.size());
  const size_t span = SpanSize == 0 ? Data.size() : SpanSize;
  const size_t spans = span == 0 ? 0 : (m.Taken + span - 1) / span;
  // Through the window, and straight into a buffer just large enough.
  for (const TOutcome& r : {Decode(Data, SpanSize), DecodeDirect(Data, m.Output.size(), SpanSize)}) {
    ASSERT_EQ(r.Ok, m.Ok) << Context;
    ASSERT_EQ(r.Output, m.Output) << Context;
    ASSERT_EQ(r.EndedByInput, m.EndedByInput) << Context;
    ASSERT_EQ(static_cast<size_t>(r.Spans), spans) << Context;
  }
}

Bytes Text(const std::string& S) { return Bytes(S.begin(), S.end()); }

Bytes Counting(size_t N) {
  Bytes b(N);
  for (size_t i = 0; i < N; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return b;
}

// ---- the decoding tables ----

TEST(BuildHuffmanTable, ResultsAndRootWidths) {
  struct TCase {
    const char* Name;
    std::vector<uint16_t> Lengths;
    int Requested;
    int Result;
    int RootBits;
  };
  const std::vector<TCase> cases = {
      {"no lengths at all", {0, 0, 0}, 9, 0, 0},
      {"complete, root lowered to the longest", {1, 2, 3, 3}, 9, 0, 3},
      {"complete, root kept", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15}, 9, 0, 9},
      {"incomplete", {2, 2, 2}, 7, 1, 2},
      {"over-subscribed", {1, 1, 1}, 7, 2, 1},
      {"over-subscribed at a longer length", {1, 2, 2, 3}, 7, 2, 3},
      {"one code of length 1 is complete", {0, 1, 0}, 6, 0, 1},
      {"one code of length 2 is incomplete", {0, 2}, 6, 1, 2},
      {"root raised to the shortest", {10, 10}, 9, 1, 10},
      {"fixed distance code", std::vector<uint16_t>(30, 5), 5, 1, 5},
  };
  for (const TCase& c : cases) {
    auto table = std::make_unique<THuffmanTable>();
    int root = c.Requested;
    const int result = BuildHuffmanTable(c.Lengths.data(), static_cast<int>(c.Lengths.size()), 0,
                                         kDistanceBase, kDistanceExtra, *table, root);
    EXPECT_EQ(result, c.Result) << c.Name;
    if (result != 2) {
      EXPECT_EQ(root, c.RootBits) << c.Name;
    }
  }
}

TEST(BuildHuffmanTable, FixedLiteralCodeIsCompleteWithRootSeven) {
  std::vector<uint16_t> lengths(288);
  for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  auto table = std::make_unique<THuffmanTable>();
  int root = kFixedLiteralRootBits;
  EXPECT_EQ(BuildHuffmanTable(lengths.data(), 288, 257, kLengthBase, kLengthExtra, *table, root), 0);
  EXPECT_EQ(root, 7);
}

// Every symbol of a code decodes from its canonical bit pattern, whatever follows it, and the
// patterns an incomplete code leaves free decode as invalid.
TEST(BuildHuffmanTable, LookupsFindEverySymbol) {
  const std::vector<std::vector<uint16_t>> codes = {
      {1, 2, 3, 3},
      {2, 2, 2},
      {0, 1},
      {3, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15},
      std::vector<uint16_t>(30, 5),
  };
  for (const auto& lengths : codes) {
    for (uint8_t want : {uint8_t{3}, uint8_t{8}, uint8_t{11}}) {
      auto table = std::make_unique<THuffmanTable>();
      table->WantBits = want;
      int root = 6;
      const int count = static_cast<int>(lengths.size());
      ASSERT_LE(BuildHuffmanTable(lengths.data(), count, count, nullptr, nullptr, *table, root), 1);
      const std::vector<uint16_t> canonical = CanonicalCodes(lengths);
      auto lookup = [&](uint32_t bits) {
        uint32_t e = table->Entries[bits & ((1u << table->TableBits) - 1)];
        if ((e & (entry::kExceptional | entry::kLink)) == (entry::kExceptional | entry::kLink))
          e = table->Entries[entry::Value(e) + ((bits >> entry::Consumed(e)) & ((1u << entry::CodeBits(e)) - 1))];
        return e;
      };
      uint32_t space = 0;
      for (int s = 0; s < count; ++s) {
        if (lengths[s] == 0) continue;
        uint32_t bits = 0;  // the code in stream order, then ones
        for (int b = 0; b < lengths[s]; ++b) bits |= ((canonical[s] >> (lengths[s] - 1 - b)) & 1u) << b;
        for (uint32_t tail : {0u, 0x7FFFu}) {
          const uint32_t e = lookup(bits | (tail << lengths[s]));
          ASSERT_TRUE(e & entry::kLiteral) << "symbol " << s;
          EXPECT_EQ(entry::Value(e), static_cast<uint32_t>(s));
        }
        space += 1u << (15 - lengths[s]);
      }
      // Count the invalid patterns over all 15-bit inputs.
      uint32_t invalid = 0;
      for (uint32_t bits = 0; bits < (1u << 15); ++bits) invalid += entry::IsInvalid(lookup(bits)) ? 1 : 0;
      EXPECT_EQ(invalid, (1u << 15) - space);
    }
  }
}

// ---- the edge cases of the format ----

struct TEdgeCase {
  const char* Name;
  std::function<Bytes()> Stream;
  bool Ok;
  std::function<Bytes()> Expected;  // empty: not checked beyond the model
};

const std::vector<uint16_t> kSmallLiteral = Lengths(258, {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}});

std::vector<TEdgeCase> EdgeCases() {
  return {
      {"stored block of length 0",
       [] {
         TBitWriter w;
         PutStored(w, true, {});
         return w.Finish();
       },
       true, [] { return Bytes{}; }},
      {"stored block with a bad NLEN",
       [] {
         TBitWriter w;
         PutHeader(w, true, 0);
         w.Align();
         w.Put(3, 16);
         w.Put(0xFFFF, 16);
         w.Put(0x616263, 24);
         return w.Finish();
       },
       false, nullptr},
      {"fixed block with only its end code",
       [] {
         TBitWriter w;
         PutHeader(w, true, 1);
         PutFixedSymbol(w, 256);
         return w.Finish();
       },
       true, [] { return Bytes{}; }},
      {"fixed literal/length code 286",
       [] {
         TBitWriter w;
         PutHeader(w, true, 1);
         PutFixedText(w, "ab");
         PutFixedSymbol(w, 286);
         PutFixedSymbol(w, 256);
         return w.Finish();
       },
       false, [] { return Text("ab"); }},
      {"fixed literal/length code 287",
       [] {
         TBitWriter w;
         PutHeader(w, true, 1);
         PutFixedSymbol(w, 287);
         PutFixedSymbol(w, 256);
         return w.Finish();
       },
       false, [] { return Bytes{}; }},
      {"fixed distance code 30",
       [] {
         TBitWriter w;
         PutHeader(w, true, 1);
         PutFixedText(w, "abc");
         PutFixedSymbol(w, 257);
         w.PutCode(30, 5);
         PutFixedSymbol(w, 256);
         return w.Finish();
       },
       false, [] { return Text("abc"); }},
      {"fixed distance code 31",
       [] {
         TBitWriter w;
         PutHeader(w, true, 1);
         PutFixedText(w, "abc");
         PutFixedSymbol(w, 257);
         w.PutCode(31, 5);
         PutFixedSymbol(w, 256);
         return w.Finish();
       },
       false, [] { return Text("abc"); }},
      {"block type 3",
       [] {
         TBitWriter w;
         PutHeader(w, true, 3);
         w.Put(0, 16);
         return w.Finish();
       },
       false, nullptr},
      {"HLIT 30 fails before any code length is read",
       [] {
         TBitWriter w;
         PutHeader(w, true, 2);
         w.Put(30, 5);
         w.Put(0, 5);
         w.Put(0, 4);
         Bytes b = w.Finish();
         b.resize(b.size() + 40, 0x55);  // would be code lengths
         return b;
       },
       false, nullptr},
      {"HDIST 31 fails",
       [] {
         TBitWriter w;
         PutHeader(w, true, 2);
         w.Put(0, 5);
         w.Put(30, 5);
         w.Put(0, 4);
         Bytes b = w.Finish();
         b.resize(b.size() + 40, 0x55);
         return b;
       },
       false, nullptr},
      {"incomplete code length code is refused",
       [] {
         TBitWriter w;
         TDynamicBlock block(kSmallLiteral, {1});
         std::vector<uint16_t> cl(19, 0);
         cl[0] = cl[1] = cl[2] = 2;  // three codes of length 2
         block.PutHeaderWith(w, true, cl, {{1}, {1}});
         return w.Finish();
       },
       false, nullptr},
      {"over-subscribed code length code is refused",
       [] {
         TBitWriter w;
         TDynamicBlock block(kSmallLiteral, {1});
         std::vector<uint16_t> cl(19, 0);
         cl[0] = cl[1] = cl[2] = 1;
         block.PutHeaderWith(w, true, cl, {{1}, {1}});
         return w.Finish();
       },
       false, nullptr},
      {"code length repeat past the list fails",
       [] {
         TBitWriter w;
         TDynamicBlock block(kSmallLiteral, {1});
         std::vector<uint16_t> cl(19, 0);
         cl[2] = cl[18] = 1;
         // 258 lengths wanted: 2, then 138 + 138 zeros runs past them.
         block.PutHeaderWith(w, true, cl, {{2}, {18, 127}, {18, 127}});
         return w.Finish();
       },
       false, nullptr},
      {"incomplete literal/length code is refused",
       [] {
         TBitWriter w;
         TDynamicBlock block(Lengths(257, {{'a', 2}, {256, 2}}), {1});
         block.PutHeader(w, true);
         block.PutSymbol(w, 'a');
         block.PutSymbol(w, 256);
         return w.Finish();
       },
       false, nullptr},
      {"single distance code of length 1 is accepted",
       [] {
         TBitWriter w;
         TDynamicBlock block(kSmallLiteral, {1});
         block.PutHeader(w, true);
         block.PutSymbol(w, 'a');
         block.PutSymbol(w, 257);  // length 3
         w.PutCode(0, 1);          // distance 1
         block.PutSymbol(w, 256);
         return w.Finish();
       },
       true, [] { return Text("aaaa"); }},
      {"the unused pattern of a single distance code fails",
       [] {
         TBitWriter w;
         TDynamicBlock block(kSmallLiteral, {1});
         block.PutHeader(w, true);
         block.PutSymbol(w, 'a');
         block.PutSymbol(w, 257);
         w.PutCode(1, 1);
         block.PutSymbol(w, 256);
         return w.Finish();
       },
       false, [] { return Text("a"); }},
      {"a length code with an empty distance code fails",
       [] {
         TBitWriter w;
         TDynamicBlock block(kSmallLiteral, {0});
         block.PutHeader(w, true);
         block.PutSymbol(w, 'b');
         block.PutSymbol(w, 257);
         block.PutSymbol(w, 256);
         return w.Finish();
       },
       false, [] { return Text("b"); }},
      {"an empty distance code serves a block of literals",
       [] {
         TBitWriter w;
         TDynamicBlock block(kSmallLiteral, {0});
         block.PutHeader(w, true);
         block.PutSymbol(w, 'b');
         block.PutSymbol(w, 'a');
         block.PutSymbol(w, 256);
         return w.Finish();
       },
       true, [] { return Text("ba"); }},
      {"a leading repeat code repeats length 0",
       [] {
         // Lengths: 16 (x3) gives symbols 0..2 length 0; a repeat of anything else would make
         // the literal code over-subscribed.
         TBitWriter w;
         TDynamicBlock block(Lengths(257, {{'A', 1}, {256, 1}}), {0});
         std::vector<uint16_t> cl(19, 0);
         cl[0] = cl[1] = cl[16] = cl[18] = 2;
         block.PutHeaderWith(w, true, cl,
                             {{16, 0}, {18, 62 - 11}, {1}, {18, 138 - 11}, {18, 52 - 11}, {1}, {0}});
         block.PutSymbol(w, 'A');
         block.PutSymbol(w, 'A');
         block.PutSymbol(w, 256);
         return w.Finish();
       },
       true, [] { return Text("AA"); }},
      {"distance 32768 after 32768 bytes copies the first bytes",
       [] {
         TBitWriter w;
         PutStored(w, false, Counting(32768));
         PutHeader(w, true, 1);
         PutFixedMatch(w, 5, 32768);
         PutFixedSymbol(w, 256);
         return w.Finish();
       },
       true,
       [] {
         Bytes b = Counting(32768);
         b.insert(b.end(), b.begin(), b.begin() + 5);
         return b;
       }},
      {"a distance before the first byte reads zeros",
       [] {
         TBitWriter w;
         PutHeader(w, true, 1);
         PutFixedText(w, "AB");
         PutFixedMatch(w, 6, 4);
         PutFixedMatch(w, 3, 300);
         PutFixedSymbol(w, 256);
         return w.Finish();
       },
       true, [] { return Bytes{'A', 'B', 0, 0, 'A', 'B', 0, 0, 0, 0, 0}; }},
      {"length 258 at distance 1 repeats the last byte",
       [] {
         TBitWriter w;
         PutHeader(w, true, 1);
         PutFixedText(w, "xy");
         PutFixedMatch(w, 258, 1);
         PutFixedSymbol(w, 256);
         return w.Finish();
       },
       true,
       [] {
         Bytes b = Text("x");
         b.resize(260, 'y');
         return b;
       }},
      {"matches reach into earlier blocks of every type",
       [] {
         TBitWriter w;
         PutStored(w, false, Text("stored-"));
         PutHeader(w, false, 1);
         PutFixedText(w, "fixed-");
         PutFixedMatch(w, 7, 13);  // "stored-"
         PutFixedSymbol(w, 256);
         TDynamicBlock block(Lengths(286, {{'!', 2}, {256, 2}, {257 + 4, 2}, {257 + 3, 2}}),
                             Lengths(30, {{DistanceSymbol(20).first, 1}, {DistanceSymbol(6).first, 1}}));
         block.PutHeader(w, true);
         block.PutMatch(w, 7, 20);  // "stored-" again
         block.PutMatch(w, 6, 20);  // "fixed-"
         block.PutSymbol(w, '!');
         block.PutSymbol(w, 256);
         return w.Finish();
       },
       true, [] { return Text("stored-fixed-stored-stored-fixed-!"); }},
      {"short stored blocks between blocks of codes",
       [] {
         TBitWriter w;
         PutHeader(w, false, 1);
         PutFixedText(w, "abc");
         PutFixedSymbol(w, 256);
         PutStored(w, false, {});  // the register still holds bits of what follows
         PutStored(w, false, Text("x"));
         PutStored(w, false, Text("y"));
         PutHeader(w, true, 1);
         PutFixedText(w, "z");
         PutFixedMatch(w, 3, 6);
         PutFixedSymbol(w, 256);
         return w.Finish();
       },
       true, [] { return Text("abcxyzabc"); }},
      {"data cut off inside a block that is not the last",
       [] {
         TBitWriter w;
         PutHeader(w, false, 1);
         PutFixedText(w, "0123456789");
         PutFixedSymbol(w, 256);
         PutHeader(w, true, 1);
         PutFixedText(w, "abc");
         PutFixedSymbol(w, 256);
         Bytes b = w.Finish();
         b.resize(6);
         return b;
       },
       false, nullptr},
      {"data cut off inside the last block ends the item early",
       [] {
         TBitWriter w;
         PutHeader(w, true, 1);
         PutFixedText(w, "0123456789");
         PutFixedSymbol(w, 256);
         Bytes b = w.Finish();
         b.resize(6);
         return b;
       },
       true, nullptr},
      {"no data at all",
       [] { return Bytes{}; },
       false, [] { return Bytes{}; }},
      {"bytes after the final block are ignored",
       [] {
         TBitWriter w;
         PutHeader(w, true, 1);
         PutFixedText(w, "end");
         PutFixedSymbol(w, 256);
         Bytes b = w.Finish();
         b.insert(b.end(), {0xFF, 0xFF, 0xFF});
         return b;
       },
       true, [] { return Text("end"); }},
  };
}

TEST(Inflate, EdgeCases) {
  for (const TEdgeCase& c : EdgeCases()) {
    const Bytes stream = c.Stream();
    const TOutcome r = Decode(stream);
    EXPECT_EQ(r.Ok, c.Ok) << c.Name;
    if (c.Expected) {
      EXPECT_EQ(r.Output, c.Expected()) << c.Name;
    }
    for (size_t span : {size_t{0}, size_t{1}, size_t{3}, size_t{4096}})
      ExpectLikeModel(stream, span, std::string(c.Name) + ", span " + std::to_string(span));
  }
}

TEST(Inflate, HlitThirtyTakesOnlyTheHeader) {
  TBitWriter w;
  PutHeader(w, true, 2);
  w.Put(30, 5);
  w.Put(0, 5);
  w.Put(0, 4);
  Bytes b = w.Finish();  // 17 bits
  b.resize(b.size() + 40, 0x55);
  const TOutcome r = Decode(b, 1);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Taken, 3u);
}

TEST(Inflate, CutOffFinalBlockReportsTheEnd) {
  TBitWriter w;
  PutHeader(w, true, 1);
  PutFixedText(w, "0123456789");
  PutFixedSymbol(w, 256);
  Bytes b = w.Finish();
  b.resize(6);
  const TOutcome r = Decode(b);
  EXPECT_TRUE(r.Ok);
  EXPECT_TRUE(r.EndedByInput);
  const Bytes whole = Text("01234");
  ASSERT_GE(r.Output.size(), whole.size());
  EXPECT_TRUE(std::equal(whole.begin(), whole.end(), r.Output.begin()));
}

// Valid streams whose last symbols sit in the final bits, behind a lookup that reaches past the
// end of the data: the input runs out while real symbols are still in the register, and every
// one of them is decoded. Each shape is written with 0..7 more bits in front of its tail (Lead),
// so that the tail starts at every bit of its byte.
const std::vector<uint16_t> kLadderLiteral =  // 'a' 1 bit ... 'h' and 'i' 10 bits; root 9
    Lengths(258, {{'a', 1}, {256, 2}, {257, 3}, {'b', 4}, {'c', 5}, {'d', 6}, {'e', 7}, {'f', 8},
                  {'g', 9}, {'h', 10}, {'i', 10}});
const std::vector<uint16_t> kLadderDistance =  // distance 1 in 1 bit; root 6
    Lengths(30, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 6}});

struct TTailCase {
  const char* Name;
  std::function<void(TBitWriter&, int Lead)> Write;
  std::function<Bytes(int Lead)> Expected;
};

// Head, then N times 'a', then Tail.
Bytes WithAs(const char* Head, int N, const char* Tail) {
  Bytes b = Text(Head);
  b.insert(b.end(), static_cast<size_t>(N), 'a');
  for (const char* t = Tail; *t; ++t) b.push_back(static_cast<uint8_t>(*t));
  return b;
}

std::vector<TTailCase> TailCases() {
  const TDynamicBlock block(kLadderLiteral, kLadderDistance);
  auto lead = [block](TBitWriter& W, int Lead) {
    for (int i = 0; i < Lead; ++i) block.PutSymbol(W, 'a');
  };
  return {
      {"dynamic block: literals behind a wide lookup",
       [=](TBitWriter& W, int Lead) {
         block.PutHeader(W, true);
         block.PutSymbol(W, 'b');
         lead(W, Lead);
         block.PutSymbol(W, 'a');
         block.PutSymbol(W, 'a');
         block.PutSymbol(W, 256);
       },
       [](int Lead) { return WithAs("b", Lead + 2, ""); }},
      {"dynamic block: a match behind a wide lookup",
       [=](TBitWriter& W, int Lead) {
         block.PutHeader(W, true);
         block.PutSymbol(W, 'c');
         lead(W, Lead);
         block.PutSymbol(W, 'a');
         block.PutMatch(W, 3, 1);
         block.PutSymbol(W, 256);
       },
       [](int Lead) { return WithAs("c", Lead + 4, ""); }},
      {"dynamic block: a literal behind a wide distance lookup",
       [=](TBitWriter& W, int Lead) {
         block.PutHeader(W, true);
         block.PutSymbol(W, 'd');
         lead(W, Lead);
         block.PutMatch(W, 3, 1);
         block.PutSymbol(W, 'a');
         block.PutSymbol(W, 256);
       },
       [](int Lead) { return WithAs("d", Lead, Lead == 0 ? "ddda" : "aaaa"); }},
      {"stored and fixed blocks, then a short dynamic block",
       [=](TBitWriter& W, int Lead) {
         PutStored(W, false, Text("st"));
         PutHeader(W, false, 1);
         PutFixedText(W, "fx");
         PutFixedSymbol(W, 256);
         block.PutHeader(W, true);
         lead(W, Lead);
         block.PutSymbol(W, 'b');
         block.PutSymbol(W, 'a');
         block.PutSymbol(W, 'a');
         block.PutSymbol(W, 256);
       },
       [](int Lead) { return WithAs("stfx", Lead, "baa"); }},
      {"dynamic block: the body behind the last lookup of the header",
       [](TBitWriter& W, int Lead) {
         PutHeader(W, false, 1);
         for (int i = 0; i < Lead; ++i) PutFixedSymbol(W, 0xF0);  // 9 bits each
         PutFixedSymbol(W, 256);
         // Code length code with a root of 7 bits; the last length (6) has a 1-bit code.
         std::vector<uint16_t> cl(19, 0);
         cl[6] = 1;
         cl[1] = 2;
         cl[2] = cl[3] = 4;
         cl[4] = cl[5] = 5;
         cl[7] = cl[8] = cl[9] = 6;
         cl[10] = cl[18] = 7;
         const TDynamicBlock tight(kLadderLiteral, Lengths(7, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 6}}));
         tight.PutHeaderWith(W, true, cl,
                             {{18, 97 - 11}, {1}, {4}, {5}, {6}, {7}, {8}, {9}, {10}, {10},
                              {18, 138 - 11}, {18, 12 - 11}, {2}, {3},
                              {1}, {2}, {3}, {4}, {5}, {6}, {6}});
         tight.PutSymbol(W, 'a');
         tight.PutSymbol(W, 'a');
         tight.PutSymbol(W, 256);
       },
       [](int Lead) {
         Bytes b(static_cast<size_t>(Lead), 0xF0);
         b.insert(b.end(), 2, 'a');
         return b;
       }},
  };
}

// Decodes Stream as the data of a method 8 item, as extraction does; returns the output and
// its CRC-32.
std::pair<Bytes, uint32_t> ExtractItem(const Bytes& Stream, int32_t ExpectedSize) {
  std::unique_ptr<TStream> archive = std::make_unique<TMemoryStream>();
  archive->WriteBuffer(Stream.data(), static_cast<int32_t>(Stream.size()));
  archive->SetPosition(0);
  TMemoryStream target;
  TAbUnzipHelper helper(archive, nullptr, target);
  helper.PackedBytes = static_cast<int32_t>(Stream.size());
  helper.ExpectedSize = ExpectedSize;
  helper.Method = 8;
  const uint32_t crc = helper.Decompress();
  return {Bytes(target.Memory(), target.Memory() + target.Size()), crc};
}

TEST(Inflate, LastSymbolsBehindALookupPastTheEnd) {
  for (const TTailCase& c : TailCases()) {
    for (int lead = 0; lead < 8; ++lead) {
      TBitWriter w;
      c.Write(w, lead);
      const Bytes stream = w.Finish();
      const Bytes expected = c.Expected(lead);
      const std::string context = std::string(c.Name) + ", lead " + std::to_string(lead);
      for (size_t span : {size_t{0}, size_t{1}, size_t{3}}) {
        for (const TOutcome& r : {Decode(stream, span), DecodeDirect(stream, expected.size(), span)}) {
          EXPECT_TRUE(r.Ok) << context;
          EXPECT_EQ(r.Output, expected) << context << ", span " << span;
        }
        ExpectLikeModel(stream, span, context);
      }
      const auto [output, crc] = ExtractItem(stream, static_cast<int32_t>(expected.size()));
      EXPECT_EQ(output, expected) << context;
      EXPECT_EQ(crc, crc32(0, expected.data(), static_cast<uInt>(expected.size()))) << context;
    }
  }
}

// A random complete code over Symbols: a leaf of the code tree split until there is one leaf
// per symbol (at least two), none deeper than 15 bits. Half the time the newest leaf is split,
// so that short and long codes mix.
std::vector<uint16_t> RandomCode(size_t Size, std::vector<int> Symbols, std::mt19937& Rng) {
  std::vector<uint16_t> depths{0};
  while (depths.size() < Symbols.size()) {
    const size_t i = Rng() % 2 ? depths.size() - 1 : Rng() % depths.size();
    if (depths[i] == 15) continue;
    ++depths[i];
    depths.push_back(depths[i]);
  }
  std::shuffle(Symbols.begin(), Symbols.end(), Rng);
  std::vector<uint16_t> lengths(Size, 0);
  for (size_t k = 0; k < Symbols.size(); ++k) lengths[static_cast<size_t>(Symbols[k])] = depths[k];
  return lengths;
}

// Final dynamic blocks with random codes, where short codes often end the data behind a wide
// lookup: every one decodes whole.
TEST(Inflate, RandomCodesDecodeToTheirLastSymbol) {
  std::mt19937 rng(12);
  for (int round = 0; round < 300; ++round) {
    std::vector<int> literals{256};
    for (int n = 1 + static_cast<int>(rng() % 12); n > 0; --n) literals.push_back('a' + static_cast<int>(rng() % 26));
    for (int n = static_cast<int>(rng() % 5); n > 0; --n) literals.push_back(257 + static_cast<int>(rng() % 29));
    std::sort(literals.begin(), literals.end());
    literals.erase(std::unique(literals.begin(), literals.end()), literals.end());
    std::vector<int> distances;
    for (int n = 2 + static_cast<int>(rng() % 7); n > 0; --n) distances.push_back(static_cast<int>(rng() % 12));
    std::sort(distances.begin(), distances.end());
    distances.erase(std::unique(distances.begin(), distances.end()), distances.end());
    if (distances.size() < 2) distances.push_back(distances[0] == 0 ? 1 : 0);
    const TDynamicBlock block(RandomCode(286, literals, rng), RandomCode(30, distances, rng));

    TBitWriter w;
    block.PutHeader(w, true);
    Bytes expected;
    for (int n = static_cast<int>(rng() % 40); n > 0; --n) {
      const int s = literals[rng() % literals.size()];
      const int d = distances[rng() % distances.size()];
      if (s < 256) {
        block.PutSymbol(w, s);
        expected.push_back(static_cast<uint8_t>(s));
      } else if (s > 256 && kDistanceBase[d] <= expected.size()) {
        const uint32_t lengthExtra = rng() & ((1u << kLengthExtra[s - 257]) - 1);
        const uint32_t distanceExtra = rng() & ((1u << kDistanceExtra[d]) - 1);
        const size_t length = kLengthBase[s - 257] + lengthExtra;
        const size_t distance = std::min<size_t>(kDistanceBase[d] + distanceExtra, expected.size());
        block.PutSymbol(w, s);
        w.Put(lengthExtra, kLengthExtra[s - 257]);
        block.PutDistanceCode(w, d);
        w.Put(static_cast<uint32_t>(distance - kDistanceBase[d]), kDistanceExtra[d]);
        for (size_t k = 0; k < length; ++k) expected.push_back(expected[expected.size() - distance]);
      }
    }
    block.PutSymbol(w, 256);
    const Bytes stream = w.Finish();
    const std::string context = "round " + std::to_string(round);
    for (const TOutcome& r : {Decode(stream), Decode(stream, 1), DecodeDirect(stream, expected.size())}) {
      ASSERT_TRUE(r.Ok) << context;
      ASSERT_FALSE(r.EndedByInput) << context;
      ASSERT_EQ(r.Output, expected) << context;
    }
    ExpectLikeModel(stream, 2, context);
    ASSERT_EQ(ExtractItem(stream, static_cast<int32_t>(expected.size())).first, expected) << context;
  }
}

// ---- zlib as the encoder ----

Bytes ZlibDeflate(const Bytes& Data, int Level, int Strategy, int WindowBits = 15, int MemLevel = 8) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, Level, Z_DEFLATED, -WindowBits, MemLevel, Strategy), Z_OK);
  Bytes out(deflateBound(&z, static_cast<uLong>(Data.size())) + 16);
  z.next_in = const_cast<Bytef*>(Data.data());
  z.avail_in = static_cast<uInt>(Data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Text-like data: words from a small vocabulary, so that there are matches at every distance.
Bytes Words(size_t N, uint32_t Seed) {
  static const char* const kWords[] = {"the ",   "inflate ", "window ",  "of ",   "32768 ",
                                       "bytes ", "archive ", "deflate ", "code ", "length ",
                                       "\n",     "distance ", "block ",   "a ",    "tables "};
  std::mt19937 rng(Seed);
  Bytes b;
  while (b.size() < N) {
    const char* w = kWords[rng() % 15];
    b.insert(b.end(), w, w + std::strlen(w));
    if (rng() % 50 == 0) b.push_back(static_cast<uint8_t>(rng()));
  }
  b.resize(N);
  return b;
}

Bytes Random(size_t N, uint32_t Seed) {
  std::mt19937 rng(Seed);
  Bytes b(N);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

Bytes Runs(size_t N, uint32_t Seed) {
  std::mt19937 rng(Seed);
  Bytes b;
  while (b.size() < N) b.insert(b.end(), 1 + rng() % 600, static_cast<uint8_t>(rng() % 3));
  b.resize(N);
  return b;
}

TEST(Inflate, RoundTripsThroughZlib) {
  struct TData {
    const char* Name;
    Bytes Data;
  };
  const std::vector<TData> data = {
      {"empty", {}},
      {"one byte", {'z'}},
      {"two bytes", {0, 0}},
      {"words", Words(60000, 1)},
      {"random", Random(70000, 2)},
      {"runs", Runs(50000, 3)},
  };
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (const TData& d : data) {
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : strategies) {
        const Bytes z = ZlibDeflate(d.Data, level, strategy);
        const std::string context = std::string(d.Name) + " level " + std::to_string(level) +
                                    " strategy " + std::to_string(strategy);
        for (size_t span : {size_t{0}, size_t{5}, size_t{4096}}) {
          for (const TOutcome& r : {Decode(z, span), DecodeDirect(z, d.Data.size(), span)}) {
            ASSERT_TRUE(r.Ok) << context;
            ASSERT_FALSE(r.EndedByInput) << context;
            ASSERT_EQ(r.Output, d.Data) << context;
          }
        }
        // One byte short of room: the direct decoder fails at the end of its buffer.
        if (!d.Data.empty()) {
          const TOutcome r = DecodeDirect(z, d.Data.size() - 1);
          ASSERT_FALSE(r.Ok) << context;
          ASSERT_TRUE(std::equal(r.Output.begin(), r.Output.end(), d.Data.begin())) << context;
        }
      }
    }
  }
}

// Streams flushed along the way: empty stored blocks and blocks ending mid-byte between
// blocks of codes.
TEST(Inflate, RoundTripsFlushedStreams) {
  const Bytes data = Words(50000, 11);
  for (int flush : {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH, Z_BLOCK}) {
    for (int level : {0, 1, 6}) {
      z_stream z{};
      ASSERT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
      Bytes stream(deflateBound(&z, static_cast<uLong>(data.size())) + 64 * 1024);
      z.next_out = stream.data();
      z.avail_out = static_cast<uInt>(stream.size());
      for (size_t at = 0; at < data.size(); at += 777) {
        z.next_in = const_cast<Bytef*>(data.data() + at);
        z.avail_in = static_cast<uInt>(std::min<size_t>(777, data.size() - at));
        ASSERT_EQ(deflate(&z, flush), Z_OK);
      }
      ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
      stream.resize(z.total_out);
      deflateEnd(&z);
      for (size_t span : {size_t{0}, size_t{9}, size_t{4096}}) {
        for (const TOutcome& r : {Decode(stream, span), DecodeDirect(stream, data.size(), span)}) {
          ASSERT_TRUE(r.Ok) << flush << " " << level;
          ASSERT_TRUE(r.Output == data) << "flush " << flush << " level " << level << " span " << span;
        }
      }
    }
  }
}

TEST(Inflate, RoundTripsSmallWindowsAndMemory) {
  const Bytes data = Words(200000, 4);
  for (int windowBits : {9, 12, 15})
    for (int memLevel : {1, 9}) {
      const Bytes z = ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY, windowBits, memLevel);
      const TOutcome r = Decode(z, 4096);
      ASSERT_TRUE(r.Ok);
      ASSERT_EQ(r.Output, data) << windowBits << " " << memLevel;
    }
}

TEST(Inflate, RoundTripsMegabytes) {
  Bytes data = Words(3 << 20, 5);
  const Bytes noise = Random(300000, 6);
  data.insert(data.begin() + 1000000, noise.begin(), noise.end());
  const Bytes runs = Runs(400000, 7);
  data.insert(data.begin() + 2000000, runs.begin(), runs.end());
  for (int level : {1, 6, 9}) {
    const Bytes z = ZlibDeflate(data, level, Z_DEFAULT_STRATEGY);
    for (size_t span : {size_t{0}, size_t{4096}}) {
      for (const TOutcome& r : {Decode(z, span), DecodeDirect(z, data.size(), span)}) {
        ASSERT_TRUE(r.Ok) << level;
        ASSERT_TRUE(r.Output == data) << "level " << level << " span " << span;
      }
    }
  }
}

// Input is asked for at the same points as the byte-wise model, on real streams and on every
// cut of them; the outcome and the bytes agree too.
TEST(Inflate, AgreesWithModelOnZlibStreamsAndTheirCuts) {
  const Bytes data = Words(3000, 8);
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}) {
    const Bytes z = ZlibDeflate(data, 6, strategy);
    for (size_t cut = 0; cut <= z.size(); ++cut) {
      const Bytes part(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(cut));
      for (size_t span : {size_t{0}, size_t{1}, size_t{7}})
        ExpectLikeModel(part, span, "strategy " + std::to_string(strategy) + " cut " +
                                        std::to_string(cut) + " span " + std::to_string(span));
    }
  }
}

// Damaged streams fail or decode the same way as the model does, never anything else.
TEST(Inflate, AgreesWithModelOnDamagedStreams) {
  const Bytes data = Words(20000, 9);
  const Bytes z = ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
  std::mt19937 rng(10);
  for (int round = 0; round < 300; ++round) {
    Bytes bad = z;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    ExpectLikeModel(bad, 1 + rng() % 300, "round " + std::to_string(round));
  }
}

}  // namespace
}  // namespace zipkit
