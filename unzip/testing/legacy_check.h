// Test tool: runs a fast decoder or its slow reference on a memory buffer and collects what the
// decompressor would have seen, so that tests, fuzz targets and benchmarks share one harness.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "unzip/explode.h"
#include "unzip/legacy_io.h"
#include "unzip/testing/implode_encoder.h"
#include "unzip/testing/reduce_encoder.h"
#include "unzip/testing/reference_decoders.h"
#include "unzip/testing/shrink_encoder.h"
#include "unzip/unreduce.h"
#include "unzip/unshrink.h"

namespace zipkit::testing {

// A method with its parameters: 1 shrink, 2 to 5 reduce, 6 implode (with its two flags).
struct Codec {
  int method;
  bool dict_8k = false;
  bool literal_tree = false;

  std::string Label() const {
    if (method == 1) return "shrink";
    if (method >= 2 && method <= 5) return "reduce" + std::to_string(method - 1);
    return std::string("implode") + (dict_8k ? "8k" : "4k") + (literal_tree ? "3t" : "2t");
  }
  // General purpose flags of an entry of this method.
  uint16_t Flags() const {
    return static_cast<uint16_t>(method == 6 ? (dict_8k ? 2 : 0) | (literal_tree ? 4 : 0) : 0);
  }
};

inline std::vector<uint8_t> Encode(const Codec& C, const std::vector<uint8_t>& Data) {
  if (C.method == 1) return Shrink(Data);
  if (C.method >= 2 && C.method <= 5) {
    ReduceOptions o;
    o.factor = C.method - 1;
    return Reduce(Data, o);
  }
  ImplodeOptions o;
  o.dict_8k = C.dict_8k;
  o.literal_tree = C.literal_tree;
  return Implode(Data, o);
}

struct Decoded {
  std::vector<uint8_t> bytes;
  std::vector<int32_t> writes;
  std::vector<Report> reports;
  bool corrupt = false;  // CorruptInput was raised
};

// Runs the fast decoder. Block cuts the input into blocks of that size. Limit bounds the
// output (std::length_error past it), for fuzzing.
inline Decoded DecodeFast(const Codec& C, const std::vector<uint8_t>& In, int64_t Expected,
                          size_t Block = 4096, bool Progress = true, int64_t Limit = INT64_MAX) {
  legacy::MemoryInput in(In.data(), In.size(), Block);
  RecordingOutput out(Expected, Progress, Limit);
  Decoded d;
  try {
    if (C.method == 1) {
      legacy::Unshrink(in, out, Expected);
    } else if (C.method >= 2 && C.method <= 5) {
      legacy::Unreduce(in, out, Expected, C.method - 1);
    } else {
      legacy::Explode(in, out, Expected, C.dict_8k, C.literal_tree);
    }
  } catch (const legacy::CorruptInput&) {
    d.corrupt = true;
  }
  out.Close();
  d.bytes = std::move(out.bytes);
  d.writes = std::move(out.writes);
  d.reports = std::move(out.reports);
  return d;
}

inline Decoded DecodeReference(const Codec& C, const std::vector<uint8_t>& In, int64_t Expected) {
  RefMachine m(In, Expected);
  Decoded d;
  try {
    if (C.method == 1) {
      RefUnshrink(m);
    } else if (C.method >= 2 && C.method <= 5) {
      RefUnreduce(m, C.method - 1);
    } else {
      RefExplode(m, C.dict_8k, C.literal_tree);
    }
  } catch (const legacy::CorruptInput&) {
    d.corrupt = true;
    m.Flush();
  }
  d.bytes = std::move(m.out);
  d.writes = std::move(m.writes);
  d.reports = std::move(m.reports);
  return d;
}

}  // namespace zipkit::testing
