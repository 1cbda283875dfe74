// Decodes arbitrary bytes as a deflate stream, four ways that must agree in every respect: the
// whole input as one span, the input cut into spans of a size taken from the first byte, a
// direct decoder writing into a buffer just large enough, and the byte-at-a-time model (which
// also tells how many spans each decoder may ask for). The model is slow, so beyond a
// megabyte of output only our decoders run (for the sanitizers).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/errors.h"
#include "unzip/inflate.h"
#include "unzip/inflate_tables.h"

// The model is the oracle, not the code under test: left out of the coverage instrumentation,
// whose comparison hooks in its byte-at-a-time loops cost more than the decoders themselves.
#pragma clang attribute push(__attribute__((no_sanitize("coverage"))), apply_to = function)
#include "unzip/inflate_model_test.h"
#pragma clang attribute pop

namespace {

using zipkit::TAbInflater;

struct TOutcome {
  bool Ok = false;
  bool EndedByInput = false;
  std::vector<uint8_t> Output;
  int Spans = 0;
};

TOutcome ThroughWindow(const uint8_t* Data, size_t Size, size_t Span) {
  zipkit::TInflateMemoryInput input(Data, Size, Span);
  zipkit::TInflateVectorOutput output;
  TAbInflater inflater(input, output, 1);  // the smallest window: its history slides often
  TOutcome r;
  try {
    inflater.Run();
    r.Ok = true;
  } catch (const zipkit::EAbZipInflateBlock&) {
  }
  r.EndedByInput = inflater.EndedByInput();
  r.Output = std::move(output.Bytes);
  r.Spans = input.Spans();
  return r;
}

TOutcome Direct(const uint8_t* Data, size_t Size, size_t Span, size_t Capacity) {
  zipkit::TInflateMemoryInput input(Data, Size, Span);
  std::vector<uint8_t> out(Capacity);
  TAbInflater inflater(input, out.data(), out.size());
  TOutcome r;
  try {
    inflater.Run();
    r.Ok = true;
  } catch (const zipkit::EAbZipInflateBlock&) {
  }
  r.EndedByInput = inflater.EndedByInput();
  out.resize(inflater.OutputSize());
  r.Output = std::move(out);
  r.Spans = input.Spans();
  return r;
}

void Expect(bool Condition, const char* What) {
  if (!Condition) {
    std::fprintf(stderr, "inflate disagrees: %s\n", What);
    std::abort();
  }
}

void ExpectSame(const TOutcome& A, const zipkit::model::TResult& M, size_t Span, size_t Size) {
  Expect(A.Ok == M.Ok, "outcome");
  Expect(A.Output == M.Output, "output");
  Expect(A.EndedByInput == M.EndedByInput, "end by input");
  const size_t span = Span == 0 ? Size : Span;
  const size_t spans = span == 0 ? 0 : (M.Taken + span - 1) / span;
  Expect(static_cast<size_t>(A.Spans) == spans, "input taken");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const size_t span = 1 + Data[0] % 37;
  ++Data;
  --Size;
  const zipkit::model::TResult m = zipkit::model::Inflate(Data, Size, 1 << 20);
  if (m.Limited) {
    ThroughWindow(Data, Size, span);
    return 0;
  }
  ExpectSame(ThroughWindow(Data, Size, 0), m, 0, Size);
  ExpectSame(ThroughWindow(Data, Size, span), m, span, Size);
  ExpectSame(Direct(Data, Size, span, m.Output.size()), m, span, Size);
  return 0;
}
