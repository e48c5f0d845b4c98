#include "browsers/ProfileScanner.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <system_error>
#include <utility>

#include "browsers/INI.h"
#include "browsers/ProfileAvatar.h"
#include "foundation/Files.h"
#include "foundation/Text.h"

namespace linkferry::ProfileScanner {
namespace {

namespace fs = std::filesystem;

// The default limit is generous even for a Preferences file with many extensions; the small
// index files take less.
std::optional<std::string> readFile(const fs::path& path,
                                    std::uint64_t limit = Files::kDefaultReadLimit) {
  try {
    return Files::readIfExists(path, limit);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
}

std::optional<JsonValue> readJson(const fs::path& path,
                                  std::uint64_t limit = Files::kDefaultReadLimit) {
  auto bytes = readFile(path, limit);
  if (!bytes) return std::nullopt;
  return Json::tryParse(*bytes);
}

const JsonValue* member(const JsonValue& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

const std::string* stringMember(const JsonValue& object, const char* key) {
  const JsonValue* value = member(object, key);
  return value && value->is_string() ? value->get_ptr<const std::string*>() : nullptr;
}

std::int64_t chromiumRank(const std::string& key) {
  if (key == "Default") return -1;
  constexpr std::string_view kPrefix = "Profile ";
  if (Text::startsWith(key, kPrefix)) {
    if (auto number = Text::parseInteger(std::string_view(key).substr(kPrefix.size()))) {
      return *number;
    }
  }
  return std::numeric_limits<std::int64_t>::max();
}

bool isFolderName(const std::string& key) {
  return !key.empty() && key != "." && key != ".." && key.find('/') == std::string::npos &&
         key.find('\0') == std::string::npos;
}

bool isPermissionError(const std::error_code& error) {
  return error == std::errc::permission_denied || error == std::errc::operation_not_permitted;
}

// "user-context-work" -> "Work": the l10n identifier of a built-in container made readable.
std::string nameFromL10nID(const std::string& identifier) {
  std::string name = Text::replacingAll(identifier, "user-context-", "");
  auto characters = Text::characters(name);
  if (characters.empty()) return name;
  std::string first = Text::uppercased(characters.front());
  return first + name.substr(characters.front().size());
}

std::optional<std::int64_t> integerValue(const JsonValue& value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(number);
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<BrowserProfile> chromium(const fs::path& userDataDir) {
  auto localState = readJson(userDataDir / "Local State");
  if (!localState) return {};
  const JsonValue* profileSection = member(*localState, "profile");
  const JsonValue* infoCache = profileSection ? member(*profileSection, "info_cache") : nullptr;
  if (!infoCache || !infoCache->is_object()) return {};

  std::vector<std::pair<std::string, const JsonValue*>> entries;
  for (const auto& item : infoCache->items()) {
    if (!isFolderName(item.key())) continue;
    entries.emplace_back(item.key(), &item.value());
  }
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    const auto rankA = chromiumRank(a.first), rankB = chromiumRank(b.first);
    if (rankA != rankB) return rankA < rankB;
    return a.first < b.first;
  });

  std::vector<BrowserProfile> profiles;
  profiles.reserve(entries.size());
  for (const auto& [key, info] : entries) {
    BrowserProfile profile;
    profile.id = key;
    profile.name = key;
    profile.path = userDataDir / key;
    const JsonValue* object = info->is_object() ? info : nullptr;
    if (object) {
      if (const std::string* userName = stringMember(*object, "user_name");
          userName && !userName->empty()) {
        profile.email = *userName;
      }
      if (const std::string* name = stringMember(*object, "name")) profile.name = *name;
      if (const JsonValue* fill = member(*object, "default_avatar_fill_color")) {
        profile.avatarColor = ProfileAvatar::argb(*fill);
      }
      if (!profile.avatarColor) {
        if (const JsonValue* highlight = member(*object, "profile_highlight_color")) {
          profile.avatarColor = ProfileAvatar::argb(*highlight);
        }
      }
      if (const JsonValue* stroke = member(*object, "default_avatar_stroke_color")) {
        profile.avatarTextColor = ProfileAvatar::argb(*stroke);
      }
    }
    profile.googleAccounts = googleAccounts(profile.path, profile.email);
    profile.avatarPath = chromiumPicture(profile.path, object);
    profiles.push_back(std::move(profile));
  }
  return profiles;
}

std::vector<std::string> googleAccounts(const fs::path& profileDir,
                                        const std::optional<std::string>& primary) {
  std::vector<std::string> accounts;
  std::vector<std::string> lowered;
  if (primary) {
    accounts.push_back(*primary);
    lowered.push_back(Text::lowercased(*primary));
  }
  auto preferences = readJson(profileDir / "Preferences");
  if (!preferences) return accounts;
  const JsonValue* accountInfo = member(*preferences, "account_info");
  if (!accountInfo || !accountInfo->is_array()) return accounts;
  for (const JsonValue& account : *accountInfo) {
    const std::string* email = stringMember(account, "email");
    if (!email) continue;
    std::string trimmed(Text::trimmed(*email, Text::TrimSet::spacesAndTabs));
    if (trimmed.find('@') == std::string::npos) continue;
    std::string key = Text::lowercased(trimmed);
    if (std::find(lowered.begin(), lowered.end(), key) != lowered.end()) continue;
    lowered.push_back(std::move(key));
    accounts.push_back(std::move(trimmed));
  }
  return accounts;
}

std::optional<std::string> chromiumPicture(const fs::path& profileDir, const JsonValue* info) {
  std::vector<std::string> candidates;
  if (info) {
    if (const std::string* name = stringMember(*info, "gaia_picture_file_name");
        name && !name->empty()) {
      candidates.push_back(*name);
    }
  }
  candidates.emplace_back("Google Profile Picture.png");
  for (const std::string& candidate : candidates) {
    if (candidate.find('/') != std::string::npos || candidate.find('\0') != std::string::npos) {
      continue;
    }
    const fs::path path = profileDir / candidate;
    if (Files::isReadableRegularFile(path)) return path.string();
  }
  return std::nullopt;
}

std::vector<BrowserProfile> firefox(const fs::path& dataDir) {
  auto text = readFile(dataDir / "profiles.ini", Files::kMegabyte);
  if (!text || !Text::isValidUTF8(*text)) return {};
  std::vector<BrowserProfile> profiles;
  for (const INI::Section& section : INI::parse(*text)) {
    if (!Text::startsWith(section.name, "Profile")) continue;
    auto name = section.values.find("Name");
    auto path = section.values.find("Path");
    if (name == section.values.end() || path == section.values.end()) continue;
    auto isRelative = section.values.find("IsRelative");
    fs::path folder;
    if (isRelative != section.values.end() && isRelative->second == "1") {
      folder = dataDir / path->second;
    } else {
      folder = path->second;
      // A relative path here would be read against whatever folder we run in.
      if (!folder.is_absolute()) continue;
    }
    BrowserProfile profile;
    profile.id = name->second;
    profile.name = name->second;
    profile.path = folder;
    profile.containers = containers(folder);
    profile.avatarColor = ProfileAvatar::stableColor(name->second);
    profiles.push_back(std::move(profile));
  }
  return profiles;
}

std::optional<fs::path> firefoxDefaultProfile(const fs::path& dataDir) {
  auto text = readFile(dataDir / "profiles.ini", Files::kMegabyte);
  if (!text || !Text::isValidUTF8(*text)) return std::nullopt;
  const std::vector<INI::Section> sections = INI::parse(*text);
  // Since Firefox 67 each installation has its own default, recorded as the profile's path.
  std::vector<std::string> installDefaults;
  for (const INI::Section& section : sections) {
    if (!Text::startsWith(section.name, "Install")) continue;
    if (auto found = section.values.find("Default"); found != section.values.end()) {
      installDefaults.push_back(found->second);
    }
  }
  if (installDefaults.size() == 1) {
    const fs::path path = installDefaults.front();
    return path.is_absolute() ? path : dataDir / path;
  }
  for (const INI::Section& section : sections) {
    if (!Text::startsWith(section.name, "Profile")) continue;
    auto isDefault = section.values.find("Default");
    auto path = section.values.find("Path");
    if (isDefault == section.values.end() || isDefault->second != "1" ||
        path == section.values.end()) {
      continue;
    }
    auto isRelative = section.values.find("IsRelative");
    if (isRelative != section.values.end() && isRelative->second == "1") {
      return dataDir / path->second;
    }
    return fs::path(path->second);
  }
  return std::nullopt;
}

std::vector<FirefoxContainer> containers(const fs::path& profileDir) {
  auto document = readJson(profileDir / "containers.json", 4 * Files::kMegabyte);
  if (!document) return {};
  const JsonValue* identities = member(*document, "identities");
  if (!identities || !identities->is_array()) return {};
  if (!std::all_of(identities->begin(), identities->end(),
                   [](const JsonValue& identity) { return identity.is_object(); })) {
    return {};
  }
  std::vector<FirefoxContainer> result;
  for (const JsonValue& identity : *identities) {
    if (const JsonValue* isPublic = member(identity, "public");
        isPublic && isPublic->is_boolean() && !isPublic->get<bool>()) {
      continue;
    }
    const JsonValue* contextID = member(identity, "userContextId");
    std::optional<std::int64_t> number = contextID ? integerValue(*contextID) : std::nullopt;
    if (!number) continue;
    FirefoxContainer container;
    container.id = std::to_string(*number);
    if (const std::string* name = stringMember(identity, "name")) {
      container.name = *name;
    } else if (const std::string* l10n = stringMember(identity, "l10nID")) {
      container.name = nameFromL10nID(*l10n);
    } else if (const std::string* l10nLower = stringMember(identity, "l10nId")) {
      // Current Firefox spells the key with a lower-case "d"; its built-in containers carry
      // only this key.
      container.name = nameFromL10nID(*l10nLower);
    } else {
      container.name = "Container " + container.id;
    }
    if (const std::string* color = stringMember(identity, "color"); color && !color->empty()) {
      container.color = *color;
    }
    result.push_back(std::move(container));
  }
  return result;
}

bool isDataBlocked(const BrowserDefinition& definition) {
  if (!definition.dataDir) return false;
  const char* indexFile = nullptr;
  switch (definition.family) {
    case BrowserFamily::chromium:
      indexFile = "Local State";
      break;
    case BrowserFamily::firefox:
      indexFile = "profiles.ini";
      break;
    case BrowserFamily::safari:
    case BrowserFamily::other:
      return false;
  }
  const fs::path path = fs::path(*definition.dataDir) / indexFile;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error) return isPermissionError(error);
  if (!fs::exists(status)) return false;
  try {
    Files::read(path);
    return false;
  } catch (const std::system_error& failure) {
    return isPermissionError(failure.code());
  }
}

}  // namespace linkferry::ProfileScanner
