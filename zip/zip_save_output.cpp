#include "zip/zip_save_output.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "host/exceptions.h"

namespace zipkit {

TZipSaveOutput::TZipSaveOutput(TStream& Target) : target_(Target) {
  buffer_.reserve(kBufferSize);
  size_ = std::max<int32_t>(target_.Size(), 0);
  position_ = std::max<int32_t>(target_.Position(), 0);
  buffer_start_ = position_;
}

void TZipSaveOutput::Spill() {
  if (buffer_.empty()) return;
  const int32_t n = static_cast<int32_t>(buffer_.size());
  if (!failed_) {
    failed_ = target_.Seek(static_cast<int32_t>(buffer_start_), soFromBeginning) != buffer_start_ ||
              target_.Write(buffer_.data(), n) != n;
  }
  buffer_.clear();
  buffer_start_ = position_;
}

void TZipSaveOutput::Flush() {
  Spill();
  if (failed_) throw EWriteError();
}

int32_t TZipSaveOutput::Write(const void* Buffer, int32_t Count) {
  if (failed_ || Count <= 0) return 0;
  if (position_ + Count > INT32_MAX) {
    failed_ = true;  // the archive would pass 2 GiB
    return 0;
  }
  const auto* in = static_cast<const uint8_t*>(Buffer);
  const int64_t buffered_end = buffer_start_ + static_cast<int64_t>(buffer_.size());
  if (position_ < buffer_start_ || position_ > buffered_end) {
    Spill();
    buffer_start_ = position_;
  }
  int32_t done = 0;
  while (done < Count) {
    int64_t at = position_ - buffer_start_;
    if (at >= kBufferSize) {
      Spill();
      if (failed_) break;
      at = 0;
    }
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(Count - done, kBufferSize - at));
    if (static_cast<size_t>(at + n) > buffer_.size()) buffer_.resize(static_cast<size_t>(at + n));
    std::memcpy(buffer_.data() + at, in + done, static_cast<size_t>(n));
    done += n;
    position_ += n;
  }
  size_ = std::max(size_, position_);
  return failed_ ? 0 : done;
}

int32_t TZipSaveOutput::Read(void* Buffer, int32_t Count) {
  Spill();
  if (failed_ || Count <= 0 || position_ >= size_) return 0;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(Count, size_ - position_));
  if (target_.Seek(static_cast<int32_t>(position_), soFromBeginning) != position_) return 0;
  const int32_t got = std::max(target_.Read(Buffer, n), 0);
  position_ += got;
  buffer_start_ = position_;
  return got;
}

int32_t TZipSaveOutput::Seek(int32_t Offset, uint16_t Origin) {
  int64_t base = 0;
  switch (Origin) {
    case soFromBeginning: base = 0; break;
    case soFromCurrent: base = position_; break;
    case soFromEnd: base = size_; break;
    default: return -1;
  }
  const int64_t target = base + Offset;
  if (target < 0 || target > INT32_MAX) return -1;
  position_ = target;
  return static_cast<int32_t>(position_);
}

void TZipSaveOutput::SetSize(int32_t NewSize) {
  Flush();
  try {
    target_.SetSize(NewSize);
  } catch (...) {
    failed_ = true;
    throw;
  }
  size_ = std::max<int32_t>(NewSize, 0);
  position_ = std::min(position_, size_);
  buffer_start_ = position_;
}

}  // namespace zipkit
