// Loading a ZIP archive of 100,000 entries (LoadCatalog), beside a floor that only reads the
// same central directory and walks its records; and the refusal of a 1 GiB file that is no
// archive, whose end-record search reads the whole file backwards.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/errors.h"
#include "zip/zip_archive.h"

namespace {

using namespace zipkit;

constexpr int kEntries = 100000;

std::string Le16(uint32_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

class Files {
 public:
  Files() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zipkit_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
  }
  ~Files() { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

Files& Temp() {
  static Files files;
  return files;
}

// An archive of kEntries empty stored entries; returns its path and the directory's size.
const std::string& BigArchive(int32_t* DirectorySize = nullptr) {
  static int32_t dir_size = 0;
  static const std::string path = [] {
    std::string local, directory;
    for (int i = 0; i < kEntries; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "dir%03d/file%06d.txt", i % 1000, i);
      const uint32_t n = static_cast<uint32_t>(std::strlen(name));
      const uint32_t offset = static_cast<uint32_t>(local.size());
      local += Le32(0x04034B50) + Le16(10) + Le16(0) + Le16(0) + Le32(0x5A216000) + Le32(0) +
               Le32(0) + Le32(0) + Le16(n) + Le16(0) + name;
      directory += Le32(0x02014B50) + Le16(0x0314) + Le16(10) + Le16(0) + Le16(0) +
                   Le32(0x5A216000) + Le32(0) + Le32(0) + Le32(0) + Le16(n) + Le16(0) + Le16(0) +
                   Le16(0) + Le16(0) + Le32(0x20) + Le32(offset) + name;
    }
    const std::string end = Le32(0x06054B50) + Le16(0) + Le16(0) + Le16(kEntries & 0xFFFF) +
                            Le16(kEntries & 0xFFFF) +
                            Le32(static_cast<uint32_t>(directory.size())) +
                            Le32(static_cast<uint32_t>(local.size())) + Le16(0);
    dir_size = static_cast<int32_t>(directory.size());
    const std::string p = Temp().Path("big.zip");
    std::ofstream(p, std::ios::binary) << local << directory << end;
    return p;
  }();
  if (DirectorySize) *DirectorySize = dir_size;
  return path;
}

void BM_LoadCatalog100k(benchmark::State& state) {
  int32_t dir_size = 0;
  const std::string& path = BigArchive(&dir_size);
  size_t heap = 0;
  for (auto _ : state) {
    const size_t before = mallinfo2().uordblks;
    TAbZipArchive archive(path, fmOpenRead | fmShareDenyWrite);
    archive.LoadCatalog();
    heap = mallinfo2().uordblks - before;
    if (archive.ItemCount() != kEntries) state.SkipWithError("wrong item count");
  }
  state.counters["entries"] = kEntries;
  state.counters["directory_bytes_per_entry"] = static_cast<double>(dir_size) / kEntries;
  state.counters["heap_bytes_per_entry"] = static_cast<double>(heap) / kEntries;
}
BENCHMARK(BM_LoadCatalog100k)->Unit(benchmark::kMillisecond);

// The floor: read the same directory bytes at once and walk the records by their lengths.
void BM_FloorReadAndWalkDirectory(benchmark::State& state) {
  int32_t dir_size = 0;
  const std::string& path = BigArchive(&dir_size);
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(-22, std::ios::end);
    char end[22];
    in.read(end, 22);
    uint32_t offset;
    std::memcpy(&offset, end + 16, 4);
    std::vector<char> dir(static_cast<size_t>(dir_size));
    in.seekg(offset);
    in.read(dir.data(), dir_size);
    int64_t records = 0;
    for (size_t at = 0; at + 46 <= dir.size(); ++records) {
      uint16_t n, m, k;
      std::memcpy(&n, &dir[at + 28], 2);
      std::memcpy(&m, &dir[at + 30], 2);
      std::memcpy(&k, &dir[at + 32], 2);
      at += 46u + n + m + k;
    }
    if (records != kEntries) state.SkipWithError("wrong record count");
  }
}
BENCHMARK(BM_FloorReadAndWalkDirectory)->Unit(benchmark::kMillisecond);

// 1 GiB of bytes that hold no end record (random, with no "PK" at the start).
const std::string& NonArchive() {
  static const std::string path = [] {
    const std::string p = Temp().Path("not-an-archive.bin");
    std::ofstream out(p, std::ios::binary);
    std::mt19937_64 rng(42);
    std::vector<uint64_t> block(1 << 17);
    for (int i = 0; i < 1024; ++i) {  // 1024 blocks of 1 MiB
      for (auto& w : block) w = rng();
      if (i == 0) std::memcpy(block.data(), "NOTAZIP!", 8);
      out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
    }
    return p;
  }();
  return path;
}

void BM_RefuseOneGiBNonArchive(benchmark::State& state) {
  const std::string& path = NonArchive();
  for (auto _ : state) {
    TAbZipArchive archive(path, fmOpenRead | fmShareDenyWrite);
    try {
      archive.LoadCatalog();
      state.SkipWithError("loaded");
    } catch (const EAbZipInvalid&) {
    }
  }
  state.SetBytesProcessed(state.iterations() * (int64_t{1} << 30));
}
BENCHMARK(BM_RefuseOneGiBNonArchive)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
