#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Dates.h"

namespace linkferry {

class PublicSuffixList;

// How widely visited a domain is, by its rank in the public top-1-million list. Ordered by raw
// value: a smaller value is a more visited site.
enum class PopularityTier : int { top1k = 0, top10k = 1, top100k = 2, top1m = 3 };

inline constexpr std::array<PopularityTier, 4> kAllPopularityTiers = {
    PopularityTier::top1k, PopularityTier::top10k, PopularityTier::top100k, PopularityTier::top1m};

// The tier of a rank: up to 1,000 (ranks below 1 too), 10,000, 100,000, and above.
PopularityTier popularityTier(long long rank) noexcept;
std::optional<PopularityTier> popularityTierFromRawValue(int rawValue) noexcept;
// "among the 1,000 most visited sites" and so on.
std::string_view label(PopularityTier tier) noexcept;

// The local popularity list ("tranco-domains.txt" in the data folder): one line per domain,
// "domain<TAB>digit<LF>", sorted by the domain's bytes, each domain once; the digit "1" to "4" is
// the tier. Answered without any network.
//
// The file is read once, on the first lookup, into a compact open-addressing table of 64-bit
// hashes (the tier in the low bits), so a lookup is one hash and a probe or two; `reload` makes
// the next lookup read the file again (the updater calls it after replacing the file). Copies
// share the loaded table. Safe from any thread.
class PopularityStore {
 public:
  explicit PopularityStore(std::filesystem::path file);

  const std::filesystem::path& file() const { return m_file; }

  // The file's modification date; nothing when the file or its date cannot be read.
  std::optional<Date> updatedAt() const;
  // Stale when the file has no modification date, or more than maxAge seconds passed since it.
  bool isStale(double maxAge, Date now) const;

  // The tier of a host: lower-cased, trimmed of spaces and ".", in its ASCII ("xn--") form; then
  // looked up as it is, without a leading "www.", and as its registrable domain, first hit wins.
  // Nothing when the list is missing, unreadable or holds none of them.
  std::optional<PopularityTier> tier(std::string_view host, const PublicSuffixList& psl) const;

  // Drops the loaded list; the next lookup reads the file again.
  void reload();

  // One domain looked up by bisection over the raw bytes of a list in the file's format (no
  // table needed; for a list held only as bytes). Nothing when absent or when its tier byte is
  // not "1" to "4".
  static std::optional<PopularityTier> lookup(std::string_view key, std::string_view list);

  // The list in the file's format from the source CSV ("rank,domain" lines): lines without a
  // comma or a decimal rank are skipped, a trailing CR dropped, ASCII capitals lowered, and each
  // domain listed once with the tier of its first line.
  static std::string compact(std::string_view csv);

  // The loaded form of a list.
  class Table;

 private:
  std::shared_ptr<const Table> table() const;

  struct Shared {
    std::mutex mutex;
    std::shared_ptr<const Table> table;
    bool loaded = false;
  };
  std::filesystem::path m_file;
  std::shared_ptr<Shared> m_shared;
};

class PopularityStore::Table {
 public:
  explicit Table(std::string_view list);
  std::optional<PopularityTier> find(std::string_view domain) const noexcept;
  std::size_t size() const noexcept { return m_count; }

 private:
  std::vector<std::uint64_t> m_slots;  // 0 = empty; otherwise the hash with the tier digit below
  std::uint64_t m_mask = 0;
  std::size_t m_count = 0;
};

// A refresh that failed; the old list stays.
class PopularityError : public std::runtime_error {
 public:
  enum class Kind {
    http,       // the download answered with a status other than 200
    download,   // no answer (no connection, time-out, the body over its limit)
    archive,    // the ZIP could not be read, or held no entry
    tooLarge,   // the entry expands past the limit, or holds too many rows
    emptyList,  // the rebuilt list holds 1000 bytes or less
  };
  PopularityError(Kind kind, std::string message, int status = 0)
      : std::runtime_error(std::move(message)), kind(kind), status(status) {}
  Kind kind;
  int status;  // for http
};

// Downloads the list's ZIP, reads its first entry and replaces the local list atomically.
// Refreshes run one at a time; `running` is true while one is under way.
class PopularityUpdater {
 public:
  static constexpr std::string_view kListURL = "https://tranco-list.eu/top-1m.csv.zip";

  struct Options {
    std::string url{kListURL};
    // The whole download, connecting included.
    std::chrono::milliseconds timeout{120'000};
    std::size_t maxDownloadBytes = 64 * 1024 * 1024;
    // What the first entry may expand to (the real list is about 22 MB), and its rows.
    std::uint64_t maxExtractedBytes = 128 * 1024 * 1024;
    std::uint64_t maxRows = 4'000'000;
    // Fixed name resolutions for the download, "host:port:address"; empty in ordinary use.
    std::vector<std::string> resolve{};
  };

  explicit PopularityUpdater(PopularityStore store);
  PopularityUpdater(PopularityStore store, Options options);

  const PopularityStore& store() const { return m_store; }
  bool running() const { return m_running.load(); }

  // Downloads and replaces the list; throws PopularityError or a file error, the old list kept.
  void refresh();
  // Refreshes when the list is stale and no refresh is running (then true); otherwise false at
  // once. Errors of the refresh are thrown.
  bool refreshIfStale(double maxAge, Date now = Date::now());

  // The first entry of a ZIP held in memory, within the limits; throws PopularityError.
  static std::string firstEntry(std::string_view zip, std::uint64_t maxBytes,
                                std::uint64_t maxRows);

 private:
  void refreshLocked();
  // refreshLocked with `m_running` already set, cleared when it returns or throws.
  void refreshWhileRunning();

  PopularityStore m_store;
  Options m_options;
  std::mutex m_mutex;
  std::atomic<bool> m_running{false};
};

}  // namespace linkferry
