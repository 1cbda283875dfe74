// One deflate block at a time: collects the matcher's literals and matches with their
// frequencies, and when the block ends writes it as whichever of a stored, a fixed-code and a
// dynamic-code block takes the fewest bits.
#pragma once

#include <cstdint>

#include "compress/bit_writer.h"
#include "compress/deflate.h"
#include "compress/deflate_tables.h"

namespace zipkit::deflate_detail {

class TBlockWriter {
 public:
  // A block ends when it holds this many symbols (or matches), whatever its cost.
  static constexpr int32_t kMaxSymbols = 32767;
  static constexpr int32_t kMaxMatches = 32768;

  // Prepares for a new stream written through `out`.
  void Start(TBitWriter& out);

  // Each Tally adds one symbol and answers whether the block should end now. block_bytes is the
  // input the block covers so far (a short block is not ended for a shift in its symbols).
  bool TallyLiteral(uint8_t c, int32_t block_bytes) {
    sym_length_[symbols_] = c;
    sym_dist_[symbols_] = 0;
    ++symbols_;
    ++lit_freq_[c];
    ++fresh_kinds_[c >> 5];
    return BlockFull(block_bytes);
  }
  // dist 1..32768, length 3..258.
  bool TallyMatch(uint32_t dist, uint32_t length, int32_t block_bytes) {
    sym_length_[symbols_] = static_cast<uint8_t>(length - kMinMatch);
    sym_dist_[symbols_] = static_cast<uint16_t>(dist);
    ++symbols_;
    ++matches_;
    ++lit_freq_[kLiteralCodes + 1 + kLengthCode[length - kMinMatch]];
    ++dist_freq_[DistCode(dist - 1)];
    ++fresh_kinds_[kLiteralKinds + (length >= 9 ? 1 : 0)];
    return BlockFull(block_bytes);
  }

  // Writes the symbols collected as one block. `bytes` are the stored_length input bytes the
  // block covers, or null when they are no longer at hand (no stored block then).
  void FlushBlock(const uint8_t* bytes, int32_t stored_length, bool last);

  bool HasSymbols() const { return symbols_ != 0; }

  // Whether the symbols so far, covering stored_length bytes, take more room coded than stored.
  bool StoredIsSmallest(int32_t stored_length);

  // Decided from the literals of the first block.
  TDeflateDataType DataType() const { return data_type_; }

 private:
  bool BlockFull(int32_t block_bytes) {
    if ((symbols_ & (kKindCheckInterval - 1)) == 0 && KindsShifted(block_bytes)) return true;
    return symbols_ == kMaxSymbols || matches_ == kMaxMatches;
  }
  bool KindsShifted(int32_t block_bytes);
  // The block's size in whole bytes, header included, as a fixed-code block and in its best
  // coded form.
  struct TCodedSizes {
    int64_t fixed;
    int64_t best;
  };
  TCodedSizes BuildCodes();
  void ResetBlock();
  void DetectDataType();
  void SendTrees(int lit_codes, int dist_codes, int length_codes);
  void EmitSymbols(const uint16_t* lit_code, const uint8_t* lit_len, const uint16_t* dist_code,
                   const uint8_t* dist_len);

  TBitWriter* out_ = nullptr;
  TDeflateDataType data_type_ = dtUnknown;

  // The block's symbols: a literal has dist 0 and its byte in sym_length_; a match its distance
  // and its length minus 3.
  int32_t symbols_ = 0;
  int32_t matches_ = 0;
  uint8_t sym_length_[kMaxMatches];
  uint16_t sym_dist_[kMaxMatches];

  // Symbols sorted into a few kinds (literals by their top three bits, short and long matches)
  // to notice when the data changes character: a new block with new codes then pays for its
  // header. Checked every kKindCheckInterval symbols once the block covers kMinSplitBytes.
  static constexpr int kLiteralKinds = 8;
  static constexpr int kKinds = kLiteralKinds + 2;
  static constexpr int32_t kKindCheckInterval = 512;
  static constexpr int32_t kMinSplitBytes = 10000;
  uint32_t block_kinds_[kKinds];
  uint32_t block_kinds_total_ = 0;
  uint32_t fresh_kinds_[kKinds];

  uint16_t lit_freq_[kLitLenCodes];
  uint16_t dist_freq_[kDistCodes];

  // The dynamic codes of the block being written.
  uint8_t lit_len_[kLitLenCodes];
  uint16_t lit_code_[kLitLenCodes];
  uint8_t dist_len_[kDistCodes];
  uint16_t dist_code_[kDistCodes];
  uint8_t bl_len_[kCodeLengthCodes];
  uint16_t bl_code_[kCodeLengthCodes];
  int lit_max_ = 0;
  int dist_max_ = 0;
  int max_bl_index_ = 0;  // the last code-length code the header sends, in sending order
};

}  // namespace zipkit::deflate_detail
