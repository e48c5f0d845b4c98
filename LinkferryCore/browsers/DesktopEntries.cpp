#include "browsers/DesktopEntries.h"

#include <algorithm>
#include <system_error>
#include <unordered_set>

#include "foundation/Files.h"
#include "foundation/Text.h"

namespace linkferry::DesktopEntries {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> variable(const Environment& environment, const char* name) {
  auto found = environment.find(name);
  if (found == environment.end() || found->second.empty()) return std::nullopt;
  return found->second;
}

// The ".desktop" files below `folder` as paths relative to it, sorted.
std::vector<std::string> desktopFiles(const fs::path& folder) {
  std::vector<std::string> files;
  std::error_code error;
  fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied,
                                        error);
  if (error) return files;
  for (auto end = fs::recursive_directory_iterator(); walk != end; walk.increment(error)) {
    if (error) break;
    const fs::path& path = walk->path();
    if (path.extension() != ".desktop") continue;
    std::error_code kindError;
    if (walk->is_directory(kindError)) continue;
    files.push_back(path.lexically_relative(folder).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

const std::set<std::string>& excludedIDs() {
  static const auto& ids = *new std::set<std::string>{kOwnID, "re.sonny.Junction"};
  return ids;
}

std::vector<fs::path> applicationDirectories(const fs::path& home, const Environment& environment) {
  std::vector<fs::path> roots;
  if (auto dataHome = variable(environment, "XDG_DATA_HOME")) {
    roots.emplace_back(*dataHome);
  } else {
    roots.push_back(home / ".local/share");
  }
  const std::string dataDirs =
      variable(environment, "XDG_DATA_DIRS").value_or("/usr/local/share:/usr/share");
  for (std::string_view part : Text::split(dataDirs, ':')) {
    if (!part.empty()) roots.emplace_back(std::string(part));
  }
  roots.push_back(home / ".local/share/flatpak/exports/share");
  roots.emplace_back("/var/lib/flatpak/exports/share");
  roots.emplace_back("/var/lib/snapd/desktop");

  std::vector<fs::path> folders;
  for (const fs::path& root : roots) {
    if (std::find(folders.begin(), folders.end(), root / "applications") == folders.end()) {
      folders.push_back(root / "applications");
    }
  }
  return folders;
}

std::vector<DesktopEntry> load(const std::vector<fs::path>& folders) {
  std::vector<DesktopEntry> entries;
  std::unordered_set<std::string> claimed;
  for (const fs::path& folder : folders) {
    for (const std::string& relative : desktopFiles(folder)) {
      std::string id =
          Text::replacingAll(std::string_view(relative).substr(
                                 0, relative.size() - std::string_view(".desktop").size()),
                             "/", "-");
      if (!claimed.insert(id).second) continue;
      const fs::path path = folder / relative;
      std::optional<std::string> text;
      try {
        text = Files::readIfExists(path, Files::kMegabyte);
      } catch (const std::system_error&) {
        continue;
      }
      if (!text || !Text::isValidUTF8(*text)) continue;
      if (auto entry = DesktopEntry::parse(*text, std::move(id), path.string())) {
        entries.push_back(std::move(*entry));
      }
    }
  }
  return entries;
}

std::vector<DesktopEntry> httpHandlers(const std::vector<DesktopEntry>& entries,
                                       const std::optional<std::string>& excluding) {
  std::vector<DesktopEntry> handlers;
  for (const DesktopEntry& entry : entries) {
    if (!entry.handlesWebLinks() || entry.hidden) continue;
    if (excluding && entry.id == *excluding) continue;
    if (excludedIDs().count(entry.id) != 0) continue;
    handlers.push_back(entry);
  }
  return handlers;
}

std::vector<DesktopEntry> httpHandlers(const fs::path& home, const Environment& environment) {
  return httpHandlers(load(applicationDirectories(home, environment)), std::string(kOwnID));
}

}  // namespace linkferry::DesktopEntries
