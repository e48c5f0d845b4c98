// The popularity list at its real size, one million domains: a host looked up through the store
// (lower-casing, ASCII form, "www." and registrable-domain candidates included), the bare table
// probe, and a plain std::unordered_set<std::string> holding the same names, each over the same
// hosts; and the list rebuilt from a million CSV rows, reporting the heap the rebuild and the
// loaded table need ("peakHeap", "heldHeap").
#include <filesystem>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchFolder.h"
#include "HeapPeak.h"
#include "foundation/Files.h"
#include "safety/PublicSuffixList.h"
#include "signals/Popularity.h"

using namespace linkferry;

namespace {

constexpr int kRows = 1'000'000;
const char* const kSuffixes[] = {".com", ".net", ".org", ".de", ".co.uk", ".io", ".ru", ".jp"};

std::string domain(int rank) {
  return "site" + std::to_string(rank * 7919 % 1'000'003) + kSuffixes[rank % 8];
}

const std::string& sourceCsv() {
  static const std::string csv = [] {
    std::string text;
    text.reserve(kRows * 24);
    for (int rank = 1; rank <= kRows; ++rank) text += std::to_string(rank) + "," + domain(rank) + "\r\n";
    return text;
  }();
  return csv;
}

// The hosts looked up: three quarters listed (some as "www." or sub-domains of a listed name),
// one quarter not listed.
const std::vector<std::string>& hosts() {
  static const std::vector<std::string> list = [] {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> rank(1, kRows);
    std::vector<std::string> out;
    for (int i = 0; i < 4096; ++i) {
      switch (i % 4) {
        case 0: out.push_back(domain(rank(random))); break;
        case 1: out.push_back("www." + domain(rank(random))); break;
        case 2: out.push_back(domain(rank(random))); break;
        default: out.push_back("unlisted" + std::to_string(i) + ".com"); break;
      }
    }
    return out;
  }();
  return list;
}

struct Fixture {
  BenchFolder folder;
  std::string list = PopularityStore::compact(sourceCsv());
  PopularityStore store{folder.path / "tranco-domains.txt"};
  Fixture() { Files::writeAtomically(store.file(), list, Files::Durability::ordered); }
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

void BM_StoreTier(benchmark::State& state) {
  auto& f = fixture();
  const auto& psl = PublicSuffixList::shared();
  const auto& names = hosts();
  f.store.tier("warm.example", psl);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.store.tier(names[i++ & 4095], psl));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreTier);

void BM_TableFind(benchmark::State& state) {
  const PopularityStore::Table table(fixture().list);
  const auto& names = hosts();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.find(names[i++ & 4095]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableFind);

void BM_UnorderedSetFind(benchmark::State& state) {
  std::unordered_set<std::string> set;
  set.reserve(kRows);
  for (int rank = 1; rank <= kRows; ++rank) set.insert(domain(rank));
  const auto& names = hosts();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(set.find(names[i++ & 4095]) != set.end());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnorderedSetFind);

void BM_Bisection(benchmark::State& state) {
  const std::string& list = fixture().list;
  const auto& names = hosts();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(PopularityStore::lookup(names[i++ & 4095], list));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Bisection);

// The list rebuilt from a million rows (the CSV already in memory, as after extraction).
void BM_Compact1M(benchmark::State& state) {
  const std::string& csv = sourceCsv();
  std::int64_t peak = 0;
  for (auto _ : state) {
    HeapPeak::startWindow();
    std::string list = PopularityStore::compact(csv);
    peak = HeapPeak::windowPeak();
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["peakHeap"] = static_cast<double>(peak);
}
BENCHMARK(BM_Compact1M)->Unit(benchmark::kMillisecond);

// The table built from the rebuilt list, as the first lookup after a refresh does.
void BM_LoadTable1M(benchmark::State& state) {
  const std::string& list = fixture().list;
  std::int64_t held = 0;
  for (auto _ : state) {
    const auto before = HeapPeak::inUse();
    PopularityStore::Table table(list);
    held = HeapPeak::inUse() - before;
    benchmark::DoNotOptimize(table.size());
  }
  state.counters["heldHeap"] = static_cast<double>(held);
}
BENCHMARK(BM_LoadTable1M)->Unit(benchmark::kMillisecond);

}  // namespace
