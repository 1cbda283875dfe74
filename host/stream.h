// TStream: the abstract, seekable byte stream every part of the engine reads and writes.
// Positions and sizes are signed 32-bit: an archive, a volume and an entry stay below 2 GiB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipkit {

// Seek origins.
enum : uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  // The four virtual operations, in slot order.
  virtual void SetSize(int32_t NewSize);
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  virtual int32_t Seek(int32_t Offset, uint16_t Origin) = 0;

  // Derived from Seek, as the platform's streams do.
  int32_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int32_t Pos) { Seek(Pos, soFromBeginning); }
  int32_t Size();

  // Transfer exactly Count bytes or raise EReadError / EWriteError.
  void ReadBuffer(void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);
  // Copies Count bytes from Source's position (Count 0: all of Source from its start).
  int32_t CopyFrom(TStream& Source, int32_t Count);
};

// A stream held in memory; grows as it is written.
class TMemoryStream : public TStream {
 public:
  void SetSize(int32_t NewSize) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t Seek(int32_t Offset, uint16_t Origin) override;

  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }
  void Clear();
  void LoadFromStream(TStream& Source);
  void SaveToStream(TStream& Target);
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

 private:
  std::vector<uint8_t> data_;
  int32_t position_ = 0;
};

// File open modes: one access mode or'ed with one share mode; fmCreate creates or truncates.
enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFFFF,
};

// A stream over a file of the host. Raises EFCreateError ("Cannot create file %s") or
// EFOpenError ("Cannot open file %s") when the file cannot be created or opened.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& FileName, uint16_t Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  void SetSize(int32_t NewSize) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t Seek(int32_t Offset, uint16_t Origin) override;

  const std::string& FileName() const { return file_name_; }
  // The operating system's handle (a file descriptor on POSIX, a HANDLE on Windows).
  intptr_t Handle() const { return handle_; }

 private:
  std::string file_name_;
  intptr_t handle_;
};

}  // namespace zipkit
