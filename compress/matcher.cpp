#include "compress/matcher.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zipkit::deflate_detail {

namespace {

template <typename T>
T LoadLE(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) {
    if constexpr (sizeof v == 2) v = __builtin_bswap16(v);
    if constexpr (sizeof v == 4) v = __builtin_bswap32(v);
    if constexpr (sizeof v == 8) v = __builtin_bswap64(v);
  }
  return v;
}

// Number of equal bytes at a and b, at most kMaxMatch; compares eight bytes at a time and may
// read up to 263 bytes from each.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b) {
  uint32_t len = 0;
  while (len < static_cast<uint32_t>(kMaxMatch)) {
    const uint64_t diff = LoadLE<uint64_t>(a + len) ^ LoadLE<uint64_t>(b + len);
    if (diff != 0) {
      len += static_cast<uint32_t>(std::countr_zero(diff)) >> 3;
      break;
    }
    len += 8;
  }
  return std::min<uint32_t>(len, kMaxMatch);
}

}  // namespace

// Walks the hash chain from `candidate` and returns the length of the longest match found that
// is longer than `best` (else `best`), leaving its start in match_start_. A candidate can only
// win if all of its first best + 1 bytes agree, so the bytes around the current best length and
// the first four are compared before the full count.
uint32_t TMatcher::LongestMatch(uint32_t candidate, uint32_t best) {
  const uint8_t* const scan = window_ + pos_;
  uint32_t chain = params_.ChainLimit;
  if (best >= params_.GoodLength) chain >>= 2;
  const uint32_t limit = pos_ > kMaxDist ? pos_ - kMaxDist : 0;
  match_start_ = 0;

  uint16_t scan_end = LoadLE<uint16_t>(scan + best - 1);
  const uint32_t scan_start = LoadLE<uint32_t>(scan);
  // While best is 2, only the first three bytes have to agree.
  uint32_t start_mask = best >= 3 ? 0xFFFFFFFFu : 0x00FFFFFFu;

  // Compares one candidate; true when it reaches the longest possible match.
  auto examine = [&](uint32_t candidate) {
    const uint8_t* const match = window_ + candidate;
    if (LoadLE<uint16_t>(match + best - 1) != scan_end) return false;
    if (((LoadLE<uint32_t>(match) ^ scan_start) & start_mask) != 0) return false;
    const uint32_t len = MatchLength(match, scan);
    if (len <= best) return false;
    match_start_ = static_cast<int32_t>(candidate);
    best = len;
    if (len >= static_cast<uint32_t>(kMaxMatch)) return true;
    scan_end = LoadLE<uint16_t>(scan + best - 1);
    start_mask = 0xFFFFFFFFu;
    return false;
  };

  // Four candidates per round: this one and three of its links; the fourth link starts the
  // next round, so the walk waits for memory once per four candidates, not once per candidate.
  for (;;) {
    uint64_t links = links_[candidate & kWindowMask];
    if (examine(candidate)) break;
    for (int k = 0; k < 3; ++k, links >>= 16) {
      const uint32_t next = static_cast<uint32_t>(links & 0xFFFF);
      if (next <= limit || --chain == 0) return best;
      if (examine(next)) return best;
    }
    candidate = static_cast<uint32_t>(links);
    if (candidate <= limit || --chain == 0) break;
  }
  return best;
}

// Moves the upper half of the window down and rebases every position held.
void TMatcher::SlideWindow() {
  std::memcpy(window_, window_ + kWindowSize, kWindowSize);
  match_start_ -= static_cast<int32_t>(kWindowSize);
  pos_ -= kWindowSize;
  block_start_ -= static_cast<int32_t>(kWindowSize);
  // A position from the upper half keeps its low 15 bits; one from the lower half becomes 0.
  for (uint16_t& p : head_) p = static_cast<uint16_t>(p & 0x8000 ? p & 0x7FFF : 0);
  for (uint64_t& l : links_) {
    const uint64_t upper = (l >> 15) & 0x0001000100010001u;  // 1 in each lane from the upper half
    l &= upper * 0x7FFF;
  }
}

// The searches near the end read a little past the data; what they find there must not depend
// on earlier runs.
void TMatcher::EndInput() {
  input_ended_ = true;
  const uint32_t end = pos_ + lookahead_;
  std::memset(window_ + end, 0, sizeof window_ - end);
}

