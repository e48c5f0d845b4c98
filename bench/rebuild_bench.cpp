// The service's index rebuild over what real browsers wrote: the real-browser fixture runs this
// machine's Chromium and Firefox once for the whole program (a few seconds), and every iteration
// rebuilds the signal index from their profiles the way the service's refresher does, over the
// catalog the service would load (browsers.json naming the fixture's Chromium user data folder
// and Firefox profiles root: Chromium's "Default" and "Profile 1", Firefox's "personal", never
// started, and "work", which browsed in and out of a container).
// The new index replaces the one held before, so both exist at the moment of the swap, as in the
// service, where the router keeps serving the old index while the next one is built.
//
// BM_RebuildGrownProfile: the same over a copy of the fixture in which Chromium's Default profile
// carries 50,000 History rows and 5,000 cookies added to the browser's own files, so the figures
// are not only those of a profile that visited four pages.
//
// Counters, per rebuild (the maximum over the iterations):
//   peakRSSGrowth_KB  the process's peak resident size during the rebuild minus its resident size
//                     before it; each rebuild starts after malloc_trim, with the peak reset
//                     through /proc/self/clear_refs ("hwmReset" 1). Where that file cannot be
//                     written ("hwmReset" 0), getrusage's ru_maxrss after all rebuilds minus
//                     before the first: the growth of the process's peak, which an earlier
//                     benchmark of the same run may already have raised (run one with
//                     --benchmark_filter to see its own).
//   heapPeak_KB       the most heap in use during the rebuild above what was in use before it
//                     (every malloc counted, see HeapPeak.h).
//   heapKeptPerRebuild_B  heap in use after all rebuilds minus before them, per rebuild, with one
//                     index served at both moments: what a rebuild leaves behind. Measured at a
//                     few hundred bytes in all whatever the number of rebuilds (two indexes of
//                     the same data need not be the same size); a leak shows as a figure that
//                     stays put as --benchmark_min_time grows.
// And once: indexHeap_KB, the heap the served index holds (mallinfo2 with and without it);
// RSS_MB, the resident size after the runs; profiles read, and domains and issues of the index
// built.
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#include "HeapPeak.h"
#include "fixtures/BrowserDatabases.h"
#include "fixtures/RealBrowsers.h"
#include "foundation/Dates.h"
#include "foundation/Json.h"
#include "router/RouterSetup.h"
#include "safety/PublicSuffixList.h"
#include "settings/LinkferryPaths.h"
#include "signals/IndexBuilder.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;

constexpr int kGrownHistoryRows = 50'000;
constexpr int kGrownCookies = 5'000;
constexpr int kGrownSites = 5'000;
const char* const kSuffixes[] = {"com", "co.uk", "org", "de", "com.au", "net"};
const char* const kCookieNames[] = {"sessionid", "prefs", "_ga", "auth_token", "lang"};

// The catalog the service loads from a data folder whose browsers.json names the fixture's
// Chromium user data folder and Firefox profiles root; no desktop entries, so nothing of this
// machine's own browsers joins in.
BrowserCatalog catalogOver(const fs::path& folder, const fs::path& chromiumUserData,
                           const fs::path& firefoxRoot) {
  JsonValue browsers = JsonValue::array();
  browsers.push_back({{"id", "chromium"},
                      {"name", "Chromium"},
                      {"family", "chromium"},
                      {"appPath", "/usr/bin/chromium"},
                      {"dataDir", chromiumUserData.string()}});
  browsers.push_back({{"id", "firefox-esr"},
                      {"name", "Firefox ESR"},
                      {"family", "firefox"},
                      {"appPath", "/usr/lib/firefox-esr/firefox-esr"},
                      {"dataDir", firefoxRoot.string()}});
  fs::create_directories(folder / "data");
  std::ofstream(folder / "data/browsers.json") << browsers.dump();
  const std::map<std::string, std::string> environment{
      {"HOME", (folder / "home").string()},
      {"LINKFERRY_HOME", (folder / "data").string()},
      {"XDG_DATA_HOME", (folder / "none").string()},
      {"XDG_DATA_DIRS", (folder / "none").string()},
      {"PATH", "/usr/bin:/bin"}};
  const LinkferryPaths paths = LinkferryPaths::defaultPaths(environment, folder / "home");
  return RouterSetup::loadCatalog(paths, folder / "home", environment);
}

