// Our deflate encoder beside zlib and libdeflate on the benchmark corpus, at levels 1, 3, 5 and 9.
// Every file's output is inflated back (zlib, raw) before it is timed. After the Google Benchmark
// rows, a summary puts compressed size and MB/s of the three side by side (best CPU time of the
// repetitions) with our ratios to zlib.
//
// The corpus is ../shared/bench-data/corpus beside the source tree, or $ZIPKIT_CORPUS.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "compress/deflate.h"

namespace {

namespace fs = std::filesystem;

struct TCorpusFile {
  std::string name;
  std::vector<uint8_t> data;
};

enum class TCodec { kOurs, kZlib, kLibdeflate };
constexpr const char* kCodecNames[] = {"ours", "zlib", "libdeflate"};
constexpr int kLevels[] = {1, 3, 5, 9};

std::vector<TCorpusFile> LoadCorpus() {
  const char* env = std::getenv("ZIPKIT_CORPUS");
  const fs::path root = env ? fs::path(env) : fs::path(ZIPKIT_SOURCE_DIR) / ".." / "shared" / "bench-data" / "corpus";
  std::vector<TCorpusFile> files;
  for (const char* set : {"canterbury", "large"}) {
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(root / set))
      if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
      std::ifstream in(path, std::ios::binary);
      files.push_back({path.filename().string(), {std::istreambuf_iterator<char>(in), {}}});
    }
  }
  return files;
}

// Collects our output in a buffer sized once, like the peers' output buffers.
class TBufferOutput : public zipkit::TDeflateOutput {
 public:
  explicit TBufferOutput(std::vector<uint8_t>& buffer) : buffer_(buffer) {}
  void WriteOutput(const uint8_t* Buffer, int32_t Count) override {
    if (fill_ + static_cast<size_t>(Count) > buffer_.size()) buffer_.resize(fill_ + Count);
    std::memcpy(buffer_.data() + fill_, Buffer, static_cast<size_t>(Count));
    fill_ += static_cast<size_t>(Count);
  }
  size_t size() const { return fill_; }

 private:
  std::vector<uint8_t>& buffer_;
  size_t fill_ = 0;
};

