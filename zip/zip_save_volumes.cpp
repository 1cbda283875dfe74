#include "zip/zip_save_volumes.h"

#include <algorithm>

namespace zipkit {

TZipVolumePlan::TZipVolumePlan(int64_t VolumeSize)
    : volume_size_(std::max<int64_t>(VolumeSize, 1)), starts_{0} {}

void TZipVolumePlan::AdvanceTo(int64_t Position) {
  // A position on a volume's end belongs to the next volume, at offset 0.
  while (Position >= starts_.back() + volume_size_) starts_.push_back(starts_.back() + volume_size_);
}

void TZipVolumePlan::Place(int64_t Position, int64_t Length, uint32_t& Volume, int32_t& Offset) {
  AdvanceTo(Position);
  const int64_t start = starts_.back();
  // A record longer than a volume cannot be kept whole; it runs on as data does.
  if (Position > start && Length <= volume_size_ && Position + Length > start + volume_size_)
    starts_.push_back(Position);
  Volume = static_cast<uint32_t>(starts_.size() - 1);
  Offset = static_cast<int32_t>(Position - starts_.back());
}

int32_t TZipVolumePlan::VolumeCount(int64_t End) {
  if (End > 0) AdvanceTo(End - 1);
  return static_cast<int32_t>(starts_.size());
}

void TZipVolumePlan::Rollback(int64_t Position) {
  while (starts_.size() > 1 && starts_.back() > Position) starts_.pop_back();
}

}  // namespace zipkit
