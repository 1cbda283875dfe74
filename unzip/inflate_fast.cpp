// The fast loop: decodes symbols while the span holds at least 16 more bytes and the window
// has room for a longest match. A refill of the 64-bit register gives at least 56 bits, more
// than the 48 a length, a distance and their extra bits can take; a symbol refills at most
// twice. So the loop never asks for input, and a symbol that needs no more than the span holds
// is decoded alike by the reference decoder, which would not ask for the next span either.
//
// The loop is compiled twice, once for the baseline instruction set and once with BMI2
// (variable shifts and bit extraction in one instruction each), chosen at run time.
#include "unzip/inflate.h"
#include "unzip/inflate_window.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZIPKIT_INFLATE_BMI2 1
#define ZIPKIT_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define ZIPKIT_ALWAYS_INLINE inline
#endif

#if defined(__GNUC__)
#define ZIPKIT_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define ZIPKIT_UNLIKELY(x) (x)
#endif

namespace zipkit {

namespace {

struct TFastState {
  uint64_t Bitbuf;
  unsigned Bitsleft;
  const uint8_t* In;
  const uint8_t* InEnd;
  uint8_t* Out;
  uint8_t* OutLimit;  // last position where a symbol may start (3 literals fit behind it)
  uint8_t* OutEnd;    // end of the room for output
  size_t CopySlack;   // bytes a word copy needs behind a match within the room (0: slack beyond)
  uint8_t* Valid;
};

enum TResult { kMore, kEndOfBlock, kInvalid, kFull };

constexpr unsigned kMaxDistanceBits = kMaxCodeLength + 13;  // code and extra bits
constexpr unsigned kMaxRootBits = 12;  // the widest root a literal/length table gets

// The low N bits of V (N below 64).
ZIPKIT_ALWAYS_INLINE uint64_t LowBits(uint64_t V, unsigned N) { return V & ((uint64_t{1} << N) - 1); }

// The match copy of the fast loop: a few words without a loop cover most matches.
ZIPKIT_ALWAYS_INLINE void FastCopy(uint8_t* Dst, const uint8_t* Src, uint8_t* End, uint32_t Distance) {
  if (Distance >= 8) {
    // Every word read was written before: the source runs at least 8 bytes behind.
    StoreWord(Dst, LoadWord(Src));
    StoreWord(Dst + 8, LoadWord(Src + 8));
    StoreWord(Dst + 16, LoadWord(Src + 16));
    StoreWord(Dst + 24, LoadWord(Src + 24));
    if (ZIPKIT_UNLIKELY(Dst + 32 < End)) {
      Dst += 32;
      Src += 32;
      if (Distance >= 32) {
        // Far enough back for 32 bytes at a time.
        do {
          std::memcpy(Dst, Src, 32);
          Dst += 32;
          Src += 32;
        } while (Dst < End);
      } else {
        do {
          StoreWord(Dst, LoadWord(Src));
          StoreWord(Dst + 8, LoadWord(Src + 8));
          Dst += 16;
          Src += 16;
        } while (Dst < End);
      }
    }
  } else if (Distance == 1) {
    const uint64_t v = 0x0101010101010101ull * *Src;
    do {
      StoreWord(Dst, v);
      StoreWord(Dst + 8, v);
      Dst += 16;
    } while (Dst < End);
  } else {
    // A short period: lay down one period-aligned stretch of at least 8 bytes byte by byte,
    // then copy words from that far back.
    static constexpr uint8_t kStep[8] = {0, 8, 8, 9, 8, 10, 12, 14};  // a multiple of 2..7, >= 8
    const uint32_t step = kStep[Distance];
    for (uint32_t i = 0; i < step; ++i) Dst[i] = Src[i];
    for (Dst += step; Dst < End; Dst += 8) StoreWord(Dst, LoadWord(Dst - step));
  }
}

// kChecked: every match is checked against the end of the room and the first byte written.
// Without it the caller guarantees 32768 bytes of history and room behind OutLimit for two
// literals, a longest match and the overrun of word copies.
template <bool kChecked>
ZIPKIT_ALWAYS_INLINE TResult FastLoop(TFastState& S, const THuffmanTable& Literal,
                                      const THuffmanTable& Distance) {
  uint64_t bitbuf = S.Bitbuf;
  // Only the low byte of bitsleft counts: whole entries are subtracted from it, which saves
  // extracting their low byte, and the borrows land above it.
  uint32_t bitsleft = S.Bitsleft;
  const uint8_t* in = S.In;
  if (S.InEnd - S.In < kFastInputMargin || S.Out > S.OutLimit) return kMore;
  // Two refills, each reading 8 bytes and moving on at most 7, stay inside the span.
  const uint8_t* const inLimit = S.InEnd - kFastInputMargin;
  uint8_t* out = S.Out;
  uint8_t* const outLimit = S.OutLimit;
  uint8_t* const outEnd = S.OutEnd;
  const size_t copySlack = S.CopySlack;
  const uint8_t* const valid = S.Valid;
  const uint32_t* const lt = Literal.Entries;
  const uint32_t* const dt = Distance.Entries;
  const unsigned literalBits = Literal.TableBits;
  const unsigned distanceBits = Distance.TableBits;
  TResult result = kMore;

  // Fills the register to 56..63 bits; the bits above come from the next byte, which is read
  // again by the next refill.
  auto refill = [&] {
    bitbuf |= LoadLittle64(in) << static_cast<uint8_t>(bitsleft);
    in += 7 - ((bitsleft >> 3) & 7);
    bitsleft |= 56;
  };
  auto consume = [&](uint32_t e) {
    bitbuf >>= static_cast<uint8_t>(e);
    bitsleft -= e;
  };

  refill();
  // Invariant at the top: e is the entry of the next symbol, and the register holds at least
  // 56 bits, enough for the whole symbol.
  uint32_t e = lt[LowBits(bitbuf, literalBits)];
  while (in <= inLimit && out <= outLimit) {
    uint64_t saved = bitbuf;
    consume(e);
    if (static_cast<int32_t>(e) < 0) {
      // A literal; up to two more follow on the same refill. The entry after them, whatever
      // it is, is decoded in this round too: the register still holds enough for its length.
      uint32_t literal = entry::Value(e);
      e = lt[LowBits(bitbuf, literalBits)];
      if (static_cast<int32_t>(e) < 0) {
        consume(e);
        *out++ = static_cast<uint8_t>(literal);
        literal = entry::Value(e);
        e = lt[LowBits(bitbuf, literalBits)];
        if (static_cast<int32_t>(e) < 0) {
          consume(e);
          *out++ = static_cast<uint8_t>(literal);
          *out++ = static_cast<uint8_t>(entry::Value(e));
          e = lt[LowBits(bitbuf, literalBits)];
          refill();
          continue;
        }
      }
      *out++ = static_cast<uint8_t>(literal);
      saved = bitbuf;
      consume(e);
    }
    if (e & entry::kExceptional) {
      if (!(e & entry::kLink)) {
        result = entry::IsEndOfBlock(e) ? kEndOfBlock : kInvalid;
        break;
      }
      // A long code: the root bits are gone, the sub-table entry follows.
      e = lt[(e >> 16) + LowBits(bitbuf, static_cast<uint8_t>(e >> 8) & 15)];
      saved = bitbuf;
      consume(e);
      if (static_cast<int32_t>(e) < 0) {
        *out++ = static_cast<uint8_t>(entry::Value(e));
        refill();
        e = lt[LowBits(bitbuf, literalBits)];
        continue;
      }
      if (e & entry::kExceptional) {
        result = entry::IsEndOfBlock(e) ? kEndOfBlock : kInvalid;
        break;
      }
    }

    // A length and its extra bits in one step. (Lengths and distances have no flag bits, so
    // their value and code bits need no masking.)
    const uint32_t length =
        (e >> 16) + static_cast<uint32_t>(LowBits(saved, static_cast<uint8_t>(e)) >> static_cast<uint8_t>(e >> 8));
    // The distance and then the next symbol's root index must be in the register, so that the
    // next lookup need not wait for a refill.
    if (static_cast<uint8_t>(bitsleft) < kMaxDistanceBits + kMaxRootBits) refill();
    uint32_t d = dt[LowBits(bitbuf, distanceBits)];
    if (d & entry::kExceptional) {
      if (!(d & entry::kLink)) {
        result = kInvalid;
        break;
      }
      consume(d);
      d = dt[(d >> 16) + LowBits(bitbuf, static_cast<uint8_t>(d >> 8) & 15)];
      if (d & entry::kExceptional) {
        result = kInvalid;
        break;
      }
    }
    saved = bitbuf;
    consume(d);
    const uint32_t distance =
        (d >> 16) + static_cast<uint32_t>(LowBits(saved, static_cast<uint8_t>(d)) >> static_cast<uint8_t>(d >> 8));

    // Look up the next symbol before copying, so that the lookup overlaps the copy; the
    // refill only adds bits above the ones it used.
    e = lt[LowBits(bitbuf, literalBits)];
    refill();
    uint8_t* const dst = out;
    if (kChecked) {
      const size_t room = static_cast<size_t>(outEnd - dst);
      if (ZIPKIT_UNLIKELY(length + copySlack > room || distance > static_cast<size_t>(dst - valid))) {
        // Near the end of a caller's buffer, or reaching back before the first byte.
        if (length > room) {
          result = kFull;
          break;
        }
        out = CopyFromBeforeStart(dst, distance, length, valid);
        continue;
      }
    }
    out += length;
    FastCopy(dst, dst - distance, out, distance);
  }

  S.Bitbuf = bitbuf;
  S.Bitsleft = static_cast<uint8_t>(bitsleft);
  S.In = in;
  S.Out = out;
  return result;
}

template <bool kChecked>
TResult FastLoopBaseline(TFastState& S, const THuffmanTable& Literal, const THuffmanTable& Distance) {
  return FastLoop<kChecked>(S, Literal, Distance);
}

#ifdef ZIPKIT_INFLATE_BMI2
template <bool kChecked>
__attribute__((target("bmi2"))) TResult FastLoopBmi2(TFastState& S, const THuffmanTable& Literal,
                                                      const THuffmanTable& Distance) {
  return FastLoop<kChecked>(S, Literal, Distance);
}
#endif

using TFastLoop = TResult (*)(TFastState&, const THuffmanTable&, const THuffmanTable&);

struct TFastLoops {
  TFastLoop Checked = FastLoopBaseline<true>;
  TFastLoop Unchecked = FastLoopBaseline<false>;
  TFastLoops() {
#ifdef ZIPKIT_INFLATE_BMI2
    if (__builtin_cpu_supports("bmi2")) {
      Checked = FastLoopBmi2<true>;
      Unchecked = FastLoopBmi2<false>;
    }
#endif
  }
};

}  // namespace

TAbInflater::TFastResult TAbInflater::DecodeFast(const THuffmanTable& Literal,
                                                 const THuffmanTable& Distance) {
  static const TFastLoops loops;
  TFastState s{bitbuf_, bitsleft_, inNext_, inEnd_, outNext_, outLimit_, windowEnd_,
               output_ ? size_t{0} : kCopyOverrun, valid_};
  // With a full history and room behind, matches need no checks. A window always has the
  // room; a caller's buffer has it up to a longest match (and slack) before its end.
  const size_t margin = 2 + kMaxMatch + kCopyOverrun;
  const size_t size = static_cast<size_t>(windowEnd_ - valid_);
  if (static_cast<size_t>(outNext_ - valid_) >= kHistory && (output_ || size > margin)) {
    if (!output_ && outLimit_ > valid_ + (size - margin)) s.OutLimit = valid_ + (size - margin);
    if (outNext_ <= s.OutLimit) {
      const TResult r = loops.Unchecked(s, Literal, Distance);
      bitbuf_ = s.Bitbuf;
      bitsleft_ = s.Bitsleft;
      inNext_ = s.In;
      outNext_ = s.Out;
      return r == kEndOfBlock ? TFastResult::kEndOfBlock
                              : r == kMore ? TFastResult::kMore : TFastResult::kInvalid;
    }
    s.OutLimit = outLimit_;
  } else if (static_cast<size_t>(outLimit_ - valid_) > kHistory) {
    // Hand over to the unchecked loop as soon as the history is full.
    s.OutLimit = valid_ + kHistory;
  }
  const TResult r = loops.Checked(s, Literal, Distance);
  bitbuf_ = s.Bitbuf;
  bitsleft_ = s.Bitsleft;
  inNext_ = s.In;
  outNext_ = s.Out;
  switch (r) {
    case kEndOfBlock:
      return TFastResult::kEndOfBlock;
    case kInvalid:
    case kFull:
      return TFastResult::kInvalid;
    case kMore:
      break;
  }
  return TFastResult::kMore;
}

}  // namespace zipkit
