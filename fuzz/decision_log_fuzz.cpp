// Loads arbitrary bytes as a decision log and as one line of its journal. Only the load error may
// be thrown; the log's own reader must agree with the generic one, and whatever loads must read
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
  if (error) return 0;
  PickerOrdering::usage(entries);
  if (LogFile::decode(LogFile::encode(entries), "saved") != entries) __builtin_trap();
  JsonValue generic = JsonValue::array();
  for (const LogEntry& entry : entries) generic.push_back(entry.toJson());
  if (LogFile::decode(Json::encodeCompact(generic), "generic") != entries) __builtin_trap();
  return 0;
}
