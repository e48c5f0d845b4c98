#include "browsers/BrowserCatalog.h"

#include <algorithm>
#include <map>
#include <system_error>
#include <utility>

#include "browsers/KnownBrowsers.h"
#include "browsers/KnownLinuxBrowsers.h"
#include "browsers/ProcessInspector.h"
#include "browsers/ProfileScanner.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Text.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;

// "/Applications/Google Chrome.app" -> "Google Chrome".
std::string applicationName(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return fs::path(path).stem().string();
}

std::vector<BrowserProfile> discoverProfiles(const BrowserDefinition& definition) {
  if (!definition.dataDir) return {};
  switch (definition.family) {
    case BrowserFamily::chromium:
      return ProfileScanner::chromium(*definition.dataDir);
    case BrowserFamily::firefox:
      return ProfileScanner::firefox(*definition.dataDir);
    case BrowserFamily::safari:
    case BrowserFamily::other:
      return {};
  }
  return {};
}

bool isExecutableFile(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::is_regular_file(status)) return false;
  constexpr auto anyExecute =
      fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  return (status.permissions() & anyExecute) != fs::perms::none;
}

}  // namespace

std::vector<BrowserTarget> CatalogBrowser::targets() const {
  std::vector<BrowserTarget> result;
  if (profiles.empty()) {
    result.push_back(BrowserTarget{definition.id, std::nullopt, std::nullopt, false});
    return result;
  }
  result.reserve(profiles.size());
  for (const BrowserProfile& profile : profiles) {
    result.push_back(BrowserTarget{definition.id, profile.id, std::nullopt, false});
  }
  return result;
}

BrowserCatalog BrowserCatalog::discover(const std::vector<InstalledApp>& installed,
                                        const std::vector<BrowserDefinition>& custom,
                                        const fs::path& appSupport) {
  std::vector<BrowserDefinition> definitions;
  definitions.reserve(installed.size());
  for (const InstalledApp& app : installed) {
    BrowserDefinition definition;
    definition.id = app.bundleID;
    definition.appPath = app.path;
    if (const KnownBrowsers::Entry* known = KnownBrowsers::entry(app.bundleID)) {
      definition.name = known->name;
      definition.family = known->family;
      if (known->dataDir) definition.dataDir = (appSupport / *known->dataDir).string();
    } else {
      definition.name = applicationName(app.path);
      definition.family = BrowserFamily::other;
    }
    definitions.push_back(std::move(definition));
  }
  return withDefinitions(std::move(definitions), custom);
}

BrowserCatalog BrowserCatalog::discover(const std::vector<DesktopEntry>& desktopEntries,
                                        const std::vector<BrowserDefinition>& custom,
                                        const fs::path& home,
                                        const std::optional<std::string>& searchPath,
                                        const DesktopExec::ExecutablePredicate& isExecutable) {
  std::vector<BrowserDefinition> definitions;
  definitions.reserve(desktopEntries.size());
  for (const DesktopEntry& entry : desktopEntries) {
    if (entry.exec.empty()) continue;  // parse never yields one; a hand-made entry might
    BrowserDefinition definition;
    definition.id = entry.id;
    definition.appPath = DesktopExec::resolve(entry.exec.front(), searchPath, isExecutable);
    definition.launchArguments.assign(entry.exec.begin() + 1, entry.exec.end());
    if (const KnownLinuxBrowsers::Entry* known = KnownLinuxBrowsers::entry(entry.id)) {
      definition.name = known->name;
      definition.family = known->family;
      definition.dataDir = KnownLinuxBrowsers::dataDir(*known, home);
    } else {
      definition.name = entry.name;
      definition.family = BrowserFamily::other;
    }
    definitions.push_back(std::move(definition));
  }
  // Two builds of one known browser (Firefox and Firefox ESR, a package and a Flatpak) would
  // both carry the table's name; their desktop entries tell them apart.
  std::map<std::string, int> nameCount;
  for (const BrowserDefinition& definition : definitions) ++nameCount[definition.name];
  std::size_t index = 0;
  for (const DesktopEntry& entry : desktopEntries) {
    if (entry.exec.empty()) continue;
    BrowserDefinition& definition = definitions[index++];
    if (nameCount[definition.name] > 1 && !entry.name.empty()) definition.name = entry.name;
  }
  return withDefinitions(std::move(definitions), custom);
}

BrowserCatalog BrowserCatalog::discoverLinux(const fs::path& home,
                                             const DesktopEntries::Environment& environment,
                                             const std::vector<BrowserDefinition>& custom) {
  std::optional<std::string> searchPath;
  if (auto path = environment.find("PATH"); path != environment.end()) searchPath = path->second;
  return discover(DesktopEntries::httpHandlers(home, environment), custom, home, searchPath,
                  isExecutableFile);
}

