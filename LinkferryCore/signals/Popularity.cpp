#include "signals/Popularity.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "foundation/Files.h"
#include "foundation/Http.h"
#include "foundation/Text.h"
#include "safety/PublicSuffixList.h"
#include "safety/Punycode.h"

namespace linkferry {

PopularityTier popularityTier(long long rank) noexcept {
  if (rank <= 1'000) return PopularityTier::top1k;
  if (rank <= 10'000) return PopularityTier::top10k;
  if (rank <= 100'000) return PopularityTier::top100k;
  return PopularityTier::top1m;
}

std::optional<PopularityTier> popularityTierFromRawValue(int rawValue) noexcept {
  if (rawValue < 0 || rawValue > 3) return std::nullopt;
  return static_cast<PopularityTier>(rawValue);
}

std::string_view label(PopularityTier tier) noexcept {
  switch (tier) {
    case PopularityTier::top1k:
      return "among the 1,000 most visited sites";
    case PopularityTier::top10k:
      return "among the 10,000 most visited sites";
    case PopularityTier::top100k:
      return "among the 100,000 most visited sites";
    case PopularityTier::top1m:
      return "among the 1 million most visited sites";
  }
  return "";
}

namespace {

std::optional<PopularityTier> tierOfDigit(char digit) noexcept {
  if (digit < '1' || digit > '4') return std::nullopt;
  return static_cast<PopularityTier>(digit - '1');
}

// FNV-1a with a final mix, so that both the low bits (the slot) and the high bits (kept in the
// slot) spread well.
std::uint64_t hashOf(std::string_view text) noexcept {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char byte : text) hash = (hash ^ byte) * 0x100000001b3ULL;
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdULL;
  hash ^= hash >> 33;
  hash *= 0xc4ceb93fe3c5a3ddULL;
  hash ^= hash >> 33;
  return hash;
}

constexpr std::uint64_t kTierBits = 7;

// The slot value of a domain's hash: the hash with its low three bits replaced by the tier digit
// (1 to 4), so that no slot in use is 0.
std::uint64_t slotKey(std::uint64_t hash) noexcept { return hash & ~kTierBits; }

// "domain<TAB>digit" lines of a list; calls `each(domain, digitOrZero)`.
template <typename Each>
void forEachLine(std::string_view list, Each&& each) {
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find('\n', start);
    if (end == std::string_view::npos) end = list.size();
    const std::string_view line = list.substr(start, end - start);
    const std::size_t tab = line.find('\t');
    if (tab != std::string_view::npos && tab > 0)
      each(line.substr(0, tab), tab + 1 < line.size() ? line[tab + 1] : '\0');
    start = end + 1;
  }
}

}  // namespace

PopularityStore::Table::Table(std::string_view list) {
  std::size_t lines = static_cast<std::size_t>(std::count(list.begin(), list.end(), '\n')) + 1;
  const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(16, lines * 2));
  m_slots.assign(capacity, 0);
  m_mask = capacity - 1;
  forEachLine(list, [&](std::string_view domain, char digit) {
    if (!tierOfDigit(digit)) return;
    const std::uint64_t hash = hashOf(domain);
    for (std::uint64_t i = hash & m_mask;; i = (i + 1) & m_mask) {
      if (m_slots[i] == 0) {
        m_slots[i] = slotKey(hash) | static_cast<std::uint64_t>(digit - '0');
        ++m_count;
        return;
      }
      if (slotKey(m_slots[i]) == slotKey(hash)) return;  // listed once; the first wins
    }
  });
}

std::optional<PopularityTier> PopularityStore::Table::find(std::string_view domain) const noexcept {
  const std::uint64_t hash = hashOf(domain);
  for (std::uint64_t i = hash & m_mask;; i = (i + 1) & m_mask) {
    const std::uint64_t slot = m_slots[i];
    if (slot == 0) return std::nullopt;
    if (slotKey(slot) == slotKey(hash))
      return static_cast<PopularityTier>(static_cast<int>(slot & kTierBits) - 1);
  }
}

PopularityStore::PopularityStore(std::filesystem::path file)
    : m_file(std::move(file)), m_shared(std::make_shared<Shared>()) {}

std::optional<Date> PopularityStore::updatedAt() const {
  struct stat info {};
  if (::stat(m_file.c_str(), &info) != 0) return std::nullopt;
  return Date{static_cast<double>(info.st_mtim.tv_sec) +
              static_cast<double>(info.st_mtim.tv_nsec) / 1e9};
}

bool PopularityStore::isStale(double maxAge, Date now) const {
  const auto updated = updatedAt();
  return !updated || now.secondsSince(*updated) > maxAge;
}

void PopularityStore::reload() {
  std::lock_guard lock(m_shared->mutex);
  m_shared->table.reset();
  m_shared->loaded = false;
}

std::shared_ptr<const PopularityStore::Table> PopularityStore::table() const {
  std::lock_guard lock(m_shared->mutex);
  if (!m_shared->loaded) {
    m_shared->loaded = true;
    try {
      // The real list is about 20 MB; a file far past that is not one we wrote.
      if (auto bytes = Files::readIfExists(m_file, 256ULL * 1024 * 1024); bytes && !bytes->empty())
        m_shared->table = std::make_shared<const Table>(*bytes);
    } catch (const std::exception&) {
      m_shared->table.reset();  // unreadable: no answers until the next reload
    }
  }
  return m_shared->table;
}

std::optional<PopularityTier> PopularityStore::tier(std::string_view host,
                                                    const PublicSuffixList& psl) const {
  std::string_view trimmed = Text::trimmed(host);
  std::string lowered = Text::lowercased(trimmed);
  std::string_view bare = lowered;
  while (!bare.empty() && bare.front() == '.') bare.remove_prefix(1);
  while (!bare.empty() && bare.back() == '.') bare.remove_suffix(1);
  if (bare.empty()) return std::nullopt;
  // The list holds ASCII names only: a Unicode host is looked up in its "xn--" form.
  const auto ascii = Punycode::toASCIIHost(bare);
  if (!ascii) return std::nullopt;
  const std::string_view key = *ascii;

  const auto loaded = table();
  if (!loaded) return std::nullopt;
  if (auto found = loaded->find(key)) return found;
  if (key.starts_with("www.")) {
    if (auto found = loaded->find(key.substr(4))) return found;
  }
  if (auto domain = psl.registrableDomain(key)) return loaded->find(*domain);
  return std::nullopt;
}

std::optional<PopularityTier> PopularityStore::lookup(std::string_view key,
                                                      std::string_view list) {
  std::size_t lo = 0;
  std::size_t hi = list.size();
  while (lo < hi) {
    const std::size_t middle = lo + (hi - lo) / 2;
    std::size_t start = middle;
    while (start > lo && list[start - 1] != '\n') --start;
    // The line's key runs to the first tab or line feed; the line ends at the next line feed.
    std::size_t keyEnd = start;
    while (keyEnd < hi && list[keyEnd] != '\t' && list[keyEnd] != '\n') ++keyEnd;
    std::size_t lineEnd = keyEnd;
    while (lineEnd < hi && list[lineEnd] != '\n') ++lineEnd;
    const int order = list.substr(start, keyEnd - start).compare(key);
    if (order == 0) {
      if (keyEnd < lineEnd && list[keyEnd] == '\t' && keyEnd + 1 < lineEnd)
        return tierOfDigit(list[keyEnd + 1]);
      return std::nullopt;
    }
    if (order < 0)
      lo = lineEnd + 1;
    else
      hi = start;
  }
  return std::nullopt;
}

std::string PopularityStore::compact(std::string_view csv) {
  struct Entry {
    std::string_view domain;
    char digit;
  };
  // ASCII capitals lowered once for the whole text; ranks are digits and unaffected.
  std::string lowered(csv);
  for (char& c : lowered)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::vector<Entry> entries;
  entries.reserve(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')) + 1);
  std::size_t start = 0;
  const std::string_view text = lowered;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) continue;
    const std::string_view rankText = Text::trimmed(line.substr(0, comma));
    long long rank = 0;
    const char* rankEnd = rankText.data() + rankText.size();
    const auto parsed = std::from_chars(rankText.data(), rankEnd, rank);
    if (rankText.empty() || parsed.ec != std::errc{} || parsed.ptr != rankEnd) continue;
    std::string_view domain = line.substr(comma + 1);
    if (domain.ends_with('\r')) domain.remove_suffix(1);
    // A domain with a tab or line break would break the list's lines.
    if (domain.empty() || domain.find('\t') != std::string_view::npos) continue;
    entries.push_back({domain, static_cast<char>('1' + static_cast<int>(popularityTier(rank)))});
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.domain < b.domain; });
  std::string list;
  list.reserve(entries.size() * 18);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i].domain == entries[i - 1].domain) continue;
    list.append(entries[i].domain);
    list.push_back('\t');
    list.push_back(entries[i].digit);
    list.push_back('\n');
  }
  return list;
}

