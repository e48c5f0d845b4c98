// Searching links with rule-style patterns: Regex::cached (a lock and a hash look-up, then a
// search) against compiling the pattern for every search, as code without the cache would.
// The cache should make a search several times cheaper; results are read as ratios.
#include <array>
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#include "foundation/Regex.h"

namespace {

using linkferry::Regex;

constexpr std::array<std::string_view, 4> kPatterns = {
    "^https?://([a-z0-9-]+\\.)*example\\.(com|org)/",
    "(^|\\.)youtube\\.com$|(^|\\.)youtu\\.be$",
    "/(watch|shorts)/?\\?.*\\bv=[A-Za-z0-9_-]{11}",
    "^https://docs\\.google\\.com/(document|spreadsheets|presentation)/d/",
};

constexpr std::array<std::string_view, 5> kLinks = {
    "https://www.example.com/products/shoes/running?utm_source=newsletter&utm_medium=email&id=1",
    "https://www.youtube.com/watch?v=dQw4w9WgXcQ&list=PL0123456789abcdef&index=3",
    "https://docs.google.com/document/d/1AbCdEfGhIjKlMnOpQrStUvWxYz/edit#heading=h.x",
    "https://news.example.org/2026/12/07/world/europe/some-long-article-title-here.html",
    "https://münchen.example.de/straße/über-uns?q=ä",
};

void regexCached(benchmark::State& state) {
  for (auto _ : state) {
    int found = 0;
    for (std::string_view pattern : kPatterns) {
      const auto regex = Regex::cached(pattern, Regex::Options::caseInsensitive);
      for (std::string_view link : kLinks) found += regex->matches(link);
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kPatterns.size() * kLinks.size());
}
BENCHMARK(regexCached);

void regexCompiledEachTime(benchmark::State& state) {
  for (auto _ : state) {
    int found = 0;
    for (std::string_view pattern : kPatterns) {
      for (std::string_view link : kLinks) {
        const auto regex = Regex::compile(pattern, Regex::Options::caseInsensitive);
        found += regex->matches(link);
      }
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kPatterns.size() * kLinks.size());
}
BENCHMARK(regexCompiledEachTime);

// First match with capture groups and byte offsets, which maps UTF-16 indices back to UTF-8.
void regexFirstMatchCached(benchmark::State& state) {
  for (auto _ : state) {
    std::size_t total = 0;
    for (std::string_view link : kLinks) {
      const auto regex = Regex::cached("^https?://([^/]+)(/[^?#]*)?", Regex::Options::none);
      if (const auto match = regex->firstMatch(link)) total += match->range.end;
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kLinks.size());
}
BENCHMARK(regexFirstMatchCached);

}  // namespace
