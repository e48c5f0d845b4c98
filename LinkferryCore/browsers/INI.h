#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// The small INI dialect of Firefox's profiles.ini and installs.ini.
namespace linkferry::INI {

struct Section {
  // The text between the brackets, as written.
  std::string name;
  // Keys and values exactly as written around the first "=" (not trimmed); a later line with
  // the same key replaces an earlier one.
  std::map<std::string, std::string> values;

  bool operator==(const Section&) const = default;
};

// The sections in file order. Lines end at LF, VT, FF, CR, NEL, LS or PS; lines are trimmed of
// spaces and tabs; empty lines and comments (";" or "#") are skipped; "[name]" starts a section;
// "key=value" sets a value of the current section. Lines before the first section and lines
// without "=" are ignored. Never fails: any text (even invalid UTF-8) gives some list.
std::vector<Section> parse(std::string_view text);

}  // namespace linkferry::INI
