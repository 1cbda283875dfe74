#include "compress/block_writer.h"

#include <algorithm>

#include "compress/huffman.h"

namespace zipkit::deflate_detail {

namespace {

// Calls emit(symbol, extra_value) for each code-length symbol that codes lengths[0..max_code]:
// runs of equal lengths become repeat codes 16, 17 and 18 where that is shorter.
template <typename Emit>
void WalkLengthRuns(const uint8_t* lengths, int max_code, Emit&& emit) {
  int prev_len = -1;
  int next_len = lengths[0];
  int count = 0;
  int max_count = next_len == 0 ? 138 : 7;
  int min_count = next_len == 0 ? 3 : 4;
  for (int n = 0; n <= max_code; ++n) {
    const int cur_len = next_len;
    next_len = n < max_code ? lengths[n + 1] : -1;  // nothing matches past the last code
    if (++count < max_count && cur_len == next_len) continue;
    if (count < min_count) {
      for (; count > 0; --count) emit(cur_len, 0);
    } else if (cur_len != 0) {
      if (cur_len != prev_len) {
        emit(cur_len, 0);
        --count;
      }
      emit(kRepeatPrevious, count - 3);
    } else if (count <= 10) {
      emit(kRepeatZero3, count - 3);
    } else {
      emit(kRepeatZero11, count - 11);
    }
    count = 0;
    prev_len = cur_len;
    if (next_len == 0) {
      max_count = 138;
      min_count = 3;
    } else if (cur_len == next_len) {
      max_count = 6;
      min_count = 3;
    } else {
      max_count = 7;
      min_count = 4;
    }
  }
}

// Bits of the symbols counted in freq[0..count) under the given code lengths, extra bits
// included for the codes from first_extra on.
template <size_t N>
int64_t CodedBits(const uint16_t* freq, int count, const uint8_t* len, int first_extra,
                  const std::array<uint8_t, N>& extra) {
  int64_t bits = 0;
  for (int n = 0; n < count; ++n) {
    const int x = n >= first_extra ? extra[n - first_extra] : 0;
    bits += static_cast<int64_t>(freq[n]) * (len[n] + x);
  }
  return bits;
}

constexpr uint8_t kFixedDistLengths[kDistCodes] = {
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};

}  // namespace

void TBlockWriter::Start(TBitWriter& out) {
  out_ = &out;
  data_type_ = dtUnknown;
  ResetBlock();
}

void TBlockWriter::ResetBlock() {
  std::fill(std::begin(lit_freq_), std::end(lit_freq_), uint16_t{0});
  std::fill(std::begin(dist_freq_), std::end(dist_freq_), uint16_t{0});
  lit_freq_[kEndOfBlock] = 1;
  std::fill(std::begin(block_kinds_), std::end(block_kinds_), 0u);
  std::fill(std::begin(fresh_kinds_), std::end(fresh_kinds_), 0u);
  block_kinds_total_ = 0;
  symbols_ = 0;
  matches_ = 0;
}

// Compares the kinds of the last kKindCheckInterval symbols with those of the block before them;
// a large difference ends the block. Otherwise the fresh counts join the block's.
bool TBlockWriter::KindsShifted(int32_t block_bytes) {
  const int64_t fresh_total = kKindCheckInterval;
  if (block_kinds_total_ != 0 && block_bytes >= kMinSplitBytes) {
    // The shares of the kinds, summed over their differences: 0 for the same mix, 2 for
    // disjoint ones. Half a unit or more ends the block.
    int64_t delta = 0;
    for (int k = 0; k < kKinds; ++k) {
      const int64_t a = static_cast<int64_t>(block_kinds_[k]) * fresh_total;
      const int64_t b = static_cast<int64_t>(fresh_kinds_[k]) * block_kinds_total_;
      delta += a > b ? a - b : b - a;
    }
    if (2 * delta >= fresh_total * block_kinds_total_) return true;
  }
  for (int k = 0; k < kKinds; ++k) {
    block_kinds_[k] += fresh_kinds_[k];
    fresh_kinds_[k] = 0;
  }
  block_kinds_total_ += fresh_total;
  return false;
}

// Text when the bytes 7..127 outnumber the others at least four to one.
void TBlockWriter::DetectDataType() {
  uint32_t ascii = 0;
  uint32_t binary = 0;
  for (int c = 0; c < 7; ++c) binary += lit_freq_[c];
  for (int c = 7; c < 128; ++c) ascii += lit_freq_[c];
  for (int c = 128; c < kLiteralCodes; ++c) binary += lit_freq_[c];
  data_type_ = binary > (ascii >> 2) ? dtBinary : dtText;
}

// Builds the block's dynamic codes and measures both coded forms in whole bytes, counting the
// 3-bit block header.
TBlockWriter::TCodedSizes TBlockWriter::BuildCodes() {
  lit_max_ = BuildCodeLengths(lit_freq_, kLitLenCodes, kMaxCodeLength, lit_len_);
  dist_max_ = BuildCodeLengths(dist_freq_, kDistCodes, kMaxCodeLength, dist_len_);

  // The code-length code, and the highest of its codes in sending order that the header needs
  // (at least 4 are always sent).
  uint16_t bl_freq[kCodeLengthCodes] = {};
  auto count_symbol = [&bl_freq](int symbol, int) { ++bl_freq[symbol]; };
  WalkLengthRuns(lit_len_, lit_max_, count_symbol);
  WalkLengthRuns(dist_len_, dist_max_, count_symbol);
  BuildCodeLengths(bl_freq, kCodeLengthCodes, kMaxCodeLengthCodeLength, bl_len_);
  max_bl_index_ = kCodeLengthCodes - 1;
  while (max_bl_index_ > 3 && bl_len_[kCodeLengthOrder[max_bl_index_]] == 0) --max_bl_index_;

  const int64_t dynamic_bits =
      CodedBits(lit_freq_, kLitLenCodes, lit_len_, kLiteralCodes + 1, kLengthExtra) +
      CodedBits(dist_freq_, kDistCodes, dist_len_, 0, kDistExtra) +
      CodedBits(bl_freq, kCodeLengthCodes, bl_len_, 0, kCodeLengthExtra) +
      3 * (max_bl_index_ + 1) + 5 + 5 + 4;
  const int64_t fixed_bits =
      CodedBits(lit_freq_, kLitLenCodes, kFixedLitLenLength.data(), kLiteralCodes + 1, kLengthExtra) +
      CodedBits(dist_freq_, kDistCodes, kFixedDistLengths, 0, kDistExtra);
  TCodedSizes sizes;
  sizes.fixed = (fixed_bits + 3 + 7) >> 3;
  sizes.best = std::min((dynamic_bits + 3 + 7) >> 3, sizes.fixed);
  return sizes;
}

bool TBlockWriter::StoredIsSmallest(int32_t stored_length) {
  return stored_length <= 0xFFFF && stored_length + 4 <= BuildCodes().best;
}

void TBlockWriter::FlushBlock(const uint8_t* bytes, int32_t stored_length, bool last) {
  if (data_type_ == dtUnknown) DetectDataType();
  const TCodedSizes sizes = BuildCodes();
  const int64_t fixed_bytes = sizes.fixed;
  const int64_t opt_bytes = sizes.best;

  // A stored block's length field has 16 bits; a longer one is coded instead.
  if (bytes != nullptr && stored_length <= 0xFFFF && stored_length + 4 <= opt_bytes) {
    out_->PutBits(last ? 1 : 0, 3);
    out_->AlignOutput();
    const uint32_t len = static_cast<uint32_t>(stored_length);
    out_->PutBits(len | ((~len & 0xFFFF) << 16), 32);
    out_->PutAlignedBytes(bytes, stored_length);
  } else if (fixed_bytes == opt_bytes) {
    out_->PutBits(2 + (last ? 1 : 0), 3);
    EmitSymbols(kFixedLitLenCode.data(), kFixedLitLenLength.data(), kFixedDistCode.data(),
                kFixedDistLengths);
  } else {
    out_->PutBits(4 + (last ? 1 : 0), 3);
    AssignCodes(lit_len_, lit_max_ + 1, lit_code_);
    AssignCodes(dist_len_, dist_max_ + 1, dist_code_);
    AssignCodes(bl_len_, kCodeLengthCodes, bl_code_);
    SendTrees(lit_max_ + 1, dist_max_ + 1, max_bl_index_ + 1);
    EmitSymbols(lit_code_, lit_len_, dist_code_, dist_len_);
  }

  ResetBlock();
  if (last) out_->AlignOutput();
}

void TBlockWriter::SendTrees(int lit_codes, int dist_codes, int length_codes) {
  out_->PutBits(static_cast<uint32_t>(lit_codes - 257), 5);
  out_->PutBits(static_cast<uint32_t>(dist_codes - 1), 5);
  out_->PutBits(static_cast<uint32_t>(length_codes - 4), 4);
  for (int rank = 0; rank < length_codes; ++rank) out_->PutBits(bl_len_[kCodeLengthOrder[rank]], 3);
  auto send = [this](int symbol, int extra) {
    out_->PutBits(bl_code_[symbol], bl_len_[symbol]);
    if (symbol >= kRepeatPrevious)
      out_->PutBits(static_cast<uint32_t>(extra), kCodeLengthExtra[symbol]);
  };
  WalkLengthRuns(lit_len_, lit_codes - 1, send);
  WalkLengthRuns(dist_len_, dist_codes - 1, send);
}

// The block's symbols in order, then the end-of-block code.
void TBlockWriter::EmitSymbols(const uint16_t* lit_code, const uint8_t* lit_len,
                               const uint16_t* dist_code, const uint8_t* dist_len) {
  TBitWriter& out = *out_;
  for (int32_t i = 0; i < symbols_; ++i) {
    const uint32_t dist = sym_dist_[i];
    const uint32_t value = sym_length_[i];
    if (dist == 0) {
      out.PutBits(lit_code[value], lit_len[value]);
      continue;
    }
    const int lc = kLengthCode[value];
    const int ls = kLiteralCodes + 1 + lc;
    out.PutBits(lit_code[ls] | ((value - kLengthBase[lc]) << lit_len[ls]),
                lit_len[ls] + kLengthExtra[lc]);
    const uint32_t d = dist - 1;
    const int dc = DistCode(d);
    out.PutBits(dist_code[dc] | ((d - kDistBase[dc]) << dist_len[dc]), dist_len[dc] + kDistExtra[dc]);
  }
  out.PutBits(lit_code[kEndOfBlock], lit_len[kEndOfBlock]);
}

}  // namespace zipkit::deflate_detail
