#include "launching/LinuxHelperPolicy.h"

#include <algorithm>

#include "browsers/DesktopEntries.h"
#include "launching/LaunchCommand.h"

namespace linkferry::LinuxHelperPolicy {

namespace {

using HelperPolicy::Rejection;

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Linux browsers keep their data under the home folder (~/.config, ~/.var/app, ~/snap), so a
// separate instance's folder is accepted anywhere strictly below it.
void checkLinuxFlag(const std::string& flag, const std::string* next,
                    const std::filesystem::path& home) {
  constexpr std::string_view key = "--user-data-dir=";
  if (!startsWith(flag, key)) {
    HelperPolicy::checkFlag(flag, next, home);
    return;
  }
  const std::string path = HelperPolicy::standardizePath(flag.substr(key.size()), home);
  std::string root = HelperPolicy::standardizePath(home.string(), home);
  if (root != "/") root += "/";
  if (!startsWith(path, root) || path.size() == root.size() ||
      path.find("..") != std::string::npos || !startsWith(home.string(), "/")) {
    throw Rejection::arguments(flag);
  }
}

void validateGtkLaunch(const std::vector<std::string>& arguments, const Installed& installed) {
  if (arguments.empty() || arguments[0] != LaunchCommand::kGtkLaunch) {
    throw Rejection::arguments(arguments.empty() ? std::string() : arguments[0]);
  }
  if (arguments.size() < 2) throw Rejection::app("");
  const std::string& id = arguments[1];
  if (startsWith(id, "-") || !installed.desktopIDs.contains(id)) throw Rejection::app(id);
  if (arguments.size() >= 3) HelperPolicy::checkLink(arguments[2], true);
  if (arguments.size() >= 4) throw Rejection::arguments(arguments[3]);
}

// The flags and link after a browser's own Exec arguments, walked like the macOS "--args".
void validateBrowserTail(const std::vector<std::string>& arguments, std::size_t index,
                         const std::filesystem::path& home) {
  while (index < arguments.size()) {
    const std::string& current = arguments[index];
    const bool last = index + 1 == arguments.size();
    if (last && !startsWith(current, "-")) {
      HelperPolicy::checkLink(current, false);
      return;
    }
    checkLinuxFlag(current, last ? nullptr : &arguments[index + 1], home);
    index += current == "-P" ? 2 : 1;
  }
}

void validateBrowser(const LaunchPlan& plan, const Installed& installed,
                     const std::filesystem::path& home) {
  std::vector<const InstalledBrowser*> candidates;
  for (const auto& browser : installed.browsers) {
    if (browser.program == plan.executable) candidates.push_back(&browser);
  }
  if (candidates.empty()) {
    if (installed.otherPrograms.contains(plan.executable)) throw Rejection::app(plan.executable);
    throw Rejection::executable();
  }
  std::optional<Rejection> first;
  for (const InstalledBrowser* browser : candidates) {
    try {
      const auto& own = browser->arguments;
      for (std::size_t i = 0; i < own.size(); ++i) {
        if (i >= plan.arguments.size()) throw Rejection::arguments("");
        if (plan.arguments[i] != own[i]) throw Rejection::arguments(plan.arguments[i]);
      }
      validateBrowserTail(plan.arguments, own.size(), home);
      return;
    } catch (const Rejection& rejection) {
      if (!first) first = rejection;
    }
  }
  throw *first;
}

void validateOne(const LaunchPlan& plan, const Installed& installed,
                 const std::filesystem::path& home) {
  if (plan.executable == LaunchCommand::kEnvExecutable) {
    validateGtkLaunch(plan.arguments, installed);
  } else if (!startsWith(plan.executable, "/")) {
    // A bare name would be looked up on a search path at run time, which may hold "." or a
    // folder the sender controls.
    throw Rejection::executable();
  } else {
    validateBrowser(plan, installed, home);
  }
  for (const LaunchPlan& fallback : plan.fallbacks) validateOne(fallback, installed, home);
}

}  // namespace

Installed installed(const std::vector<DesktopEntry>& entries,
                    const std::optional<std::string>& searchPath,
                    const DesktopExec::ExecutablePredicate& isExecutable) {
  Installed result;
  const auto& excluded = DesktopEntries::excludedIDs();
  const auto browsers = DesktopEntries::httpHandlers(entries, std::string(DesktopEntries::kOwnID));
  for (const auto& entry : entries) {
    if (entry.exec.empty()) continue;
    if (!excluded.contains(entry.id) && entry.id != DesktopEntries::kOwnID) {
      result.desktopIDs.insert(entry.id);
    }
    const std::string program = DesktopExec::resolve(entry.exec[0], searchPath, isExecutable);
    const bool isBrowser = std::any_of(browsers.begin(), browsers.end(),
                                       [&](const DesktopEntry& b) { return b.id == entry.id; });
    if (isBrowser) {
      result.browsers.push_back(
          {entry.id, program, std::vector<std::string>(entry.exec.begin() + 1, entry.exec.end())});
    } else {
      result.otherPrograms.insert(program);
    }
  }
  return result;
}

void validate(const LaunchPlan& plan, const Installed& installed,
              const std::filesystem::path& home) {
  validateOne(plan, installed, home);
}

}  // namespace linkferry::LinuxHelperPolicy
