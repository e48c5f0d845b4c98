#include "foundation/L10n.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include <unicode/numfmt.h>
#include <unicode/unistr.h>

#include "foundation/Json.h"
#include "foundation/Resources.h"

namespace linkferry::L10n {
namespace {

// "de_DE.UTF-8@euro" → "de_DE"; empty, "C" and "POSIX" mean English.
std::string localeName() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (!value || !*value) continue;
    std::string name = value;
    name = name.substr(0, name.find_first_of(".@"));
    if (name == "C" || name == "POSIX") return "en";
    return name;
  }
  return "en";
}

struct Table {
  std::string locale;
  std::map<std::string, std::string, std::less<>> strings;
  std::mutex formatterMutex;
  std::unique_ptr<icu::NumberFormat> formatter;
};

std::optional<JsonValue> tableFor(const std::string& name) {
  std::optional<std::string_view> bytes = Resources::find("strings/" + name + ".json");
  if (!bytes) return std::nullopt;
  std::optional<JsonValue> json = Json::tryParse(*bytes);
  if (!json || !json->is_object()) return std::nullopt;
  return json;
}

// Built once; never destroyed, because detached threads may still look texts up at exit.
Table& table() {
  static Table& table = *[] {
    auto* table = new Table();
    table->locale = localeName();
    std::optional<JsonValue> json = tableFor(table->locale);
    if (!json) json = tableFor(table->locale.substr(0, table->locale.find('_')));
    if (json) {
      for (const auto& [key, value] : json->items()) {
        if (value.is_string()) table->strings.emplace(key, value.get<std::string>());
      }
    }
    UErrorCode status = U_ZERO_ERROR;
    table->formatter.reset(icu::NumberFormat::createInstance(icu::Locale(table->locale.c_str()), status));
    if (U_FAILURE(status)) table->formatter.reset();
    if (table->formatter) table->formatter->setGroupingUsed(false);
    return table;
  }();
  return table;
}

std::string formatInteger(std::int64_t value) {
  Table& strings = table();
  std::lock_guard lock(strings.formatterMutex);
  if (!strings.formatter) return std::to_string(value);
  icu::UnicodeString text;
  strings.formatter->format(static_cast<int64_t>(value), text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace

std::string tr(std::string_view key) {
  const Table& strings = table();
  auto found = strings.strings.find(key);
  return found != strings.strings.end() ? found->second : std::string(key);
}

std::string tr(std::string_view key, const std::vector<Argument>& arguments) {
  std::string format = tr(key);
  std::string out;
  out.reserve(format.size() + 16 * arguments.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    std::string_view rest = std::string_view(format).substr(i + 1);
    if (rest.starts_with("%")) {
      out += '%';
      i += 1;
    } else if (rest.starts_with("@") && next < arguments.size()) {
      const Argument& argument = arguments[next++];
      out += std::holds_alternative<std::string>(argument)
                 ? std::get<std::string>(argument)
                 : formatInteger(std::get<std::int64_t>(argument));
      i += 1;
    } else if (rest.starts_with("lld") && next < arguments.size()) {
      const Argument& argument = arguments[next++];
      out += std::holds_alternative<std::int64_t>(argument)
                 ? formatInteger(std::get<std::int64_t>(argument))
                 : std::get<std::string>(argument);
      i += 3;
    } else {
      out += '%';
    }
  }
  return out;
}

}  // namespace linkferry::L10n