class TBufferInput : public zipkit::TDeflateInput {
 public:
  explicit TBufferInput(const std::vector<uint8_t>& data) : data_(data) {}
  int32_t ReadInput(uint8_t* Buffer, int32_t Count) override {
    const size_t n = std::min(data_.size() - pos_, static_cast<size_t>(Count));
    std::memcpy(Buffer, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<int32_t>(n);
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t pos_ = 0;
};

// One codec at one level, set up once and run many times.
class TCompressor {
 public:
  TCompressor(TCodec codec, int level) : codec_(codec), level_(level), ours_(level) {
    if (codec_ == TCodec::kZlib) deflateInit2(&z_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (codec_ == TCodec::kLibdeflate) ld_ = libdeflate_alloc_compressor(level);
  }
  ~TCompressor() {
    if (codec_ == TCodec::kZlib) deflateEnd(&z_);
    if (ld_ != nullptr) libdeflate_free_compressor(ld_);
  }

  // Compresses into out (grown as needed); returns the compressed size.
  size_t Run(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    out.resize(std::max(out.size(), in.size() + in.size() / 8 + 1024));
    switch (codec_) {
      case TCodec::kOurs: {
        TBufferInput input(in);
        TBufferOutput output(out);
        ours_.Run(input, output);
        return output.size();
      }
      case TCodec::kZlib: {
        deflateReset(&z_);
        z_.next_in = const_cast<Bytef*>(in.data());
        z_.avail_in = static_cast<uInt>(in.size());
        z_.next_out = out.data();
        z_.avail_out = static_cast<uInt>(out.size());
        if (deflate(&z_, Z_FINISH) != Z_STREAM_END) return 0;
        return z_.total_out;
      }
      case TCodec::kLibdeflate:
        return libdeflate_deflate_compress(ld_, in.data(), in.size(), out.data(), out.size());
    }
    return 0;
  }

 private:
  TCodec codec_;
  int level_;
  zipkit::TDeflater ours_;
  z_stream z_{};
  libdeflate_compressor* ld_ = nullptr;
};

bool InflatesBack(const std::vector<uint8_t>& packed, size_t packed_size, const std::vector<uint8_t>& original) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  std::vector<uint8_t> out(original.size() + 1);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = static_cast<uInt>(packed_size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const bool ok = rc == Z_STREAM_END && z.avail_in == 0 && z.total_out == original.size() &&
                  std::equal(original.begin(), original.end(), out.begin());
  inflateEnd(&z);
  return ok;
}

void BM_Deflate(benchmark::State& state, const TCorpusFile* file, TCodec codec, int level) {
  TCompressor compressor(codec, level);
  std::vector<uint8_t> out;
  size_t size = compressor.Run(file->data, out);
  if (size == 0 || !InflatesBack(out, size, file->data)) {
    state.SkipWithError("output does not inflate back to the input");
    return;
  }
  for (auto _ : state) {
    size = compressor.Run(file->data, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file->data.size()));
  state.counters["size"] = static_cast<double>(size);
}

// Keeps the best CPU time of each benchmark's repetitions and its compressed size.
class TSummaryReporter : public benchmark::ConsoleReporter {
 public:
  struct TResult {
    double seconds = 0;
    double size = 0;
  };
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      TResult& r = results[run.benchmark_name()];
      if (r.seconds == 0 || seconds < r.seconds) r.seconds = seconds;
      r.size = run.counters.at("size").value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, TResult> results;
};

std::string BenchName(const TCorpusFile& file, int level, TCodec codec) {
  return "deflate/" + file.name + "/L" + std::to_string(level) + "/" + kCodecNames[static_cast<int>(codec)];
}

void PrintSummary(const std::vector<TCorpusFile>& files, const TSummaryReporter& reporter) {
  std::printf("\n%-13s %2s | %9s %7s | %9s %7s | %9s %7s | %8s %8s\n", "file", "L", "ours", "MB/s",
              "zlib", "MB/s", "libdeflate", "MB/s", "size/zl", "speed/zl");
  for (int level : kLevels) {
    double total_bytes = 0;
    double size[3] = {};
    double seconds[3] = {};
    bool any = false;
    for (const TCorpusFile& file : files) {
      const TSummaryReporter::TResult* r[3] = {};
      bool complete = true;
      for (int c = 0; c < 3; ++c) {
        auto it = reporter.results.find(BenchName(file, level, static_cast<TCodec>(c)));
        if (it == reporter.results.end()) complete = false;
        else r[c] = &it->second;
      }
      if (!complete) continue;
      any = true;
      const double mb = static_cast<double>(file.data.size()) / 1e6;
      total_bytes += static_cast<double>(file.data.size());
      for (int c = 0; c < 3; ++c) {
        size[c] += r[c]->size;
        seconds[c] += r[c]->seconds;
      }
      std::printf("%-13s %2d | %9.0f %7.1f | %9.0f %7.1f | %9.0f %7.1f | %+7.2f%% %8.2f\n", file.name.c_str(), level,
                  r[0]->size, mb / r[0]->seconds, r[1]->size, mb / r[1]->seconds, r[2]->size,
                  mb / r[2]->seconds, 100.0 * (r[0]->size / r[1]->size - 1), r[1]->seconds / r[0]->seconds);
    }
    if (!any) continue;
    const double mb = total_bytes / 1e6;
    std::printf("%-13s %2d | %9.0f %7.1f | %9.0f %7.1f | %9.0f %7.1f | %+7.2f%% %8.2f\n\n", "(all)", level, size[0],
                mb / seconds[0], size[1], mb / seconds[1], size[2], mb / seconds[2],
                100.0 * (size[0] / size[1] - 1), seconds[1] / seconds[0]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<TCorpusFile> files = LoadCorpus();
  for (const TCorpusFile& file : files)
    for (int level : kLevels)
      for (TCodec codec : {TCodec::kOurs, TCodec::kZlib, TCodec::kLibdeflate})
        benchmark::RegisterBenchmark(BenchName(file, level, codec).c_str(), BM_Deflate, &file, codec, level)
            ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TSummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(files, reporter);
  benchmark::Shutdown();
  return 0;
}
