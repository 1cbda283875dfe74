// Decoding speed of raw deflate streams: ours beside zlib's inflate and libdeflate, on the
// Canterbury and large corpus files compressed by zlib at levels 1, 6 and 9. Every decoder
// writes into a buffer of the file's size; speeds are MB/s of output. "ours" decodes straight
// into that buffer, as the peers do; "window" is the path an extraction takes: through our
// window, handed on in large pieces (here copied into the buffer). After the runs a table gives
// each file's speeds and the ratios to zlib and libdeflate.
//
// The corpus is read from $ZIPKIT_BENCH_DATA or from ../shared/bench-data/corpus beside the
// source tree. Repetitions (--benchmark_repetitions) are summarised by their median.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "unzip/inflate.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

struct TSample {
  std::string Name;  // corpus/file
  int Level;
  Bytes Original;
  Bytes Compressed;
};

Bytes ReadFile(const fs::path& Path) {
  std::ifstream f(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes Deflate(const Bytes& Data, int Level) {
  z_stream z{};
  if (deflateInit2(&z, Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  Bytes out(deflateBound(&z, static_cast<uLong>(Data.size())));
  z.next_in = const_cast<Bytef*>(Data.data());
  z.avail_in = static_cast<uInt>(Data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Output into a buffer of known size.
class TBufferOutput : public zipkit::TAbInflater::TOutput {
 public:
  TBufferOutput(uint8_t* Data, size_t Size) : data_(Data), size_(Size) {}
  void Put(const uint8_t* Data, size_t Count) override {
    if (Count > size_ - used_) throw std::runtime_error("output larger than expected");
    std::memcpy(data_ + used_, Data, Count);
    used_ += Count;
  }
  size_t Used() const { return used_; }

 private:
  uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

size_t DecodeOurs(const TSample& S, Bytes& Out) {
  zipkit::TInflateMemoryInput input(S.Compressed.data(), S.Compressed.size());
  zipkit::TAbInflater inflater(input, Out.data(), Out.size());
  inflater.Run();
  return inflater.OutputSize();
}

size_t DecodeOursWindow(const TSample& S, Bytes& Out) {
  zipkit::TInflateMemoryInput input(S.Compressed.data(), S.Compressed.size());
  TBufferOutput output(Out.data(), Out.size());
  zipkit::TAbInflater inflater(input, output, Out.size());
  inflater.Run();
  return output.Used();
}

size_t DecodeZlib(z_stream& Z, const TSample& S, Bytes& Out) {
  inflateReset(&Z);
  Z.next_in = const_cast<Bytef*>(S.Compressed.data());
  Z.avail_in = static_cast<uInt>(S.Compressed.size());
  Z.next_out = Out.data();
  Z.avail_out = static_cast<uInt>(Out.size());
  if (inflate(&Z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("zlib inflate");
  return Z.total_out;
}

size_t DecodeLibdeflate(libdeflate_decompressor* D, const TSample& S, Bytes& Out) {
  size_t n = 0;
  if (libdeflate_deflate_decompress(D, S.Compressed.data(), S.Compressed.size(), Out.data(),
                                    Out.size(), &n) != LIBDEFLATE_SUCCESS)
    throw std::runtime_error("libdeflate");
  return n;
}

enum TDecoder { kOurs, kWindow, kZlib, kLibdeflate, kDecoders };
const char* const kDecoderNames[] = {"ours", "window", "zlib", "libdeflate"};

void Check(const TSample& S, const Bytes& Out, size_t N, const char* Who) {
  if (N != S.Original.size() || !std::equal(S.Original.begin(), S.Original.end(), Out.begin())) {
    std::fprintf(stderr, "%s decoded %s level %d wrongly\n", Who, S.Name.c_str(), S.Level);
    std::exit(1);
  }
}

void Run(benchmark::State& State, const TSample* S, TDecoder Which) {
  Bytes out(S->Original.size() + 1);
  z_stream z{};
  inflateInit2(&z, -15);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  auto once = [&] {
    switch (Which) {
      case kOurs: return DecodeOurs(*S, out);
      case kWindow: return DecodeOursWindow(*S, out);
      case kZlib: return DecodeZlib(z, *S, out);
      case kLibdeflate: return DecodeLibdeflate(d, *S, out);
      case kDecoders: break;
    }
    return size_t{0};
  };
  Check(*S, out, once(), kDecoderNames[Which]);
  for (auto _ : State) {
    benchmark::DoNotOptimize(once());
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) *
                          static_cast<int64_t>(S->Original.size()));
  libdeflate_free_decompressor(d);
  inflateEnd(&z);
}

// Collects each benchmark's speed and prints the comparison after the runs.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit TRatioReporter(const std::vector<std::unique_ptr<TSample>>& Samples) : samples_(Samples) {}

  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& r : Runs) {
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Aggregate && !median) continue;
      auto it = r.counters.find("bytes_per_second");
      if (it == r.counters.end()) continue;
      auto& slot = speed_[r.run_name.function_name];
      // A median replaces the single repetitions.
      if (median || !slot.second) slot = {it->second.value / 1e6, median};
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-26s %5s %8s %8s %8s %10s %9s %9s %10s\n", "file", "level", "ours", "window",
                "zlib", "libdeflate", "ours/zlib", "ours/ldef", "window/zlib");
    double worst[3] = {1e9, 1e9, 1e9};
    double seconds[kDecoders] = {};  // MB-seconds: each file's size over its speed
    double total = 0;
    for (const auto& s : samples_) {
      double mbs[kDecoders];
      bool all = true;
      for (int k = 0; k < kDecoders; ++k) {
        auto it = speed_.find(Name(*s, static_cast<TDecoder>(k)));
        all = all && it != speed_.end();
        mbs[k] = all ? it->second.first : 0;
      }
      if (!all) continue;
      const double size = static_cast<double>(s->Original.size());
      total += size;
      for (int k = 0; k < kDecoders; ++k) seconds[k] += size / mbs[k];
      const double ratios[3] = {mbs[kOurs] / mbs[kZlib], mbs[kOurs] / mbs[kLibdeflate],
                                mbs[kWindow] / mbs[kZlib]};
      for (int k = 0; k < 3; ++k) worst[k] = std::min(worst[k], ratios[k]);
      std::printf("%-26s %5d %8.1f %8.1f %8.1f %10.1f %9.2f %9.2f %10.2f\n", s->Name.c_str(),
                  s->Level, mbs[kOurs], mbs[kWindow], mbs[kZlib], mbs[kLibdeflate], ratios[0],
                  ratios[1], ratios[2]);
    }
    if (total > 0) {
      std::printf("%-26s %5s %8.1f %8.1f %8.1f %10.1f %9.2f %9.2f %10.2f\n", "all (by time)", "",
                  total / seconds[kOurs], total / seconds[kWindow], total / seconds[kZlib],
                  total / seconds[kLibdeflate], seconds[kZlib] / seconds[kOurs],
                  seconds[kLibdeflate] / seconds[kOurs], seconds[kZlib] / seconds[kWindow]);
      std::printf("lowest per file: ours/zlib %.2f, ours/libdeflate %.2f, window/zlib %.2f\n",
                  worst[0], worst[1], worst[2]);
    }
  }

  static std::string Name(const TSample& S, TDecoder Which) {
    return "inflate/" + S.Name + "/L" + std::to_string(S.Level) + "/" + kDecoderNames[Which];
  }

 private:
  const std::vector<std::unique_ptr<TSample>>& samples_;
  std::map<std::string, std::pair<double, bool>> speed_;  // MB/s, from a median
};

fs::path CorpusDir() {
  if (const char* env = std::getenv("ZIPKIT_BENCH_DATA")) return fs::path(env) / "corpus";
  return fs::path(ZIPKIT_SOURCE_DIR) / ".." / "shared" / "bench-data" / "corpus";
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const fs::path corpus = CorpusDir();
  std::vector<std::unique_ptr<TSample>> samples;
  for (const char* set : {"canterbury", "large"}) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(corpus / set))
      if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
      const Bytes original = ReadFile(f);
      for (int level : {1, 6, 9}) {
        auto s = std::make_unique<TSample>();
        s->Name = std::string(set) + "/" + f.filename().string();
        s->Level = level;
        s->Original = original;
        s->Compressed = Deflate(original, level);
        samples.push_back(std::move(s));
      }
    }
  }
  if (samples.empty()) {
    std::fprintf(stderr, "no corpus files under %s\n", corpus.string().c_str());
    return 1;
  }
  for (const auto& s : samples)
    for (TDecoder which : {kOurs, kWindow, kZlib, kLibdeflate})
      benchmark::RegisterBenchmark(TRatioReporter::Name(*s, which).c_str(), Run, s.get(), which)
          ->Unit(benchmark::kMicrosecond);
  TRatioReporter reporter(samples);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
