#include "unzip/inflate.h"

#include <algorithm>
#include <cstring>

#include "support/errors.h"
#include "unzip/inflate_window.h"

namespace zipkit {

TAbInflater::TAbInflater(TInput& Input, TOutput& Output, size_t SizeHint)
    : input_(Input),
      output_(&Output),
      // Tables are written before they are read; no need to clear them.
      literal_(new THuffmanTable),
      distance_(new THuffmanTable),
      codeLengths_(new THuffmanTable) {
  // At least as much new output as history, so that sliding the history costs at most one
  // more pass over the output, whatever the hint says.
  size_t chunk = kWindowChunk;
  if (SizeHint != 0 && SizeHint < chunk) chunk = std::max<size_t>(SizeHint, kHistory);
  // Behind the limit: two literals and a longest match, then the overrun of word copies.
  const size_t room = chunk + 2 + kMaxMatch;
  window_.reset(new uint8_t[kHistory + room + kCopyOverrun]);
  SetUpWindow(window_.get() + kHistory, room, chunk);
}

TAbInflater::TAbInflater(TInput& Input, uint8_t* Output, size_t Capacity)
    : input_(Input),
      output_(nullptr),
      literal_(new THuffmanTable),
      distance_(new THuffmanTable),
      codeLengths_(new THuffmanTable) {
  // The fast loop checks every match against the end; it needs room for 3 literals.
  SetUpWindow(Output, Capacity, Capacity >= 3 ? Capacity - 3 : 0);
  if (Capacity < 3) outLimit_ = nullptr;
}

void TAbInflater::SetUpWindow(uint8_t* Start, size_t Size, size_t Limit) {
  outNext_ = Start;
  emitted_ = Start;
  valid_ = Start;
  outLimit_ = Start + Limit;
  windowEnd_ = Start + Size;
  literal_->WantBits = THuffmanTable::kWideRootBits;
  distance_->WantBits = 8;
  codeLengths_->WantBits = kCodeLengthRootBits;
}

TAbInflater::~TAbInflater() = default;

void TAbInflater::Run() {
  for (;;) {
    if (DecodeBlock()) break;
    if (ended_) Fail();  // a block that is not the last ran into the end of the data
  }
  EmitPending();
}

void TAbInflater::Fail() {
  EmitPending();
  throw EAbZipInflateBlock();
}

// ---- bit input ----

void TAbInflater::NextSpan() {
  if (!ended_) {
    const uint8_t* begin = nullptr;
    const uint8_t* end = nullptr;
    while (input_.NextSpan(begin, end)) {
      if (begin != end) {
        inNext_ = begin;
        inEnd_ = end;
        return;
      }
    }
    ended_ = true;
    stale_ = input_.StaleByte();
    inNext_ = inEnd_ = nullptr;
  }
}

// Takes one more byte: from the span, from the next span, or a stale one after the end.
void TAbInflater::LoadByte() {
  if (inNext_ == inEnd_) NextSpan();
  const uint8_t b = ended_ ? stale_ : *inNext_++;
  staleBits_ += ended_ ? 8 : 0;
  bitbuf_ |= static_cast<uint64_t>(b) << bitsleft_;
  bitsleft_ += 8;
}

// Fills the register from the current span only; never asks for the next one.
void TAbInflater::TopUp() {
  while (bitsleft_ <= 56 && inNext_ != inEnd_) {
    bitbuf_ |= static_cast<uint64_t>(*inNext_++) << bitsleft_;
    bitsleft_ += 8;
  }
}

void TAbInflater::Want(unsigned N) {
  while (bitsleft_ < N) LoadByte();
}

// The entry of the code at the head of the stream. Input is taken until the register covers
// the entry's reach, so that the next span is asked for exactly when the reference decoder
// would. Until then a lookup may read bits that are not there yet; it then finds a code longer
// than the bits present (codes are prefix-free), whose reach asks for another byte. Skip is set
// to the bits of the root index when the entry comes from a sub-table.
uint32_t TAbInflater::Lookup(const THuffmanTable& Table, unsigned& Skip) {
  TopUp();
  for (;;) {
    size_t index = bitbuf_ & ((1ull << Table.TableBits) - 1);
    uint32_t e = Table.Entries[index];
    Skip = 0;
    if ((e & (entry::kExceptional | entry::kLink)) == (entry::kExceptional | entry::kLink)) {
      Skip = entry::Consumed(e);
      index = entry::Value(e) + ((bitbuf_ >> Skip) & ((1ull << entry::CodeBits(e)) - 1));
      e = Table.Entries[index];
    }
    if (Table.Reach[index] <= bitsleft_) return e;
    LoadByte();  // the span is used up here: TopUp stops only above any reach
    TopUp();
  }
}

// ---- output ----

// Makes room for more output: a window hands on what it holds; a caller's buffer is full.
void TAbInflater::MakeRoom() {
  if (!output_) Fail();
  Flush();
}

// Hands on the new output and keeps the last 32768 bytes as history.
void TAbInflater::Flush() {
  EmitPending();
  uint8_t* const base = window_.get();
  uint8_t* const from = outNext_ - kHistory;
  std::memmove(base, from, kHistory);
  const size_t shift = static_cast<size_t>(from - base);
  valid_ = static_cast<size_t>(valid_ - base) > shift ? valid_ - shift : base;
  outNext_ = base + kHistory;
  emitted_ = outNext_;
}

void TAbInflater::EmitPending() {
  if (output_ && outNext_ != emitted_) {
    uint8_t* const from = emitted_;
    emitted_ = outNext_;
    output_->Put(from, static_cast<size_t>(outNext_ - from));
  }
}

void TAbInflater::CopyMatch(uint32_t Distance, uint32_t Length) {
  const size_t room = static_cast<size_t>(windowEnd_ - outNext_);
  if (Length > room) Fail();  // only a caller's buffer can be this full
  if (Distance > static_cast<size_t>(outNext_ - valid_) || (!output_ && room < Length + kCopyOverrun)) {
    outNext_ = CopyFromBeforeStart(outNext_, Distance, Length, valid_);
  } else {
    outNext_ = CopyMatchBytes(outNext_, Distance, Length);
  }
}

// ---- blocks ----

bool TAbInflater::DecodeBlock() {
  endedByInput_ = false;
  Want(1);
  const bool last = Bits(1) != 0;
  Drop(1);
  Want(2);
  const uint32_t type = Bits(2);
  Drop(2);
  switch (type) {
    case 0:
      CopyStoredBlock();
      break;
    case 1:
      DecodeCodes(FixedLiteralTable(), FixedDistanceTable());
      break;
    case 2:
      DecodeDynamicBlock();
      break;
    default:
      Fail();
  }
  return last;
}

void TAbInflater::CopyStoredBlock() {
  Drop(bitsleft_ % 8);
  Want(16);
  const uint32_t length = Bits(16);
  Drop(16);
  Want(16);
  if (length != (~Bits(16) & 0xFFFF)) Fail();
  Drop(16);

  // Bytes already in the register first, then straight from the input.
  uint32_t left = length;
  while (left != 0 && bitsleft_ != 0) {
    if (outNext_ == windowEnd_) MakeRoom();
    *outNext_++ = static_cast<uint8_t>(bitbuf_);
    Drop(8);
    --left;
  }
  if (left == 0) return;
  bitbuf_ = 0;  // the register is empty; bytes it held ahead are read again from the span
  while (left != 0) {
    if (outNext_ == windowEnd_) MakeRoom();
    if (inNext_ == inEnd_) NextSpan();
    size_t n = std::min<size_t>(left, static_cast<size_t>(windowEnd_ - outNext_));
    if (ended_) {
      std::memset(outNext_, stale_, n);  // past the end a stored block copies stale bytes
    } else {
      n = std::min<size_t>(n, static_cast<size_t>(inEnd_ - inNext_));
      std::memcpy(outNext_, inNext_, n);
      inNext_ += n;
    }
    outNext_ += n;
    left -= static_cast<uint32_t>(n);
  }
}

void TAbInflater::DecodeDynamicBlock() {
  Want(5);
  const unsigned literals = Bits(5) + 257;
  Drop(5);
  Want(5);
  const unsigned distances = Bits(5) + 1;
  Drop(5);
  Want(4);
  const unsigned codeLengthCodes = Bits(4) + 4;
  Drop(4);
  if (literals > 286 || distances > 30) Fail();

  uint16_t lengths[286 + 30] = {};
  for (unsigned i = 0; i < codeLengthCodes; ++i) {
    Want(3);
    lengths[kCodeLengthOrder[i]] = static_cast<uint16_t>(Bits(3));
    Drop(3);
  }
  int rootBits = kCodeLengthRootBits;
  if (BuildHuffmanTable(lengths, 19, 19, nullptr, nullptr, *codeLengths_, rootBits) != 0) Fail();

  const unsigned total = literals + distances;
  std::fill(lengths, lengths + 19, 0);
  unsigned n = 0;
  uint16_t previous = 0;
  while (n < total) {
    unsigned skip;
    const uint32_t e = Lookup(*codeLengths_, skip);
    // An invalid entry: the unused pattern of a one-symbol code, or an empty code.
    if (!(e & entry::kLiteral)) Fail();
    Drop(skip + entry::Consumed(e));
    const uint32_t symbol = entry::Value(e);
    if (symbol < 16) {
      previous = static_cast<uint16_t>(symbol);
      lengths[n++] = previous;
      continue;
    }
    unsigned repeat;
    if (symbol == 16) {
      Want(2);
      repeat = 3 + Bits(2);
      Drop(2);
    } else if (symbol == 17) {
      Want(3);
      repeat = 3 + Bits(3);
      Drop(3);
      previous = 0;
    } else {
      Want(7);
      repeat = 11 + Bits(7);
      Drop(7);
      previous = 0;
    }
    if (repeat > total - n) Fail();
    std::fill(lengths + n, lengths + n + repeat, previous);
    n += repeat;
  }

  rootBits = kDynamicLiteralRootBits;
  if (BuildHuffmanTable(lengths, static_cast<int>(literals), 257, kLengthBase, kLengthExtra,
                        *literal_, rootBits) != 0)
    Fail();
  rootBits = kDynamicDistanceRootBits;
  if (BuildHuffmanTable(lengths + literals, static_cast<int>(distances), 0, kDistanceBase,
                        kDistanceExtra, *distance_, rootBits) != 0)
    Fail();
  DecodeCodes(*literal_, *distance_);
}

void TAbInflater::DecodeCodes(const THuffmanTable& Literal, const THuffmanTable& Distance) {
  for (;;) {
    // Stale bits are taken last and dropped last: while the register holds more bits than
    // that, some are still data.
    if (ended_ && bitsleft_ <= staleBits_) {
      endedByInput_ = true;  // the data is used up: the block ends here
      return;
    }
    if (outNext_ > outLimit_ && output_) Flush();
    if (inEnd_ - inNext_ >= kFastInputMargin && outLimit_ && outNext_ <= outLimit_) {
      switch (DecodeFast(Literal, Distance)) {
        case TFastResult::kEndOfBlock:
          return;
        case TFastResult::kInvalid:
          Fail();
        case TFastResult::kMore:
          continue;
      }
    }
    if (!DecodeSymbol(Literal, Distance)) return;
  }
}

// One symbol the careful way, near the end of a span. Returns false at the end of the block.
bool TAbInflater::DecodeSymbol(const THuffmanTable& Literal, const THuffmanTable& Distance) {
  unsigned skip;
  const uint32_t e = Lookup(Literal, skip);
  if (e & entry::kLiteral) {
    if (outNext_ == windowEnd_) Fail();  // only a caller's buffer can be this full
    Drop(skip + entry::Consumed(e));
    *outNext_++ = static_cast<uint8_t>(entry::Value(e));
    return true;
  }
  if (e & entry::kExceptional) {
    if (!entry::IsEndOfBlock(e)) Fail();
    Drop(skip + entry::Consumed(e));
    return false;
  }
  unsigned bits = skip + entry::Consumed(e);
  Want(bits);
  const uint32_t length = entry::Value(e) + (Bits(bits) >> (skip + entry::CodeBits(e)));
  Drop(bits);

  const uint32_t d = Lookup(Distance, skip);
  if (d & (entry::kExceptional | entry::kLiteral)) Fail();
  bits = skip + entry::Consumed(d);
  Want(bits);
  const uint32_t distance = entry::Value(d) + (Bits(bits) >> (skip + entry::CodeBits(d)));
  Drop(bits);
  CopyMatch(distance, length);
  return true;
}

// ---- memory input ----

bool TInflateMemoryInput::NextSpan(const uint8_t*& Begin, const uint8_t*& End) {
  if (pos_ == size_) return false;
  const size_t n = std::min(span_, size_ - pos_);
  Begin = data_ + pos_;
  End = Begin + n;
  pos_ += n;
  ++spans_;
  return true;
}

}  // namespace zipkit
