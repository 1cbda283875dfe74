// Throughput of the older decoders (unshrink, unreduce, explode), each with the CRC-32 of its
// output as extraction computes it, in MB/s of decoded data. Peer in the same run: zlib's raw
// inflate (with zlib's crc32) of the same content, deflated. Two sets of data:
//   - the benchmark archives made by the DOS archivers: the same 15 files shrunk (PKZ110ES),
//     reduced with factor 4 (PKZ80B4), imploded 4 KB / 2 trees (PKZ110EI), deflated (PKZ204EX);
//   - bible.txt of the large Canterbury corpus, 4 MB of text, compressed by the test encoders
//     with every method and parameter, and by zlib at level 6.
// A closing table gives each decoder's speed relative to inflate on the same content.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/crc32.h"
#include "unzip/testing/legacy_check.h"
#include "unzip/testing/mini_zip.h"

namespace {

using zipkit::testing::Codec;

const std::string kData = std::string(ZIPKIT_SOURCE_DIR) + "/../shared/bench-data/";

struct Item {
  Codec codec;  // method 8: deflate (raw)
  std::vector<uint8_t> packed;
  int64_t size;
  uint32_t crc;
};

struct Set {
  std::vector<Item> items;
  int64_t bytes = 0;
};

// The non-stored entries of a benchmark archive.
Set FromArchive(const std::string& Name) {
  Set s;
  const auto zip = zipkit::testing::ReadFile(kData + "legacy/" + Name);
  for (const auto& e : zipkit::testing::ReadEntries(zip)) {
    if (e.method == 0) continue;
    s.items.push_back({{e.method, (e.flags & 2) != 0, (e.flags & 4) != 0},
                       std::vector<uint8_t>(e.data, e.data + e.packed),
                       e.unpacked,
                       e.crc});
    s.bytes += e.unpacked;
  }
  return s;
}

const std::vector<uint8_t>& Bible() {
  static const auto data = zipkit::testing::ReadFile(kData + "corpus/large/bible.txt");
  return data;
}

Set FromEncoder(const Codec& C) {
  const auto& text = Bible();
  Set s;
  Item it{C, {}, static_cast<int64_t>(text.size()), zipkit::testing::Crc32(text)};
  if (C.method == 8) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    it.packed.resize(deflateBound(&z, text.size()));
    z.next_in = const_cast<Bytef*>(text.data());
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = it.packed.data();
    z.avail_out = static_cast<uInt>(it.packed.size());
    deflate(&z, Z_FINISH);
    it.packed.resize(z.total_out);
    deflateEnd(&z);
  } else {
    it.packed = zipkit::testing::Encode(C, text);
  }
  s.items.push_back(std::move(it));
  s.bytes = static_cast<int64_t>(text.size());
  return s;
}

// Decoded bytes go into the CRC-32 only.
class CrcOutput : public zipkit::legacy::Output {
 public:
  void Write(const uint8_t* Data, int32_t Size) override {
    crc = zipkit::Crc32Update(crc, Data, static_cast<size_t>(Size));
  }
  uint32_t crc = 0xFFFFFFFF;
};

uint32_t DecodeLegacy(const Item& It) {
  zipkit::legacy::MemoryInput in(It.packed.data(), It.packed.size());
  CrcOutput out;
  if (It.codec.method == 1) {
    zipkit::legacy::Unshrink(in, out, It.size);
  } else if (It.codec.method <= 5) {
    zipkit::legacy::Unreduce(in, out, It.size, It.codec.method - 1);
  } else {
    zipkit::legacy::Explode(in, out, It.size, It.codec.dict_8k, It.codec.literal_tree);
  }
  return ~out.crc;
}

uint32_t Inflate(const Item& It, std::vector<uint8_t>& Buffer) {
  Buffer.resize(static_cast<size_t>(It.size));
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(It.packed.data());
  z.avail_in = static_cast<uInt>(It.packed.size());
  z.next_out = Buffer.data();
  z.avail_out = static_cast<uInt>(Buffer.size());
  inflate(&z, Z_FINISH);
  inflateEnd(&z);
  return static_cast<uint32_t>(crc32(0, Buffer.data(), static_cast<uInt>(z.total_out)));
}

void Run(benchmark::State& State, const Set& S) {
  std::vector<uint8_t> buffer;
  for (auto _ : State) {
    for (const Item& it : S.items) {
      const uint32_t crc = it.codec.method == 8 ? Inflate(it, buffer) : DecodeLegacy(it);
      if (crc != it.crc) {
        State.SkipWithError("CRC-32 mismatch");
        return;
      }
    }
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * S.bytes);
}

// Benchmark name -> the data set whose inflate run it is compared with.
std::map<std::string, std::string>& Peers() {
  static std::map<std::string, std::string> peers;
  return peers;
}

void Register(const std::string& Name, const std::string& Peer, Set (*Make)(const std::string&),
              const std::string& Arg) {
  Peers()[Name] = Peer;
  // Each benchmark makes its data once, when it first runs.
  auto set = std::make_shared<std::unique_ptr<Set>>();
  benchmark::RegisterBenchmark(Name.c_str(), [Make, Arg, set](benchmark::State& st) {
    if (!*set) *set = std::make_unique<Set>(Make(Arg));
    Run(st, **set);
  })->Unit(benchmark::kMillisecond);
}

Set EncodedByLabel(const std::string& Label) {
  for (const Codec& c :
       {Codec{1}, Codec{2}, Codec{3}, Codec{4}, Codec{5}, Codec{6, false, false},
        Codec{6, false, true}, Codec{6, true, false}, Codec{6, true, true}, Codec{8}})
    if ((c.method == 8 ? std::string("deflate") : c.Label()) == Label) return FromEncoder(c);
  return {};
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end() && run.run_type == Run::RT_Iteration)
        speed_[run.benchmark_name()] = it->second;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-36s %10s %14s %10s\n", "decoder (with CRC-32)", "MB/s", "inflate MB/s",
                "ratio");
    for (const auto& [name, peer] : Peers()) {
      if (name == peer || !speed_.count(name) || !speed_.count(peer)) continue;
      std::printf("%-36s %10.1f %14.1f %10.2f\n", name.c_str(), speed_[name] / 1e6,
                  speed_[peer] / 1e6, speed_[name] / speed_[peer]);
    }
  }

 private:
  std::map<std::string, double> speed_;
};

}  // namespace

int main(int argc, char** argv) {
  Register("archive/PKZ204EX.ZIP/inflate", "archive/PKZ204EX.ZIP/inflate", FromArchive,
           "PKZ204EX.ZIP");
  Register("archive/PKZ110ES.ZIP/unshrink", "archive/PKZ204EX.ZIP/inflate", FromArchive,
           "PKZ110ES.ZIP");
  Register("archive/PKZ80B4.ZIP/unreduce", "archive/PKZ204EX.ZIP/inflate", FromArchive,
           "PKZ80B4.ZIP");
  Register("archive/PKZ110EI.ZIP/explode", "archive/PKZ204EX.ZIP/inflate", FromArchive,
           "PKZ110EI.ZIP");
  for (const char* label : {"deflate", "shrink", "reduce1", "reduce2", "reduce3", "reduce4",
                            "implode4k2t", "implode4k3t", "implode8k2t", "implode8k3t"})
    Register(std::string("bible/") + label, "bible/deflate", EncodedByLabel, label);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
