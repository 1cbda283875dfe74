// CRC-32 throughput: ours (the engine's bulk entry and its portable slice-by-8 path) beside
// zlib's crc32() and libdeflate's libdeflate_crc32(), on the same buffers in the same run. After
// the runs a table gives each peer's speed relative to ours.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/crc32.h"
#include "support/crc32_clmul.h"

namespace {

const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> v(1 << 20);
    std::mt19937 rng(42);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }();
  return data;
}

template <typename F>
void Run(benchmark::State& state, F crc) {
  const size_t n = static_cast<size_t>(state.range(0));
  const uint8_t* p = Data().data();
  uint32_t sum = 0;
  for (auto _ : state) {
    sum += crc(p, n);
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void BM_Ours(benchmark::State& state) {
  Run(state, [](const uint8_t* p, size_t n) {
    uint32_t crc = 0xFFFFFFFF;
    zipkit::UpdateCrc32(crc, p, static_cast<int32_t>(n));
    return ~crc;
  });
}

void BM_OursPortable(benchmark::State& state) {
  Run(state, [](const uint8_t* p, size_t n) { return ~zipkit::Crc32Slice8(0xFFFFFFFF, p, n); });
}

void BM_Zlib(benchmark::State& state) {
  Run(state, [](const uint8_t* p, size_t n) {
    return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
  });
}

void BM_Libdeflate(benchmark::State& state) {
  Run(state, [](const uint8_t* p, size_t n) { return libdeflate_crc32(0, p, n); });
}

#define SIZES Arg(256)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)
BENCHMARK(BM_Ours)->SIZES;
BENCHMARK(BM_OursPortable)->SIZES;
BENCHMARK(BM_Zlib)->SIZES;
BENCHMARK(BM_Libdeflate)->SIZES;

// Prints as usual and remembers each run's throughput for the closing comparison.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // With --benchmark_repetitions the median stands for the run.
      const auto it = run.counters.find("bytes_per_second");
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (it == run.counters.end() || (run.run_type != Run::RT_Iteration && !median)) continue;
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      const size_t slash = name.find('/');
      speed_[name.substr(0, slash)][std::stoll(name.substr(slash + 1))] = it->second;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto& ours = speed_["BM_Ours"];
    std::printf("\nCRC-32 throughput in GB/s (carry-less path %s)\n",
                zipkit::Crc32ClmulAvailable() ? "in use" : "not available");
    std::printf("%-10s %10s %10s %10s %10s %12s %12s\n", "bytes", "ours", "portable", "zlib",
                "libdeflate", "ours/zlib", "ours/libdefl");
    for (const auto& [size, speed] : ours) {
      const double z = speed_["BM_Zlib"][size];
      const double d = speed_["BM_Libdeflate"][size];
      std::printf("%-10lld %10.2f %10.2f %10.2f %10.2f %12.2f %12.2f\n", size, speed / 1e9,
                  speed_["BM_OursPortable"][size] / 1e9, z / 1e9, d / 1e9, speed / z, speed / d);
    }
  }

 private:
  std::map<std::string, std::map<long long, double>> speed_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
