// TZipSaveOutput: the stream a save writes the new archive into. It holds writes back in a
// buffer, so that the many small records of an archive (and the compressor's 8 KB loads) reach
// the file in large writes, and a header rewritten after its entry's data costs no system call
// while the entry is still in the buffer.
//
// It also remembers whether writing to the target ever failed. A failure may surface late (when
// the buffer is flushed during a later entry), and the save must tell it from the failure of one
// entry's input: a target that cannot take the archive ends the save, a disk file that cannot
// be read drops only its entry.
#pragma once

#include <cstdint>
#include <vector>

#include "host/stream.h"

namespace zipkit {

class TZipSaveOutput : public TStream {
 public:
  static constexpr int32_t kBufferSize = 256 * 1024;

  // Target must stay alive as long as this stream; its position is taken as the start.
  explicit TZipSaveOutput(TStream& Target);
  // Does not flush: a save that fails abandons what was not written.
  ~TZipSaveOutput() override = default;

  void SetSize(int32_t NewSize) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  // Returns Count, or 0 once the target has failed (a short write marks the failure).
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t Seek(int32_t Offset, uint16_t Origin) override;

  // Writes the buffer out; raises EWriteError when the target takes fewer bytes.
  void Flush();
  // True once a write to the target has failed.
  bool Failed() const { return failed_; }

 private:
  void Spill();  // Flush without raising; a failure only marks the stream

  TStream& target_;
  std::vector<uint8_t> buffer_;
  int64_t buffer_start_ = 0;  // target position of buffer_[0]
  int64_t position_ = 0;
  int64_t size_ = 0;
  bool failed_ = false;
};

}  // namespace zipkit