// Fills the buffer behind the look-ahead up to its end, sliding the window first when the
// look-ahead already reaches the end. Filling completely, whatever sizes the reads come in,
// makes the slides, and so the whole stream, independent of them.
void TMatcher::FillWindow() {
  uint32_t more = kBufferSize - lookahead_ - pos_;
  if (more == 0) {
    SlideWindow();
    more = kWindowSize;
  }
  while (more != 0) {
    const int32_t n = input_->ReadInput(window_ + pos_ + lookahead_, static_cast<int32_t>(more));
    if (n <= 0) {
      EndInput();
      return;
    }
    const uint32_t got = std::min(static_cast<uint32_t>(n), more);
    lookahead_ += got;
    more -= got;
  }
}

// A block that began in the lower half of the window loses its bytes to the slide, and with
// them the choice of a stored block. When that is its best form so far, it ends here, at the
// last byte tallied.
void TMatcher::EndBlockBeforeSlide(TBlockWriter& blocks, bool literal_pending) {
  if (block_start_ < 0 || block_start_ >= static_cast<int32_t>(kWindowSize) || !blocks.HasSymbols()) return;
  const int32_t end = static_cast<int32_t>(pos_) - (literal_pending ? 1 : 0);
  if (!blocks.StoredIsSmallest(end - block_start_)) return;
  blocks.FlushBlock(window_ + block_start_, end - block_start_, false);
  block_start_ = end;
}

// Lazy evaluation: the match found at a position is only taken once the next position has been
// tried and found no longer; otherwise the byte goes out as a literal and the next match is kept
// in its place.
void TMatcher::Run(TDeflateInput& input, TBlockWriter& blocks, int level) {
  input_ = &input;
  params_ = DeflateLevel(level);
  input_ended_ = false;
  pos_ = 0;
  lookahead_ = 0;
  block_start_ = 0;
  match_start_ = 0;
  hash_ = 0;
  // The chains need no clearing: a link is only followed from a position added in this run.
  std::memset(head_, 0, sizeof head_);

  const int32_t first = input.ReadInput(window_, static_cast<int32_t>(kWindowSize));
  if (first > 0) {
    lookahead_ = static_cast<uint32_t>(std::min<int32_t>(first, kWindowSize));
    while (lookahead_ < kMinLookahead && !input_ended_) FillWindow();
    hash_ = window_[0];
    hash_ = ((hash_ << kHashShift) ^ window_[1]) & kHashMask;
  } else {
    EndInput();
  }

  auto block_bytes = [this] { return static_cast<int32_t>(pos_) - block_start_; };
  auto flush = [this, &blocks](bool last) {
    const int32_t length = static_cast<int32_t>(pos_) - block_start_;
    blocks.FlushBlock(block_start_ >= 0 ? window_ + block_start_ : nullptr, length, last);
    block_start_ = static_cast<int32_t>(pos_);
  };

  uint32_t match_length = kMinMatch - 1;
  bool literal_pending = false;
  while (lookahead_ != 0) {
    const uint32_t head = InsertString(pos_);
    const uint32_t prev_length = match_length;
    const int32_t prev_start = match_start_;
    match_length = kMinMatch - 1;

    if (head != 0 && prev_length < params_.LazyLimit && pos_ - head <= kMaxDist) {
      match_length = std::min(LongestMatch(head, prev_length), lookahead_);
      if (match_length == kMinMatch && pos_ - static_cast<uint32_t>(match_start_) > kTooFar)
        match_length = kMinMatch - 1;
    }

    if (prev_length >= kMinMatch && match_length <= prev_length) {
      // The match that began at the previous position wins.
      const bool full =
          blocks.TallyMatch(pos_ - 1 - static_cast<uint32_t>(prev_start), prev_length, block_bytes());
      lookahead_ -= prev_length - 1;
      for (uint32_t n = prev_length - 2; n != 0; --n) InsertString(++pos_);
      literal_pending = false;
      match_length = kMinMatch - 1;
      ++pos_;
      if (full) flush(false);
    } else if (literal_pending) {
      const bool full = blocks.TallyLiteral(window_[pos_ - 1], block_bytes());
      --lookahead_;
      if (full) flush(false);
      ++pos_;
    } else {
      literal_pending = true;
      --lookahead_;
      ++pos_;
    }

    while (lookahead_ < kMinLookahead && !input_ended_) {
      if (pos_ + lookahead_ == kBufferSize) EndBlockBeforeSlide(blocks, literal_pending);
      FillWindow();
    }
  }

  if (literal_pending) blocks.TallyLiteral(window_[pos_ - 1], block_bytes());
  flush(true);
}

}  // namespace zipkit::deflate_detail
