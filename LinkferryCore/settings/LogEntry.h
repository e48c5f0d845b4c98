#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browsers/BrowserTarget.h"
#include "foundation/Dates.h"
#include "foundation/Json.h"
#include "foundation/URL.h"
#include "foundation/Uuid.h"
#include "routing/LinkRequest.h"

namespace linkferry {

// Where a logged link stands. Stored as its case name.
enum class DecisionStatus {
  pending,    // received, not yet decided
  routed,     // opened where the pipeline decided
  picked,     // opened where the user chose in the picker
  cancelled,  // the user dismissed the picker
  failed,     // the launch failed
  ignored,    // not opened: the decision was to ignore the link
};

inline constexpr std::array<DecisionStatus, 6> allDecisionStatusCases = {
    DecisionStatus::pending,   DecisionStatus::routed, DecisionStatus::picked,
    DecisionStatus::cancelled, DecisionStatus::failed, DecisionStatus::ignored};

std::string_view toString(DecisionStatus status);
// Nothing for any text that is not exactly a case name.
std::optional<DecisionStatus> decisionStatusFromString(std::string_view text);

// One link of the decision log: what arrived, and what became of it.
struct LogEntry {
  Uuid id;
  URL url;
  std::optional<std::string> sourceApp;
  std::optional<std::string> sourceWindow;
  Date receivedAt;
  DecisionStatus status = DecisionStatus::pending;
  std::optional<BrowserTarget> target;
  std::optional<std::string> reason;
  std::vector<std::string> trace;  // one line per pipeline step, growing across updates

  LogEntry(Uuid id, URL url, std::optional<std::string> sourceApp,
           std::optional<std::string> sourceWindow, Date receivedAt, DecisionStatus status,
           std::optional<BrowserTarget> target, std::optional<std::string> reason,
           std::vector<std::string> trace);

  // What one entry may hold, so that no click can make the log too large to load. A longer link
  // is kept as its first characters followed by "%E2%80%A6%20(N%20characters)" (" … (N
  // characters)" percent-encoded, so that it still reads as a link), N being the length of the
  // whole link; a longer text (source app or window, reason, target names, a trace line) as its
  // first characters followed by " … (N characters)"; a longer trace as its first lines followed
  // by "… (N more lines)". What is shortened stays within the limit, so shortening again changes
  // nothing.
  static constexpr std::size_t kURLLimit = 16 * 1024;  // characters of the link's text
  static constexpr std::size_t kTextLimit = 2048;      // characters of any other text
  static constexpr std::size_t kTraceLimit = 100;      // lines
  static URL boundedURL(const URL& url);
  static std::string boundedText(std::string_view text);
  // Shortens whatever passes the limits above; nothing else changes.
  void bound();

  // The link as it arrived, to route a pending entry again. A link the log had to shorten (see
  // kURLLimit) is not the link that arrived.
  LinkRequest request() const { return LinkRequest(url, sourceApp, sourceWindow, receivedAt); }

  // `receivedAt` as seconds since 2001-01-01 00:00:00 UTC; `sourceApp`, `sourceWindow`,
  // `target` and `reason` left out when absent.
  JsonValue toJson() const;
  // `id` (a UUID in either letter case), `url`, `receivedAt`, `status` and `trace` are required.
  // Throws JsonError.
  static LogEntry fromJson(const JsonReader& json);

  bool operator==(const LogEntry&) const = default;
};

// The log file's text: one compact JSON array of entries, oldest first.
namespace LogFile {

// Writes the array directly for the entries' fixed shape: the same values as
// Json::encodeCompact of the entries' toJson, several times faster for a file of thousands of
// entries.
std::string encode(const std::vector<LogEntry>& entries);
// Appends one element of that array, as `encode` writes it, to `out`: "[" + the elements joined
// by "," + "]" is the bytes of `encode`.
void appendEntry(std::string& out, const LogEntry& entry);
// Throws JsonError naming `fileName` and where the text is not a log. Reads the log's own
// shape without building a JSON tree; any other JSON text goes through `decodeGeneric`.
std::vector<LogEntry> decode(std::string_view text, std::string_view fileName);
// The same through the generic JSON parser: the same entries and errors, for several times the
// memory.
std::vector<LogEntry> decodeGeneric(std::string_view text, std::string_view fileName);

// One entry of log.json as the log keeps it in memory: what its bookkeeping reads, and the
// entry's own text (one JSON object), decoded only when the entry is asked for.
struct StoredEntry {
  Uuid id;
  Date receivedAt;
  DecisionStatus status = DecisionStatus::pending;
  bool traced = false;  // the trace holds lines
  std::optional<BrowserTarget> target;  // what the picker's count of uses reads
  std::string_view text;
};
// The entries of a text `decode` reads with the log's own reader, checked as that reader checks
// them but not built; each `text` points into `text`. Nothing for any other text: `decode`
// then reads or refuses it as the generic parser does. `decodeEntry` of an entry's text gives
// exactly the entry `decode` gives.
std::optional<std::vector<StoredEntry>> scan(std::string_view text);
// One entry from one JSON object (as `scan` or `encodeEntry` gives it). Throws JsonError when
// the text is not an entry.
LogEntry decodeEntry(std::string_view object);
// One entry as `encode` writes it within the array.
std::string encodeEntry(const LogEntry& entry);

}  // namespace LogFile

// One change of the log, as one line of the journal kept beside the log file. Applied in the
// order of its members: `clear` empties the log, `drop` removes the entries with those ids, `put`
// replaces entries by id (one that is gone stays gone), `add` appends entries whose id is not
// there yet. Every line names what it changes fully, so applying a run of lines again to the log
// they produced leaves it as it is: a file rewritten from the log before its journal was emptied
// loads the same with or without that journal.
struct LogChange {
  bool clear = false;
  std::vector<Uuid> drop;
  std::vector<LogEntry> put;
  std::vector<LogEntry> add;

  bool empty() const { return !clear && drop.empty() && put.empty() && add.empty(); }
  bool operator==(const LogChange&) const = default;
};

namespace LogJournal {

// Appends the change as one compact JSON object and "\n"; absent members are left out.
void appendLine(std::string& out, const LogChange& change);
// One line without its "\n". Throws JsonError naming `where`; members it does not know are
// ignored.
LogChange decodeLine(std::string_view line, std::string_view where);

}  // namespace LogJournal

}  // namespace linkferry

template <>
struct std::hash<linkferry::LogEntry> {
  std::size_t operator()(const linkferry::LogEntry& entry) const noexcept {
    std::size_t hash = std::hash<linkferry::Uuid>()(entry.id);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(std::hash<linkferry::URL>()(entry.url));
    mix(std::hash<double>()(entry.receivedAt.secondsSince1970));
    mix(static_cast<std::size_t>(entry.status));
    if (entry.target) mix(std::hash<linkferry::BrowserTarget>()(*entry.target));
    if (entry.reason) mix(std::hash<std::string>()(*entry.reason));
    mix(entry.trace.size());
    return hash;
  }
};
