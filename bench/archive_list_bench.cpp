// The item list: append N items, then look up every name and take its index. Each step costs
// constant time, so the whole grows linearly with N. The peer is a standard hash map from the
// upper-cased name to the index, doing the same work.
#include <benchmark/benchmark.h>

#include <cctype>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/archive_item.h"

namespace {

using zipkit::TAbArchiveItem;
using zipkit::TAbArchiveList;

std::vector<std::string> Names(int64_t n) {
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i)
    names.push_back("src/module" + std::to_string(i % 97) + "/file" + std::to_string(i) + ".cpp");
  return names;
}

void BM_ListAppendAndLookUp(benchmark::State& state) {
  const std::vector<std::string> names = Names(state.range(0));
  std::vector<std::unique_ptr<TAbArchiveItem>> items;
  for (const auto& n : names) {
    items.push_back(std::make_unique<TAbArchiveItem>());
    items.back()->SetStoredName(n);
  }
  for (auto _ : state) {
    TAbArchiveList list;
    for (auto& item : items) list.Append(item.get());
    int64_t sum = 0;
    for (const auto& n : names) sum += list.IndexOfName(n);
    benchmark::DoNotOptimize(sum);
    state.PauseTiming();
    list.Reset();
    state.ResumeTiming();
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListAppendAndLookUp)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_PeerUnorderedMap(benchmark::State& state) {
  const std::vector<std::string> names = Names(state.range(0));
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  for (auto _ : state) {
    std::unordered_map<std::string, int32_t> map;
    int32_t index = 0;
    for (const auto& n : names) map[upper(n)] = index++;
    int64_t sum = 0;
    for (const auto& n : names) sum += map.find(upper(n))->second;
    benchmark::DoNotOptimize(sum);
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PeerUnorderedMap)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
