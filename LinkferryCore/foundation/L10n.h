#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Text shown to the user. The English text is the key; a translation comes from the string table
// compiled in from resources/strings/<language>.json (a JSON object of key → text), chosen by the
// user's locale. A missing table or key gives the key itself. Safe from any thread.
namespace linkferry::L10n {

using Argument = std::variant<std::string, std::int64_t>;

std::string tr(std::string_view key);
// Fills "%@" with text arguments and "%lld" with integer arguments, in order, integers written in
// the locale's digits. "%%" is a percent sign. Missing arguments leave the specifier as written.
std::string tr(std::string_view key, const std::vector<Argument>& arguments);

}  // namespace linkferry::L10n