struct Fixture {
  std::optional<std::string> problem;  // why nothing can be measured
  BrowserCatalog real;
  BrowserCatalog grown;
};

// Copies the browser's own files of a Chromium user data folder; its lock and socket links stay
// behind.
void copyUserData(const fs::path& from, const fs::path& to) {
  for (const auto& entry : fs::recursive_directory_iterator(from)) {
    const fs::path copy = to / fs::relative(entry.path(), from);
    if (entry.is_symlink()) continue;
    if (entry.is_directory()) fs::create_directories(copy);
    if (entry.is_regular_file()) fs::copy_file(entry.path(), copy);
  }
}

// Rows added to the browser's own History and Cookies, all within the history window.
void grow(const fs::path& profile) {
  const double now = Date::now().secondsSince1970;
  const auto site = [](int n) {
    return "site" + std::to_string(n) + "." + kSuffixes[n % std::size(kSuffixes)];
  };
  {
    std::vector<std::vector<fixtures::FixtureDatabase::Value>> rows;
    rows.reserve(kGrownHistoryRows);
    for (int i = 0; i < kGrownHistoryRows; ++i) {
      const std::string url = "https://" + std::string(i % 3 ? "www." : "app.") +
                              site(i % kGrownSites) + "/articles/" + std::to_string(i);
      rows.push_back({url, url, 1 + i % 20, fixtures::chromiumTime(now - 3600.0 * (i % 1000))});
    }
    fixtures::FixtureDatabase history(profile / "History");
    history.insert(
        "INSERT INTO urls (url, title, visit_count, last_visit_time) VALUES (?, ?, ?, ?)", rows);
  }
  std::vector<std::vector<fixtures::FixtureDatabase::Value>> rows;
  rows.reserve(kGrownCookies);
  for (int i = 0; i < kGrownCookies; ++i) {
    const bool persistent = i % 3 != 0;
    const std::int64_t accessed = fixtures::chromiumTime(now - 600.0 * i);
    rows.push_back({accessed, "." + site(i % kGrownSites),
                    kCookieNames[i % std::size(kCookieNames)] + std::to_string(i),
                    persistent ? fixtures::chromiumTime(now + 365 * 86400.0) : 0, accessed,
                    persistent ? 1 : 0, persistent ? 1 : 0});
  }
  fixtures::FixtureDatabase cookies(profile / "Cookies");
  cookies.insert(
      "INSERT INTO cookies VALUES (?1, ?2, '', ?3, '', x'763130', '/', ?4, 0, 0, ?5, ?6, ?7, 1, "
      "-1, 2, 443, ?1, 0, 0)",
      rows);
}

const Fixture& fixture() {
  static const auto& made = *new Fixture([] {
    Fixture f;
    const auto& data = testing::realBrowserData();
    for (const char* browser : {"chromium", "firefox"}) {
      if (auto why = data.unavailable(browser)) {
        f.problem = *why;
        return f;
      }
      if (!data.ok(browser)) {
        f.problem = data.failure(browser);
        return f;
      }
    }
    // Removed at exit, like the fixture's own folder.
    static auto* folder = new testing::TemporaryDirectory();
    std::atexit([] { delete folder; });
    const fs::path chromium = data.manifest["chromium"]["userDataDir"].get<std::string>();
    const fs::path firefox = data.manifest["firefox"]["profilesRoot"].get<std::string>();
    f.real = catalogOver(folder->path() / "real", chromium, firefox);
    const fs::path grownChromium = folder->path() / "grown/chromium";
    copyUserData(chromium, grownChromium);
    grow(grownChromium / "Default");
    f.grown = catalogOver(folder->path() / "grown", grownChromium, firefox);
    return f;
  }());
  return made;
}