PopularityUpdater::PopularityUpdater(PopularityStore store)
    : PopularityUpdater(std::move(store), Options{}) {}

PopularityUpdater::PopularityUpdater(PopularityStore store, Options options)
    : m_store(std::move(store)), m_options(std::move(options)) {}

std::string PopularityUpdater::firstEntry(std::string_view zip, std::uint64_t maxBytes,
                                          std::uint64_t maxRows) {
  std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(),
                                                                &archive_read_free);
  if (!reader) throw PopularityError(PopularityError::Kind::archive, "cannot read archives");
  archive_read_support_format_zip(reader.get());
  auto fail = [&](std::string_view what) {
    const char* detail = archive_error_string(reader.get());
    return PopularityError(PopularityError::Kind::archive,
                           std::string(what) + (detail ? std::string(": ") + detail : ""));
  };
  if (archive_read_open_memory(reader.get(), zip.data(), zip.size()) != ARCHIVE_OK)
    throw fail("the download is no ZIP archive");
  archive_entry* entry = nullptr;
  if (archive_read_next_header(reader.get(), &entry) != ARCHIVE_OK)
    throw fail("the archive holds no entry");
  const auto tooLarge = [&] {
    return PopularityError(PopularityError::Kind::tooLarge,
                           "the list expands past " + std::to_string(maxBytes) + " bytes or " +
                               std::to_string(maxRows) + " rows");
  };
  // The size the entry claims is checked first; what it really expands to is counted below.
  if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0 &&
      static_cast<std::uint64_t>(archive_entry_size(entry)) > maxBytes)
    throw tooLarge();
  std::string data;
  std::uint64_t rows = 0;
  char buffer[64 * 1024];
  while (true) {
    const la_ssize_t read = archive_read_data(reader.get(), buffer, sizeof buffer);
    if (read == 0) break;
    if (read < 0) throw fail("the archive's first entry cannot be read");
    if (data.size() + static_cast<std::size_t>(read) > maxBytes) throw tooLarge();
    rows += static_cast<std::uint64_t>(
        std::count(buffer, buffer + read, '\n'));
    if (rows > maxRows) throw tooLarge();
    data.append(buffer, static_cast<std::size_t>(read));
  }
  return data;
}

