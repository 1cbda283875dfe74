// TFaultStream: a stream over another one that fails on demand, as a full disk, a network share
// that goes away or a damaged medium does. The fault point is reached after a number of bytes,
// at an offset of the stream below, or on the Nth call of an operation; from there on, or only
// once. A failed read or write transfers what lies before the fault point (a short transfer, as
// the host's file streams return when the system refuses), nothing at all, or raises the host's
// EReadError / EWriteError; a failed seek answers -1.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

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

class TFaultStream : public TStream {
 public:
  TFaultStream(std::unique_ptr<TStream> Inner, TFaultPlan Plan)
      : owned_(std::move(Inner)), inner_(owned_.get()), plan_(Plan) {}
  TFaultStream(TStream& Inner, TFaultPlan Plan) : inner_(&Inner), plan_(Plan) {}

  void SetSize(int32_t NewSize) override { inner_->SetSize(NewSize); }

  int32_t Read(void* Buffer, int32_t Count) override {
    const int32_t allowed = Allow(TFaultOp::Read, Count);
    if (allowed < 0) throw EReadError();
    const int32_t n = inner_->Read(Buffer, allowed);
    bytes_ += std::max(n, 0);
    return n;
  }

  int32_t Write(const void* Buffer, int32_t Count) override {
    const int32_t allowed = Allow(TFaultOp::Write, Count);
    if (allowed < 0) throw EWriteError();
    const int32_t n = inner_->Write(Buffer, allowed);
    bytes_ += std::max(n, 0);
    return n;
  }

  int32_t Seek(int32_t Offset, uint16_t Origin) override {
    // Position and size queries are seeks too; only moves can fail.
    if (Offset == 0 && Origin != soFromBeginning) return inner_->Seek(Offset, Origin);
    if (plan_.Op == TFaultOp::Seek && Fault(SeekTarget(Offset, Origin))) return -1;
    return inner_->Seek(Offset, Origin);
  }

  int32_t Faults() const { return faults_; }

 private:
  int64_t SeekTarget(int32_t Offset, uint16_t Origin) {
    if (Origin == soFromCurrent) return int64_t{inner_->Position()} + Offset;
    if (Origin == soFromEnd) return int64_t{inner_->Size()} + Offset;
    return Offset;
  }

  // For a seek: true when it must fail.
  bool Fault(int64_t Target) {
    ++calls_;
    if (plan_.Once && faults_ > 0) return false;
    const bool fault = (plan_.OnCall > 0 && calls_ >= plan_.OnCall) ||
                       (plan_.AtOffset >= 0 && Target >= plan_.AtOffset);
    faults_ += fault;
    return fault;
  }

  // The bytes a read or write may move: Count, fewer at a fault, -1 to raise.
  int32_t Allow(TFaultOp Op, int32_t Count) {
    if (Op != plan_.Op) return Count;
    ++calls_;
    if (plan_.Once && faults_ > 0) return Count;
    int64_t allowed = Count;
    if (plan_.OnCall > 0 && calls_ >= plan_.OnCall) allowed = 0;
    if (plan_.AfterBytes >= 0) allowed = std::min(allowed, std::max<int64_t>(plan_.AfterBytes - bytes_, 0));
    if (plan_.AtOffset >= 0)
      allowed = std::min(allowed, std::max<int64_t>(plan_.AtOffset - inner_->Position(), 0));
    if (allowed >= Count) return Count;
    ++faults_;
    if (plan_.Kind == TFaultKind::Raise) return -1;
    return plan_.Kind == TFaultKind::Nothing ? 0 : static_cast<int32_t>(allowed);
  }

  std::unique_ptr<TStream> owned_;
  TStream* inner_;
  TFaultPlan plan_;
  int64_t bytes_ = 0;
  int32_t calls_ = 0;
  int32_t faults_ = 0;
};

}  // namespace zipkit::testing
