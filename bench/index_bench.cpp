// Building the signal index from one large Chromium profile, against a bare SQLite loop that
// reads the same rows with the same statements in this program. The index build should cost at
// most about twice the bare read: everything beyond reading is URL parsing, the suffix list and
// grouping.
//
// The profile: a History of 300 000 URLs (100 000 visited within the 90-day window) over 6 000
// hosts of 1 500 sites, and a Cookies table of 20 000 rows. Peak memory is reported as the
// counter "peakRSS_MB" (the process's maximum resident size after the benchmark ran); run one
// benchmark per process (--benchmark_filter) to see each one's own peak.
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "fixtures/BrowserDatabases.h"
#include "signals/IndexBuilder.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;

constexpr int kURLs = 300000;
constexpr int kRecentURLs = 100000;
constexpr int kCookies = 20000;
constexpr double kNow = 1796629939;
constexpr double kDay = 86400;

const char* const kSuffixes[] = {"com", "co.uk", "org", "de", "com.au", "net"};
const char* const kCookieNames[] = {"sessionid", "prefs", "_ga", "auth_token", "lang", "__Host-id"};

std::string site(int n) {
  return "site" + std::to_string(n) + "." + kSuffixes[n % 6];
}

void check(int code, sqlite3* db) {
  if (code != SQLITE_OK && code != SQLITE_DONE) {
    std::fprintf(stderr, "bench_index: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

// Writes the profile once per process, row by row, so the fixture itself needs little memory.
const fs::path& profile() {
  static const fs::path folder = [] {
    fs::path path = fs::temp_directory_path() / "linkferry-bench-index";
    fs::remove_all(path);
    fs::create_directories(path);
    std::atexit([] { fs::remove_all(fs::temp_directory_path() / "linkferry-bench-index"); });
    std::mt19937 random(7);
    {
      fixtures::FixtureDatabase history(path / "History");
      history.exec(fixtures::kChromiumHistorySchema);
      history.exec("BEGIN");
      sqlite3_stmt* insert = nullptr;
      check(sqlite3_prepare_v2(history.db(),
                               "INSERT INTO urls (url, title, visit_count, last_visit_time) "
                               "VALUES (?, '', ?, ?)",
                               -1, &insert, nullptr),
            history.db());
      for (int i = 0; i < kURLs; ++i) {
        int host = static_cast<int>(random() % 6000);
        std::string url = "https://" + std::string(host % 3 == 0 ? "www." : "app") +
                          std::to_string(host % 4) + "." + site(host % 1500) + "/articles/" +
                          std::to_string(i) + "?ref=" + std::to_string(random() % 100);
        double age = i < kRecentURLs ? (random() % 89) * kDay + 10 : (100 + random() % 300) * kDay;
        sqlite3_bind_text(insert, 1, url.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 2, 1 + random() % 20);
        sqlite3_bind_int64(insert, 3, fixtures::chromiumTime(kNow - age));
        check(sqlite3_step(insert), history.db());
        sqlite3_reset(insert);
      }
      sqlite3_finalize(insert);
      history.exec("COMMIT");
    }
    {
      fixtures::FixtureDatabase cookies(path / "Cookies");
      cookies.exec(fixtures::kChromiumCookiesSchema);
      cookies.exec("BEGIN");
      sqlite3_stmt* insert = nullptr;
      check(sqlite3_prepare_v2(cookies.db(),
                               "INSERT INTO cookies VALUES (?1, ?2, '', ?3, '', x'763130', '/', "
                               "?4, 0, 0, ?1, ?5, ?5, 1, -1, 2, 443, ?1, 0, 0)",
                               -1, &insert, nullptr),
            cookies.db());
      for (int i = 0; i < kCookies; ++i) {
        bool persistent = i % 3 != 0;
        std::string host = (i % 2 ? "." : "www.") + site(i % 1500);
        std::string name = kCookieNames[i % 6] + std::to_string(i / 1500);
        sqlite3_bind_int64(insert, 1, fixtures::chromiumTime(kNow - (random() % 60) * kDay));
        sqlite3_bind_text(insert, 2, host.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 4, persistent ? fixtures::chromiumTime(kNow + 365 * kDay) : 0);
        sqlite3_bind_int64(insert, 5, persistent ? 1 : 0);
        check(sqlite3_step(insert), cookies.db());
        sqlite3_reset(insert);
      }
      sqlite3_finalize(insert);
      cookies.exec("COMMIT");
    }
    return path;
  }();
  return folder;
}

double peakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void BM_IndexBuild(benchmark::State& state) {
  CatalogBrowser chromium;
  chromium.definition.id = "chromium";
  chromium.definition.family = BrowserFamily::chromium;
  BrowserProfile personal;
  personal.id = "Default";
  personal.path = profile();
  chromium.profiles.push_back(personal);
  const BrowserCatalog catalog{{chromium}};
  const IndexBuilder builder{PublicSuffixList::shared(), SessionClassifier(),
                             IndexBuilder::kDefaultHistoryWindow, std::nullopt};
  std::size_t domains = 0;
  for (auto _ : state) {
    SignalIndex index = builder.build(catalog, Date{kNow});
    domains = index.domains.size();
    benchmark::DoNotOptimize(index);
  }
  state.counters["domains"] = static_cast<double>(domains);
  state.counters["peakRSS_MB"] = peakResidentMegabytes();
}
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond);

// The same statements on the same files, opened the same way (immutable, in place), with every
// column read and nothing done with it.
void BM_BareSQLiteRead(benchmark::State& state) {
  const std::int64_t cutoff = fixtures::chromiumTime(kNow - IndexBuilder::kDefaultHistoryWindow);
  const std::string historySQL =
      "SELECT url, last_visit_time, visit_count FROM urls WHERE last_visit_time > " +
      std::to_string(cutoff);
  const char* cookiesSQL =
      "SELECT host_key, name, expires_utc, last_access_utc, is_persistent FROM cookies";
  const fs::path& folder = profile();  // written before timing starts
  std::int64_t rows = 0;
  for (auto _ : state) {
    rows = 0;
    std::size_t bytes = 0;
    for (const auto& [file, sql] : {std::pair<const char*, std::string>{"History", historySQL},
                                    std::pair<const char*, std::string>{"Cookies", cookiesSQL}}) {
      sqlite3* db = nullptr;
      std::string uri = "file://" + (folder / file).string() + "?mode=ro&immutable=1";
      check(sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr), db);
      sqlite3_stmt* statement = nullptr;
      check(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), db);
      const int columns = sqlite3_column_count(statement);
      while (sqlite3_step(statement) == SQLITE_ROW) {
        ++rows;
        for (int column = 0; column < columns; ++column) {
          if (sqlite3_column_type(statement, column) == SQLITE_TEXT) {
            bytes += static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
            benchmark::DoNotOptimize(sqlite3_column_text(statement, column));
          } else {
            benchmark::DoNotOptimize(sqlite3_column_int64(statement, column));
          }
        }
      }
      sqlite3_finalize(statement);
      sqlite3_close(db);
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["peakRSS_MB"] = peakResidentMegabytes();
}
BENCHMARK(BM_BareSQLiteRead)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace linkferry
