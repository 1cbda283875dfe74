// TZipVolumePlan: where the bytes of a new archive fall once it is cut into volumes.
//
// The archive is built as one contiguous image; a volume holds the bytes from its start to the
// next volume's start. Volumes are cut at the volume size, or earlier, right before a header or
// record that would otherwise begin on one volume and end on the next: readers (ours included)
// read every record from one volume, while entry data may run on across volumes. Cutting early
// leaves no gap: concatenated, the volumes give back the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zipkit {

class TZipVolumePlan {
 public:
  // Volumes of VolumeSize bytes (at least 1); no limit means one volume for any archive.
  explicit TZipVolumePlan(int64_t VolumeSize);

  // The volume and the offset within it of a record of Length bytes that begins at Position
  // of the image. Positions must not decrease from call to call (except after Rollback).
  void Place(int64_t Position, int64_t Length, uint32_t& Volume, int32_t& Offset);

  // The number of volumes that the bytes up to End (exclusive) need.
  int32_t VolumeCount(int64_t End);
  // The first image position of volume Volume (Volume < VolumeCount).
  int64_t VolumeStart(int32_t Volume) const { return starts_[static_cast<size_t>(Volume)]; }
  int64_t VolumeSize() const { return volume_size_; }

  // Forgets every volume that starts after Position: an entry that was placed and then taken
  // back out of the image.
  void Rollback(int64_t Position);

 private:
  void AdvanceTo(int64_t Position);

  int64_t volume_size_;
  std::vector<int64_t> starts_;
};

}  // namespace zipkit
