#include "host/stream.h"

#include <algorithm>
#include <cstring>

#include "host/exceptions.h"

namespace zipkit {

void TStream::SetSize(int32_t) {}

int32_t TStream::Size() {
  const int32_t pos = Seek(0, soFromCurrent);
  const int32_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError();
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError();
}

int32_t TStream::CopyFrom(TStream& Source, int32_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  std::vector<uint8_t> buffer(std::min<int32_t>(Count > 0 ? Count : 1, 1 << 16));
  int32_t left = Count;
  while (left > 0) {
    const int32_t n = std::min<int32_t>(left, static_cast<int32_t>(buffer.size()));
    Source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return Count;
}

void TMemoryStream::SetSize(int32_t NewSize) {
  data_.resize(static_cast<size_t>(std::max<int32_t>(NewSize, 0)));
  if (position_ > NewSize) position_ = std::max<int32_t>(NewSize, 0);
}

int32_t TMemoryStream::Read(void* Buffer, int32_t Count) {
  const int32_t size = static_cast<int32_t>(data_.size());
  if (Count <= 0 || position_ >= size) return 0;
  const int32_t n = std::min(Count, size - position_);
  std::memcpy(Buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0 || position_ < 0) return 0;
  if (Count > INT32_MAX - position_) return 0;  // would pass the 2 GiB limit
  const size_t end = static_cast<size_t>(position_) + static_cast<size_t>(Count);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, Buffer, static_cast<size_t>(Count));
  position_ += Count;
  return Count;
}

int32_t TMemoryStream::Seek(int32_t Offset, uint16_t Origin) {
  int64_t base = 0;
  switch (Origin) {
    case soFromBeginning: base = 0; break;
    case soFromCurrent: base = position_; break;
    case soFromEnd: base = static_cast<int64_t>(data_.size()); break;
    default: return -1;
  }
  const int64_t pos = base + Offset;
  if (pos < 0 || pos > INT32_MAX) return -1;
  position_ = static_cast<int32_t>(pos);
  return position_;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& Source) {
  Source.SetPosition(0);
  const int32_t size = Source.Size();
  SetSize(size);
  Source.ReadBuffer(data_.data(), size);
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& Target) {
  Target.WriteBuffer(data_.data(), static_cast<int32_t>(data_.size()));
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
  TFileStream file(FileName, fmCreate);
  SaveToStream(file);
}

}  // namespace zipkit