BrowserCatalog BrowserCatalog::withDefinitions(std::vector<BrowserDefinition> discovered,
                                               const std::vector<BrowserDefinition>& custom) {
  for (const BrowserDefinition& definition : custom) {
    auto same =
        std::find_if(discovered.begin(), discovered.end(),
                     [&](const BrowserDefinition& other) { return other.id == definition.id; });
    if (same != discovered.end()) {
      *same = definition;
    } else {
      discovered.push_back(definition);
    }
  }
  BrowserCatalog catalog;
  catalog.browsers.reserve(discovered.size());
  for (BrowserDefinition& definition : discovered) {
    CatalogBrowser browser;
    browser.profiles = discoverProfiles(definition);
    browser.dataBlocked = browser.profiles.empty() && ProfileScanner::isDataBlocked(definition);
    browser.definition = std::move(definition);
    catalog.browsers.push_back(std::move(browser));
  }
  return catalog;
}

std::vector<BrowserDefinition> BrowserCatalog::loadCustomDefinitions(const fs::path& file) {
  std::optional<std::string> text = Files::readIfExists(file, 4 * Files::kMegabyte);
  if (!text) return {};
  const JsonValue document = Json::parse(*text, file.string());
  const JsonReader root(document, file.string());
  if (!root.isArray())
    root.fail("expected an array of browser definitions, got " + Json::typeName(document));
  std::vector<BrowserDefinition> definitions;
  for (const JsonReader& element : root.elements()) {
    definitions.push_back(BrowserDefinition::fromJson(element));
  }
  return definitions;
}

const CatalogBrowser* BrowserCatalog::browser(std::string_view id) const {
  for (const CatalogBrowser& candidate : browsers) {
    if (candidate.definition.id == id) return &candidate;
  }
  return nullptr;
}