// A "Name:   123 kB" line of /proc/self/status, in kilobytes; -1 when absent.
long statusKilobytes(std::string_view name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(name) && line.size() > name.size() && line[name.size()] == ':') {
      return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

// Sets the process's peak resident size (VmHWM) to its resident size now; false where the
// kernel does not allow it.
bool resetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

long maxResidentKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // kilobytes on Linux
}

std::int64_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<std::int64_t>(info.uordblks + info.hblkhd);
}

void rebuild(benchmark::State& state, const BrowserCatalog Fixture::* which) {
  const Fixture& f = fixture();
  if (f.problem) {
    state.SkipWithError(f.problem->c_str());
    return;
  }
  if (!HeapPeak::active()) {
    state.SkipWithError("malloc is not counted (a sanitizer or preloaded allocator?)");
    return;
  }
  const BrowserCatalog& catalog = f.*which;
  const IndexBuilder builder{PublicSuffixList::shared(), SessionClassifier(),
                             IndexBuilder::kDefaultHistoryWindow, std::nullopt};
  const long maxBefore = maxResidentKilobytes();
  // The index served while the first rebuild runs, as in a running service.
  auto served = std::make_shared<const SignalIndex>(builder.build(catalog, Date::now()));
  if (!served->signals("example.com")) {
    state.SkipWithError("the index holds nothing of what the browsers wrote");
    return;
  }

  const bool hwmReset = resetPeakResident();
  const std::int64_t heapBefore = HeapPeak::inUse();
  long peakGrowth = 0;
  std::int64_t heapPeak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    malloc_trim(0);
    resetPeakResident();
    const long residentBefore = statusKilobytes("VmRSS");
    HeapPeak::startWindow();
    state.ResumeTiming();

    served = std::make_shared<const SignalIndex>(builder.build(catalog, Date::now()));

    state.PauseTiming();
    heapPeak = std::max(heapPeak, HeapPeak::windowPeak());
    if (hwmReset) peakGrowth = std::max(peakGrowth, statusKilobytes("VmHWM") - residentBefore);
    state.ResumeTiming();
  }
  if (!hwmReset) peakGrowth = maxResidentKilobytes() - maxBefore;
  const auto rebuilds = std::max<double>(1, static_cast<double>(state.iterations()));
  state.counters["heapKeptPerRebuild_B"] =
      static_cast<double>(HeapPeak::inUse() - heapBefore) / rebuilds;

  state.counters["peakRSSGrowth_KB"] = static_cast<double>(peakGrowth);
  state.counters["hwmReset"] = hwmReset ? 1 : 0;
  state.counters["heapPeak_KB"] = static_cast<double>(heapPeak) / 1024.0;
  state.counters["RSS_MB"] = static_cast<double>(statusKilobytes("VmRSS")) / 1024.0;
  std::size_t profiles = 0;
  for (const CatalogBrowser& browser : catalog.browsers) profiles += browser.profiles.size();
  state.counters["profiles"] = static_cast<double>(profiles);
  state.counters["domains"] = static_cast<double>(served->domains.size());
  state.counters["issues"] = static_cast<double>(served->issues.size());
  const std::int64_t withIndex = heapInUse();
  served.reset();
  state.counters["indexHeap_KB"] = static_cast<double>(withIndex - heapInUse()) / 1024.0;
}

void BM_RebuildRealProfiles(benchmark::State& state) { rebuild(state, &Fixture::real); }
BENCHMARK(BM_RebuildRealProfiles)->Unit(benchmark::kMillisecond);

void BM_RebuildGrownProfile(benchmark::State& state) { rebuild(state, &Fixture::grown); }
BENCHMARK(BM_RebuildGrownProfile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace linkferry