void PopularityUpdater::refresh() {
  std::lock_guard lock(m_mutex);
  m_running = true;
  refreshWhileRunning();
}

bool PopularityUpdater::refreshIfStale(double maxAge, Date now) {
  if (!m_store.isStale(maxAge, now)) return false;
  bool expected = false;
  if (!m_running.compare_exchange_strong(expected, true)) return false;
  std::unique_lock lock(m_mutex, std::try_to_lock);
  if (!lock.owns_lock()) {  // a plain refresh() holds the updater
    m_running = false;
    return false;
  }
  refreshWhileRunning();
  return true;
}

void PopularityUpdater::refreshWhileRunning() {
  // `running()` turns false however the refresh ends.
  struct Clear {
    std::atomic<bool>& running;
    ~Clear() { running = false; }
  } clear{m_running};
  refreshLocked();
}

void PopularityUpdater::refreshLocked() {
  Http::Request request;
  request.url = m_options.url;
  request.timeout = m_options.timeout;
  request.userAgent = "LinkFerry";
  request.maxBodyBytes = m_options.maxDownloadBytes;
  request.resolve = m_options.resolve;
  Http::Response response;
  try {
    response = Http::send(request);
  } catch (const Http::HttpError& error) {
    throw PopularityError(PopularityError::Kind::download, error.what());
  }
  if (response.status != 200)
    throw PopularityError(PopularityError::Kind::http,
                          "the list download answered " + std::to_string(response.status),
                          response.status);
  const std::string csv =
      firstEntry(response.body, m_options.maxExtractedBytes, m_options.maxRows);
  response.body.clear();
  std::string list = PopularityStore::compact(csv);
  if (list.size() <= 1000)
    throw PopularityError(PopularityError::Kind::emptyList, "the downloaded list is empty");
  Files::writeAtomically(m_store.file(), list, Files::Durability::synced);
  m_store.reload();
}

}  // namespace linkferry
