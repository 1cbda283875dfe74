// The fast loop: decodes symbols while the span holds at least 8 more bytes and the window has
// room for a longest match. One refill of the 64-bit register per symbol gives at least 56
// bits, more than the 48 a length, a distance and their extra bits can take, so the loop never
// asks for input; and a symbol that needs no more than the span holds is decoded alike by the
// reference decoder, which would not ask for the next span either.
#include "unzip/inflate.h"
#include "unzip/inflate_window.h"

namespace zipkit {

TAbInflater::TFastResult TAbInflater::DecodeFast(const THuffmanTable& Literal,
                                                 const THuffmanTable& Distance) {
  uint64_t bitbuf = bitbuf_;
  unsigned bitsleft = bitsleft_;
  const uint8_t* in = inNext_;
  const uint8_t* const inEnd = inEnd_;
  uint8_t* out = outNext_;
  uint8_t* const outLimit = outLimit_;
  const uint32_t* const lt = Literal.Entries;
  const uint32_t* const dt = Distance.Entries;
  const uint64_t literalMask = (1ull << Literal.TableBits) - 1;
  const uint64_t distanceMask = (1ull << Distance.TableBits) - 1;
  TFastResult result = TFastResult::kMore;

  auto consume = [&](unsigned n) {
    bitbuf >>= n;
    bitsleft -= n;
  };

  while (inEnd - in >= 8 && out <= outLimit) {
    // Refill to 56..63 bits; the bits above come from the next byte and are read again.
    bitbuf |= LoadLittle64(in) << bitsleft;
    in += (63 - bitsleft) >> 3;
    bitsleft |= 56;

    uint32_t e = lt[bitbuf & literalMask];
    if (e & entry::kLiteral) {
      // Up to three root literals fit in the bits of one refill.
      consume(entry::Consumed(e));
      *out++ = static_cast<uint8_t>(entry::Value(e));
      e = lt[bitbuf & literalMask];
      if (!(e & entry::kLiteral)) continue;
      consume(entry::Consumed(e));
      *out++ = static_cast<uint8_t>(entry::Value(e));
      e = lt[bitbuf & literalMask];
      if (!(e & entry::kLiteral)) continue;
      consume(entry::Consumed(e));
      *out++ = static_cast<uint8_t>(entry::Value(e));
      continue;
    }
    if (e & entry::kExceptional) {
      if (e & entry::kSubtable) {
        consume(entry::Consumed(e));
        e = lt[entry::Value(e) + (bitbuf & ((1ull << entry::CodeBits(e)) - 1))];
        if (e & entry::kLiteral) {
          consume(entry::Consumed(e));
          *out++ = static_cast<uint8_t>(entry::Value(e));
          continue;
        }
      }
      if (e & entry::kExceptional) {
        if (entry::IsEndOfBlock(e)) {
          consume(entry::Consumed(e));
          result = TFastResult::kEndOfBlock;
        } else {
          result = TFastResult::kInvalid;
        }
        break;
      }
    }

    // A length and its extra bits in one step.
    unsigned n = entry::Consumed(e);
    const uint32_t length =
        entry::Value(e) + static_cast<uint32_t>((bitbuf & ((1ull << n) - 1)) >> entry::CodeBits(e));
    consume(n);

    uint32_t d = dt[bitbuf & distanceMask];
    if (d & entry::kExceptional) {
      if (!(d & entry::kSubtable)) {
        result = TFastResult::kInvalid;
        break;
      }
      consume(entry::Consumed(d));
      d = dt[entry::Value(d) + (bitbuf & ((1ull << entry::CodeBits(d)) - 1))];
      if (d & entry::kExceptional) {
        result = TFastResult::kInvalid;
        break;
      }
    }
    n = entry::Consumed(d);
    const uint32_t distance =
        entry::Value(d) + static_cast<uint32_t>((bitbuf & ((1ull << n) - 1)) >> entry::CodeBits(d));
    consume(n);
    out = CopyMatchBytes(out, distance, length);
  }

  bitbuf_ = bitbuf;
  bitsleft_ = bitsleft;
  inNext_ = in;
  outNext_ = out;
  return result;
}

}  // namespace zipkit
