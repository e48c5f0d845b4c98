// Loads arbitrary bytes as a decision log and as one line of its journal. Only the load error may
// be thrown; the log's own reader (whole, and scanned then decoded entry by entry) must agree with
// the generic one, and whatever loads must read
// back equal from the log's own encoding (a journal line: one line) and from the generic JSON
// encoding.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Json.h"
#include "settings/LogEntry.h"
#include "settings/PickerModel.h"

using namespace linkferry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const LogChange change = LogJournal::decodeLine(text, "log.json.journal");
    std::string line;
    LogJournal::appendLine(line, change);
    if (line.find('\n') != line.size() - 1) __builtin_trap();
    line.pop_back();
    if (LogJournal::decodeLine(line, "saved") != change) __builtin_trap();
  } catch (const JsonError&) {
  }
  // The log's own reader and the generic one accept the same texts, read them the same and fail
  // with the same error.
  std::vector<LogEntry> entries;
  std::optional<std::string> error;
  try {
    entries = LogFile::decode(text, "log.json");
  } catch (const JsonError& failure) {
    error = failure.what();
  }
  try {
    if (LogFile::decodeGeneric(text, "log.json") != entries || error) __builtin_trap();
  } catch (const JsonError& failure) {
    if (error != failure.what()) __builtin_trap();
  }
  // What a load keeps (the scanned entries' texts, decoded when asked for) is what the generic
  // reader reads; a text the scan refuses is one the readers above refuse or read generically.
  if (const auto scanned = LogFile::scan(text)) {
    if (error || scanned->size() != entries.size()) __builtin_trap();
    for (std::size_t i = 0; i < scanned->size(); ++i) {
      const LogFile::StoredEntry& stored = (*scanned)[i];
      if (LogFile::decodeEntry(stored.text) != entries[i] || stored.id != entries[i].id ||
          stored.status != entries[i].status || stored.traced == entries[i].trace.empty() ||
          stored.target != entries[i].target ||
          !(stored.receivedAt == entries[i].receivedAt)) {
        __builtin_trap();
      }
    }
  }
  if (error) return 0;
  PickerOrdering::usage(entries);
  // The log's own encoding is always scanned, never left to the generic reader.
  const std::string saved = LogFile::encode(entries);
  if (!LogFile::scan(saved)) __builtin_trap();
  if (LogFile::decode(saved, "saved") != entries) __builtin_trap();
  JsonValue generic = JsonValue::array();
  for (const LogEntry& entry : entries) generic.push_back(entry.toJson());
  if (LogFile::decode(Json::encodeCompact(generic), "generic") != entries) __builtin_trap();
  return 0;
}
