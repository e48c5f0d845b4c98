// The registrable-domain lookup, which runs for every link and every history record, side by side
// with libpsl on the same list file and the same hosts; and the whole safety check per link.
#include <libpsl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "foundation/Resources.h"
#include "foundation/URL.h"
#include "safety/LinkSafety.h"
#include "safety/PublicSuffixList.h"

namespace {

using linkferry::PublicSuffixList;

bool isASCII(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Lower-case ASCII hosts around the list's own rules: the suffix with zero to three labels in
// front, "www." names, deep names, wildcard and exception rules, and unlisted top-level names.
const std::vector<std::string>& corpus() {
  static const std::vector<std::string> hosts = [] {
    const PublicSuffixList& list = PublicSuffixList::shared();
    std::mt19937 random(42);
    auto label = [&random] {
      static const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789";
      std::string text;
      for (std::size_t i = 0, n = 3 + random() % 8; i < n; ++i) {
        text += letters[random() % letters.size()];
      }
      return text;
    };
    std::vector<std::string> result;
    auto around = [&](const std::string& suffix) {
      switch (random() % 6) {
        case 0:
          result.push_back(suffix);
          break;
        case 1:
          result.push_back(label() + "." + suffix);
          break;
        case 2:
          result.push_back(label() + "." + label() + "." + suffix);
          break;
        case 3:
          result.push_back("www." + label() + "." + suffix);
          break;
        case 4:
          result.push_back(label() + "." + label() + "." + label() + "." + suffix);
          break;
        default: {
          std::string deep = suffix;
          for (int i = 0; i < 6; ++i) deep = label() + "." + deep;
          result.push_back(deep);
        }
      }
    };
    for (const std::string& rule : list.rules()) {
      if (isASCII(rule)) around(rule);
    }
    for (const std::string& base : list.wildcards()) around(base);
    for (const std::string& exception : list.exceptions()) around(exception);
    for (int i = 0; i < 1000; ++i) around(label());
    std::shuffle(result.begin(), result.end(), random);
    return result;
  }();
  return hosts;
}

psl_ctx_t* libpsl() {
  static psl_ctx_t* context =
      psl_load_file(LINKFERRY_SOURCE_DIR "/resources/public_suffix_list.dat");
  return context;
}

void RegistrableDomainOurs(benchmark::State& state) {
  const auto& hosts = corpus();
  const PublicSuffixList& list = PublicSuffixList::shared();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.registrableDomain(hosts[i]));
    if (++i == hosts.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(RegistrableDomainOurs);

void RegistrableDomainLibpsl(benchmark::State& state) {
  const auto& hosts = corpus();
  psl_ctx_t* context = libpsl();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(psl_registrable_domain(context, hosts[i].c_str()));
    if (++i == hosts.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(RegistrableDomainLibpsl);

// Both over the whole corpus in alternation within one run; the counters give the time per host
// of each and ours as a fraction of libpsl's.
void RegistrableDomainSideBySide(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto& hosts = corpus();
  const PublicSuffixList& list = PublicSuffixList::shared();
  psl_ctx_t* context = libpsl();
  double ours = 0, theirs = 0;
  std::size_t passes = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    for (const std::string& host : hosts) benchmark::DoNotOptimize(list.registrableDomain(host));
    auto middle = Clock::now();
    for (const std::string& host : hosts) {
      benchmark::DoNotOptimize(psl_registrable_domain(context, host.c_str()));
    }
    auto end = Clock::now();
    ours += std::chrono::duration<double, std::nano>(middle - start).count();
    theirs += std::chrono::duration<double, std::nano>(end - middle).count();
    ++passes;
  }
  double lookups = static_cast<double>(passes * hosts.size());
  state.counters["hosts"] = static_cast<double>(hosts.size());
  state.counters["ours_ns_per_host"] = ours / lookups;
  state.counters["libpsl_ns_per_host"] = theirs / lookups;
  state.counters["ours_over_libpsl"] = ours / theirs;
}
BENCHMARK(RegistrableDomainSideBySide)->Unit(benchmark::kMillisecond);

// Parsing the list and building its table: what the first lookup of every process paid before
// the table was compiled in, and what a list read at run time still costs.
void BuildSuffixList(benchmark::State& state) {
  const std::string_view contents = *linkferry::Resources::find("public_suffix_list.dat");
  for (auto _ : state) benchmark::DoNotOptimize(PublicSuffixList(contents));
}
BENCHMARK(BuildSuffixList)->Unit(benchmark::kMillisecond);

// The first lookup in a fresh process: a probe program per iteration times its own first lookup
// (counters in microseconds: the median, which a busy machine's preemptions do not move, and the
// slowest); the iteration's time is the whole process.
void FirstLookupInFreshProcess(benchmark::State& state) {
  std::vector<double> microseconds;
  for (auto _ : state) {
    FILE* probe = ::popen(LINKFERRY_SUFFIX_PROBE, "r");
    long long nanoseconds = -1;
    const bool read = probe && std::fscanf(probe, "%lld", &nanoseconds) == 1;
    if (!probe || ::pclose(probe) != 0 || !read) {
      state.SkipWithError("the probe failed");
      return;
    }
    microseconds.push_back(static_cast<double>(nanoseconds) / 1000);
  }
  std::sort(microseconds.begin(), microseconds.end());
  state.counters["firstLookup_us"] = microseconds[microseconds.size() / 2];
  state.counters["slowest_us"] = microseconds.back();
}
BENCHMARK(FirstLookupInFreshProcess)->Unit(benchmark::kMillisecond)->Iterations(50);

// The key sites are compared by, for ASCII hosts (the corpus) and for a Unicode one.
void SiteKey(benchmark::State& state) {
  const auto& hosts = corpus();
  const PublicSuffixList& list = PublicSuffixList::shared();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.siteKey(hosts[i]));
    if (++i == hosts.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SiteKey);

void SiteKeyUnicode(benchmark::State& state) {
  const PublicSuffixList& list = PublicSuffixList::shared();
  for (auto _ : state) benchmark::DoNotOptimize(list.siteKey("www.b\xC3\xBC" "cher.de"));
}
BENCHMARK(SiteKeyUnicode);

// A crafted link whose host is one label of 100,000 letters, ASCII or not: linear, not quadratic.
void InspectHugeHost(benchmark::State& state) {
  std::string label;
  for (int i = 0; i < 50000; ++i) label += state.range(0) ? "\xC3\xBC" : "aa";
  const linkferry::URL link = *linkferry::URL::parse("https://" + label + ".com/x");
  for (auto _ : state) benchmark::DoNotOptimize(linkferry::LinkSafety::inspectAll(link));
}
BENCHMARK(InspectHugeHost)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void InspectAll(benchmark::State& state) {
  static const std::vector<linkferry::URL> links = [] {
    std::vector<linkferry::URL> result;
    for (const char* text : {
             "https://www.example.com/articles/2026/12/a-long-title-of-an-article?ref=home#top",
             "https://shop.example.co.uk/search?q=winter+boots&size=42&colour=black",
             "https://a.test/?q=%253Cscript%253Ealert(document.cookie)%253C/script%253E",
             "https://\xD0\xB0pple.com/signin?next=%2Faccount",
             "javascript:alert(1)",
         }) {
      result.push_back(*linkferry::URL::parse(text));
    }
    return result;
  }();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(linkferry::LinkSafety::inspectAll(links[i]));
    if (++i == links.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(InspectAll);

}  // namespace
