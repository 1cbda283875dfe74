// Streams that fail on demand, as a full disk, a network share that goes away or a damaged
// medium does. The fault point is reached after a number of bytes, at an offset of the stream,
// or on the Nth call of an operation; from there on, or only once. A failed read or write
// transfers what lies before the fault point (a short transfer, as the host's file streams
// return when the system refuses), nothing at all, or raises the host's EReadError /
// EWriteError; a failed seek answers -1.
//
// TFaultStream works over any other stream; TFaultFileStream is a file stream itself, so that
// the engine still takes it for one (spanned sets, saving beside the archive file).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "host/exceptions.h"
#include "host/stream.h"

namespace zipkit::testing {

enum class TFaultOp { Read, Write, Seek };
enum class TFaultKind { Short, Nothing, Raise };

struct TFaultPlan {
  TFaultOp Op = TFaultOp::Write;
  TFaultKind Kind = TFaultKind::Short;
  int64_t AfterBytes = -1;  // fault once this many bytes have passed; -1: off
  int64_t AtOffset = -1;    // fault at this offset (seeks: to it or beyond); -1: off
  int32_t OnCall = -1;      // fault on this call of Op, counted from 1, and later; -1: off
  bool Once = false;        // only the first fault; later calls go through
};

// The plan and what has happened so far; the streams below ask it before every operation.
class TFaultPoint {
 public:
  explicit TFaultPoint(TFaultPlan Plan) : plan_(Plan) {}

  // The bytes a read or write at Position may move: Count, fewer at a fault, -1 to raise.
  int32_t Allow(TFaultOp Op, int32_t Count, int64_t Position) {
    if (Op != plan_.Op) return Count;
    ++calls_;
    if (plan_.Once && faults_ > 0) return Count;
    int64_t allowed = Count;
    if (plan_.OnCall > 0 && calls_ >= plan_.OnCall) allowed = 0;
    if (plan_.AfterBytes >= 0)
      allowed = std::min(allowed, std::max<int64_t>(plan_.AfterBytes - bytes_, 0));
    if (plan_.AtOffset >= 0) allowed = std::min(allowed, std::max<int64_t>(plan_.AtOffset - Position, 0));
    if (allowed >= Count) return Count;
    ++faults_;
    if (plan_.Kind == TFaultKind::Raise) return -1;
    return plan_.Kind == TFaultKind::Nothing ? 0 : static_cast<int32_t>(allowed);
  }

  // True when a seek to Target must fail.
  bool SeekFails(int64_t Target) {
    if (plan_.Op != TFaultOp::Seek) return false;
    ++calls_;
    if (plan_.Once && faults_ > 0) return false;
    const bool fault = (plan_.OnCall > 0 && calls_ >= plan_.OnCall) ||
                       (plan_.AtOffset >= 0 && Target >= plan_.AtOffset);
    faults_ += fault;
    return fault;
  }

  void Moved(int32_t Bytes) { bytes_ += std::max(Bytes, 0); }
  int32_t Faults() const { return faults_; }

 private:
  TFaultPlan plan_;
  int64_t bytes_ = 0;
  int32_t calls_ = 0;
  int32_t faults_ = 0;
};

// The target of a seek: position and size queries (offset 0 from the current position or the
// end) are no moves and never fail.
inline bool IsMove(int32_t Offset, uint16_t Origin) { return Offset != 0 || Origin == soFromBeginning; }

inline int64_t SeekTarget(TStream& S, int32_t Offset, uint16_t Origin) {
  if (Origin == soFromCurrent) return int64_t{S.Position()} + Offset;
  if (Origin == soFromEnd) return int64_t{S.Size()} + Offset;
  return Offset;
}

class TFaultStream : public TStream {
 public:
  TFaultStream(std::unique_ptr<TStream> Inner, TFaultPlan Plan)
      : owned_(std::move(Inner)), inner_(owned_.get()), point_(Plan) {}
  TFaultStream(TStream& Inner, TFaultPlan Plan) : inner_(&Inner), point_(Plan) {}

  void SetSize(int32_t NewSize) override { inner_->SetSize(NewSize); }

  int32_t Read(void* Buffer, int32_t Count) override {
    const int32_t allowed = point_.Allow(TFaultOp::Read, Count, inner_->Position());
    if (allowed < 0) throw EReadError();
    const int32_t n = inner_->Read(Buffer, allowed);
    point_.Moved(n);
    return n;
  }

  int32_t Write(const void* Buffer, int32_t Count) override {
    const int32_t allowed = point_.Allow(TFaultOp::Write, Count, inner_->Position());
    if (allowed < 0) throw EWriteError();
    const int32_t n = inner_->Write(Buffer, allowed);
    point_.Moved(n);
    return n;
  }

  int32_t Seek(int32_t Offset, uint16_t Origin) override {
    if (IsMove(Offset, Origin) && point_.SeekFails(SeekTarget(*inner_, Offset, Origin))) return -1;
    return inner_->Seek(Offset, Origin);
  }

  int32_t Faults() const { return point_.Faults(); }

 private:
  std::unique_ptr<TStream> owned_;
  TStream* inner_;
  TFaultPoint point_;
};

class TFaultFileStream : public TFileStream {
 public:
  TFaultFileStream(const std::string& FileName, uint16_t Mode, TFaultPlan Plan)
      : TFileStream(FileName, Mode), point_(Plan) {}

  int32_t Read(void* Buffer, int32_t Count) override {
    const int32_t allowed = point_.Allow(TFaultOp::Read, Count, Here());
    if (allowed < 0) throw EReadError();
    const int32_t n = TFileStream::Read(Buffer, allowed);
    point_.Moved(n);
    return n;
  }

  int32_t Write(const void* Buffer, int32_t Count) override {
    const int32_t allowed = point_.Allow(TFaultOp::Write, Count, Here());
    if (allowed < 0) throw EWriteError();
    const int32_t n = TFileStream::Write(Buffer, allowed);
    point_.Moved(n);
    return n;
  }

  int32_t Seek(int32_t Offset, uint16_t Origin) override {
    if (IsMove(Offset, Origin)) {
      int64_t target = Offset;
      if (Origin == soFromCurrent) target += Here();
      if (Origin == soFromEnd) target += End();
      if (point_.SeekFails(target)) return -1;
    }
    return TFileStream::Seek(Offset, Origin);
  }

  int32_t Faults() const { return point_.Faults(); }

 private:
  int64_t Here() { return TFileStream::Seek(0, soFromCurrent); }
  int64_t End() {
    const int32_t here = TFileStream::Seek(0, soFromCurrent);
    const int32_t end = TFileStream::Seek(0, soFromEnd);
    TFileStream::Seek(here, soFromBeginning);
    return end;
  }

  TFaultPoint point_;
};

}  // namespace zipkit::testing