namespace {

std::string inQuotes(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// The first tier with any match, in catalog order: tiers are tried from the most exact on.
template <typename Item, typename Tier>
std::vector<const Item*> firstTier(const std::vector<const Item*>& items,
                                   const std::vector<Tier>& tiers) {
  for (const Tier& fits : tiers) {
    std::vector<const Item*> found;
    for (const Item* item : items) {
      if (fits(*item)) found.push_back(item);
    }
    if (!found.empty()) return found;
  }
  return {};
}

// `what "written" is "id"`, or nothing when the name is the identifier itself.
void noteRenamed(TargetResolution& resolution, std::string_view what, const std::string& written,
                 const std::string& id) {
  if (written != id) resolution.renamed.push_back(std::string(what) + " " + inQuotes(written) +
                                                  " is " + inQuotes(id));
}

void noteAmbiguous(TargetResolution& resolution, std::string_view what, const std::string& written,
                   const std::vector<std::string>& ids) {
  if (ids.size() < 2) return;
  std::string list;
  for (const std::string& id : ids) list += (list.empty() ? "" : ", ") + inQuotes(id);
  resolution.ambiguous.push_back(std::string(what) + " name " + inQuotes(written) + " fits " +
                                 list + ": " + inQuotes(ids.front()) + " is used");
}

}  // namespace

TargetResolution BrowserCatalog::resolve(const BrowserTarget& written) const {
  TargetResolution resolution{written};
  BrowserTarget& target = resolution.target;
  if (written.browser.empty()) return resolution;
  // Most targets name identifiers (every rule the picker writes does): no name is looked at.
  if (const CatalogBrowser* exact = browser(written.browser)) {
    const BrowserProfile* exactProfile = nullptr;
    bool profileFound = !written.profile;
    for (const BrowserProfile& candidate : exact->profiles) {
      if (written.profile && candidate.id == *written.profile) {
        exactProfile = &candidate;
        profileFound = true;
        break;
      }
    }
    bool containerFound = !written.container;
    for (const BrowserProfile& candidate : exact->profiles) {
      if (containerFound || (exactProfile && exactProfile != &candidate)) continue;
      containerFound = std::any_of(
          candidate.containers.begin(), candidate.containers.end(),
          [&](const FirefoxContainer& container) { return container.id == *written.container; });
    }
    if (profileFound && containerFound) return resolution;
  }

  using BrowserTier = std::function<bool(const CatalogBrowser&)>;
  const std::string browserKey = Text::lowercased(written.browser);
  std::vector<const CatalogBrowser*> allBrowsers;
  for (const CatalogBrowser& candidate : browsers) allBrowsers.push_back(&candidate);
  const std::vector<const CatalogBrowser*> browserMatches = firstTier<CatalogBrowser, BrowserTier>(
      allBrowsers,
      {[&](const CatalogBrowser& b) { return b.definition.id == written.browser; },
       [&](const CatalogBrowser& b) { return Text::lowercased(b.definition.id) == browserKey; },
       [&](const CatalogBrowser& b) {
         if (Text::lowercased(b.definition.name) == browserKey) return true;
         const std::vector<std::string> names = KnownLinuxBrowsers::commonNames(b.definition.id);
         return std::find(names.begin(), names.end(), browserKey) != names.end();
       }});
  if (browserMatches.empty()) return resolution;
  const CatalogBrowser& browser = *browserMatches.front();
  target.browser = browser.definition.id;
  noteRenamed(resolution, "browser", written.browser, target.browser);
  std::vector<std::string> browserIDs;
  for (const CatalogBrowser* match : browserMatches) browserIDs.push_back(match->definition.id);
  noteAmbiguous(resolution, "browser", written.browser, browserIDs);

  std::vector<const BrowserProfile*> profiles;
  for (const BrowserProfile& candidate : browser.profiles) profiles.push_back(&candidate);
  const BrowserProfile* profile = nullptr;
  if (written.profile) {
    using ProfileTier = std::function<bool(const BrowserProfile&)>;
    const std::string key = Text::lowercased(*written.profile);
    const std::vector<const BrowserProfile*> matches = firstTier<BrowserProfile, ProfileTier>(
        profiles,
        {[&](const BrowserProfile& p) { return p.id == *written.profile; },
         [&](const BrowserProfile& p) { return Text::lowercased(p.id) == key; },
         [&](const BrowserProfile& p) { return Text::lowercased(p.name) == key; },
         [&](const BrowserProfile& p) {
           return Text::lowercased(p.path.filename().string()) == key;
         }});
    if (!matches.empty()) {
      profile = matches.front();
      target.profile = profile->id;
      noteRenamed(resolution, "profile", *written.profile, profile->id);
      std::vector<std::string> ids;
      for (const BrowserProfile* match : matches) ids.push_back(match->id);
      noteAmbiguous(resolution, "profile", *written.profile, ids);
    }
  }

  if (written.container && (profile || !written.profile)) {
    // Containers of the named profile, or of every profile when none is named; one id held by
    // several profiles is one container.
    std::vector<const FirefoxContainer*> containers;
    for (const BrowserProfile* holder : profile ? std::vector{profile} : profiles) {
      for (const FirefoxContainer& container : holder->containers) containers.push_back(&container);
    }
    using ContainerTier = std::function<bool(const FirefoxContainer&)>;
    const std::string key = Text::lowercased(*written.container);
    const std::vector<const FirefoxContainer*> matches = firstTier<FirefoxContainer, ContainerTier>(
        containers, {[&](const FirefoxContainer& c) { return c.id == *written.container; },
                     [&](const FirefoxContainer& c) { return Text::lowercased(c.name) == key; }});
    if (!matches.empty()) {
      target.container = matches.front()->id;
      noteRenamed(resolution, "container", *written.container, *target.container);
      std::vector<std::string> ids;
      for (const FirefoxContainer* match : matches) {
        if (std::find(ids.begin(), ids.end(), match->id) == ids.end()) ids.push_back(match->id);
      }
      noteAmbiguous(resolution, "container", *written.container, ids);
    }
  }
  return resolution;
}

std::vector<BrowserTarget> BrowserCatalog::allTargets() const {
  std::vector<BrowserTarget> targets;
  for (const CatalogBrowser& candidate : browsers) {
    std::vector<BrowserTarget> own = candidate.targets();
    targets.insert(targets.end(), std::make_move_iterator(own.begin()),
                   std::make_move_iterator(own.end()));
  }
  return targets;
}

const BrowserProfile* BrowserCatalog::profile(const BrowserTarget& target) const {
  if (!target.profile) return nullptr;
  const CatalogBrowser* owner = browser(target.browser);
  if (!owner) return nullptr;
  for (const BrowserProfile& candidate : owner->profiles) {
    if (candidate.id == *target.profile) return &candidate;
  }
  return nullptr;
}

std::optional<ProfileAvatar> BrowserCatalog::avatar(const BrowserTarget& target) const {
  const BrowserProfile* found = profile(target);
  if (!found) return std::nullopt;
  if (target.container) {
    for (const FirefoxContainer& container : found->containers) {
      if (container.id != *target.container) continue;
      std::optional<std::uint32_t> fill;
      if (container.color) fill = ProfileAvatar::firefoxColor(*container.color);
      return ProfileAvatar{ProfileAvatar::initialOf(container.name),
                           fill.value_or(ProfileAvatar::stableColor(container.name)),
                           ProfileAvatar::white, std::nullopt};
    }
  }
  return ProfileAvatar{ProfileAvatar::initialOf(found->name),
                       found->avatarColor.value_or(ProfileAvatar::stableColor(found->name)),
                       found->avatarTextColor.value_or(ProfileAvatar::white), found->avatarPath};
}

std::vector<CatalogBrowser> BrowserCatalog::blockedBrowsers() const {
  std::vector<CatalogBrowser> blocked;
  std::copy_if(browsers.begin(), browsers.end(), std::back_inserter(blocked),
               [](const CatalogBrowser& candidate) { return candidate.dataBlocked; });
  return blocked;
}

std::optional<std::string> BrowserCatalog::browserID(
    const std::string& bundleID, const std::optional<std::string>& userDataDir) const {
  if (userDataDir) {
    const std::string wanted = ProcessInspector::expand(*userDataDir);
    for (const CatalogBrowser& candidate : browsers) {
      const BrowserDefinition& definition = candidate.definition;
      if (!definition.explicitUserDataDir || !definition.dataDir) continue;
      if (ProcessInspector::expand(*definition.dataDir) == wanted) return definition.id;
    }
  }
  if (const CatalogBrowser* found = browser(bundleID)) return found->definition.id;
  return std::nullopt;
}

}  // namespace linkferry
