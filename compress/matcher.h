// The deflate match finder: a 64 KiB window holding 32 KiB of history and the look-ahead, hash
// chains over three-byte strings, and the lazy evaluation that decides between a literal and a
// match at each position. Its decisions go to the block writer.
#pragma once

#include <cstdint>

#include "compress/block_writer.h"
#include "compress/deflate.h"
#include "compress/deflate_levels.h"
#include "compress/deflate_tables.h"

namespace zipkit::deflate_detail {

class TMatcher {
 public:
  // History that matches may reach back into; the window buffer holds twice that and slides by
  // one half when the look-ahead reaches its end.
  static constexpr uint32_t kWindowSize = 32768;
  static constexpr uint32_t kWindowMask = kWindowSize - 1;
  static constexpr uint32_t kBufferSize = 2 * kWindowSize;
  // The look-ahead is kept at least this long while input remains, so a full match plus the
  // next string's three bytes are always in the buffer.
  static constexpr uint32_t kMinLookahead = kMaxMatch + kMinMatch + 1;
  // Matches reach back no farther, so that a candidate never lies in the part the next slide
  // drops.
  static constexpr uint32_t kMaxDist = kBufferSize / 2 - kMinLookahead;
  // A three-byte match farther back than this costs more bits than three literals.
  static constexpr uint32_t kTooFar = 4096;

  static constexpr int kHashBits = 15;
  static constexpr uint32_t kHashSize = 1u << kHashBits;
  static constexpr uint32_t kHashMask = kHashSize - 1;
  static constexpr int kHashShift = 5;  // three shifts push a byte out of the hash

  // Compresses all of input into blocks.
  void Run(TDeflateInput& input, TBlockWriter& blocks, int level);

 private:
  void FillWindow();
  void EndInput();
  void EndBlockBeforeSlide(TBlockWriter& blocks, bool literal_pending);
  void SlideWindow();
  uint32_t LongestMatch(uint32_t candidate, uint32_t best);

  // Adds the string at s to its hash chain and returns the chain's previous head.
  uint32_t InsertString(uint32_t s) {
    hash_ = ((hash_ << kHashShift) ^ window_[s + 2]) & kHashMask;
    const uint32_t head = head_[hash_];
    links_[s & kWindowMask] = (links_[head & kWindowMask] << 16) | head;
    head_[hash_] = static_cast<uint16_t>(s);
    return head;
  }

  TDeflateInput* input_ = nullptr;
  TDeflateLevel params_{};
  bool input_ended_ = false;
  uint32_t hash_ = 0;
  uint32_t pos_ = 0;        // current position in the window
  uint32_t lookahead_ = 0;  // valid bytes from pos_ on
  int32_t block_start_ = 0; // window position where the current block began; may go negative
  int32_t match_start_ = 0; // where LongestMatch's best match starts

  // Word-sized compares may read a little past the longest match at the window's end.
  static constexpr uint32_t kPadding = kMaxMatch + 16;
  uint8_t window_[kBufferSize + kPadding];
  uint16_t head_[kHashSize];      // last position of each hash value, 0 for none
  // The hash chains, by position mod 32 KiB: the previous position with the same hash in the
  // low 16 bits, then the one before it, up to four back, as they were when the position was
  // added. They are still that whenever the walk reaches them (it never follows a link out of
  // the window), and one load gives the walk its next four candidates.
  uint64_t links_[kWindowSize];
};

}  // namespace zipkit::deflate_detail
