#include "DesktopDoctor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <limits>
#include <system_error>

#include "MimeAppsList.h"
#include "ServiceClient.h"
#include "browsers/BrowserCatalog.h"
#include "browsers/DesktopEntry.h"
#include "browsers/INI.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Text.h"
#include "router/RouterSetup.h"
#include "rules/RuleSet.h"
#include "rules/RuleSetCheck.h"
#include "settings/AppSettings.h"
#include "settings/DecisionLog.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::DesktopDoctor {

namespace fs = std::filesystem;
using namespace DesktopIntegration;

namespace {

std::string reasonOf(int error) {
  return std::generic_category().message(error);
}

Check good(std::string name, std::string message) {
  return Check{.name = std::move(name), .ok = true, .message = std::move(message), .fix = {}};
}

Check problem(std::string name, std::string message, std::string fix) {
  return Check{
      .name = std::move(name), .ok = false, .message = std::move(message), .fix = std::move(fix)};
}

// The problem of one of the log's files, where there is one: `read` as the log reads it (a regular
// file within the log's size limit), `write` as it appends to it or locks it (a regular file, no
// symbolic link, open for writing). Nothing for a missing file: the log creates it.
std::optional<Check> logFileProblem(const fs::path& file, bool read, bool write) {
  const std::string moveAside = "move it aside and LinkFerry starts it anew: mv '" + file.string() +
                                "' '" + file.string() + ".aside'";
  const std::string makeWritable = "make it readable and writable: chmod u+rw " + file.string();
  if (read) {
    try {
      // Read from the end on: everything the log checks before reading, nothing read.
      (void)Files::readTailIfExists(file, std::numeric_limits<std::uint64_t>::max(),
                                    DecisionLog::kFileLimit);
    } catch (const std::system_error& error) {
      const bool denied = error.code() == std::errc::permission_denied ||
                          error.code() == std::errc::operation_not_permitted;
      return problem("log", error.what(), denied ? makeWritable : moveAside);
    }
  }
  if (!write) return std::nullopt;
  struct stat status {};
  if (::lstat(file.c_str(), &status) != 0) {
    const int error = errno;
    if (error == ENOENT) return std::nullopt;
    return problem("log", "cannot write " + file.string() + ": " + reasonOf(error), makeWritable);
  }
  if (!S_ISREG(status.st_mode)) {
    return problem("log", "cannot write " + file.string() + ": not a regular file", moveAside);
  }
  const int fd = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    return problem("log", "cannot write " + file.string() + ": " + reasonOf(error), makeWritable);
  }
  ::close(fd);
  return std::nullopt;
}

// The desktop entry and the program it runs.
void checkDesktopEntry(const Setup& setup, std::vector<Check>& checks) {
  const fs::path file = setup.desktopFile();
  std::optional<std::string> text;
  try {
    text = Files::readIfExists(file);
  } catch (const std::system_error& error) {
    checks.push_back(problem("desktop entry", error.what(), "make the file readable"));
    return;
  }
  if (!text) {
    checks.push_back(
        problem("desktop entry", "there is no " + file.string(), "run `linkferry install`"));
    return;
  }
  const auto entry = DesktopEntry::parse(*text, "linkferry", file.string());
  std::optional<std::string> invalid;
  if (auto validation = runTool(setup, "desktop-file-validate", {file.string()})) {
    if (validation->exitStatus != 0 || Text::contains(validation->standardOutput, "error:")) {
      invalid = toolOutput(*validation);
    }
  }
  if (!entry || invalid) {
    checks.push_back(problem("desktop entry",
                             file.string() + " is not a valid desktop entry" +
                                 (invalid ? ": " + *invalid : std::string()),
                             "run `linkferry install` to write it again"));
    return;
  }
  std::string missing;
  for (const std::string& type : claimedTypes()) {
    if (std::find(entry->mimeTypes.begin(), entry->mimeTypes.end(), type) ==
        entry->mimeTypes.end()) {
      missing += (missing.empty() ? "" : ", ") + type;
    }
  }
  if (!missing.empty()) {
    checks.push_back(problem("desktop entry", file.string() + " does not declare " + missing,
                             "run `linkferry install` to write it again"));
  } else {
    checks.push_back(good("desktop entry", file.string() + " is valid"));
  }

  const std::string& program = entry->exec.front();
  const std::vector<std::string> expected = clickCommand(setup.program);
  const bool runsExpected = entry->exec.size() >= expected.size() &&
                            std::equal(expected.begin(), expected.end(), entry->exec.begin());
  if (::access(program.c_str(), X_OK) != 0) {
    checks.push_back(
        problem("program",
                file.string() + " runs " + program + ", which does not exist or is not executable",
                "run `" + setup.program.string() + " install` to point it here"));
  } else if (!runsExpected) {
    checks.push_back(problem("program",
                             file.string() + " runs " + Text::join(entry->exec, " ") + ", not " +
                                 Text::join(expected, " "),
                             "run `" + setup.program.string() + " install` to point it here"));
  } else {
    checks.push_back(good("program", "links go to " + Text::join(expected, " ")));
  }
}

// The defaults for web links and local pages one desktop reads.
void checkDesktopDefaults(const Setup& setup, const std::string& desktop, const std::string& name,
                          std::vector<Check>& checks) {
  const std::string check = "default for " + name;
  const fs::path userList = MimeAppsList::userList(setup.home, setup.environment);
  for (const std::string& key : claimedTypes()) {
    const auto found = MimeAppsList::effectiveDefault(setup.home, setup.environment, desktop, key);
    if (!found) {
      checks.push_back(problem(check, "no mimeapps.list names a default for " + key,
                               "run `linkferry install`"));
      return;
    }
    if (namesLinkFerry(found->value)) continue;
    const bool ownFile = found->file.parent_path() == setup.configFolder();
    const std::string fix = ownFile && found->file != userList
                                ? "remove the line \"" + key + "=" + found->value +
                                      "\" from " + found->file.string()
                                : "run `linkferry install`";
    checks.push_back(problem(
        check, found->file.string() + " makes " + found->value + " the default for " + key, fix));
    return;
  }
  checks.push_back(good(check, "http and https links and local web pages go to " +
                                   std::string(kDesktopFileName)));
}

// A value of an INI-style file of the user's configuration folder, when set.
std::optional<std::string> configValue(const fs::path& file, const std::string& group,
                                       const std::string& key) {
  std::optional<std::string> text;
  try {
    text = Files::readIfExists(file);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  if (!text) return std::nullopt;
  // Keys before any group (helpers.rc has no group) are read as the group named "".
  for (const INI::Section& section : INI::parse("[]\n" + *text)) {
    if (section.name != group) continue;
    if (auto found = section.values.find(key); found != section.values.end()) {
      return std::string(Text::trimmed(found->second));
    }
  }
  return std::nullopt;
}

void checkDesktopSettings(const Setup& setup, std::vector<Check>& checks) {
  const fs::path kdeglobals = setup.configFolder() / "kdeglobals";
  if (auto browser = configValue(kdeglobals, "General", "BrowserApplication");
      browser && !browser->empty() && *browser != kDesktopFileName) {
    checks.push_back(problem("default for KDE",
                             kdeglobals.string() + " sets BrowserApplication=" + *browser,
                             "run `kwriteconfig5 --file kdeglobals --group General --key "
                             "BrowserApplication linkferry.desktop`"));
  }
  const fs::path helpers = setup.configFolder() / "xfce4" / "helpers.rc";
  if (auto browser = configValue(helpers, "", "WebBrowser");
      browser && !browser->empty() && *browser != "linkferry") {
    checks.push_back(problem("default for Xfce", helpers.string() + " sets WebBrowser=" + *browser,
                             "set WebBrowser=linkferry in " + helpers.string()));
  }
  auto current = runTool(setup, "xdg-settings", {"get", "default-web-browser"});
  if (!current) {
    checks.push_back(
        problem("xdg-settings", "xdg-settings is not installed", "install the package xdg-utils"));
  } else if (std::string value(Text::trimmed(current->standardOutput));
             current->exitStatus != 0 || value != kDesktopFileName) {
    checks.push_back(problem(
        "xdg-settings",
        "xdg-settings names " + (value.empty() ? toolOutput(*current) : value) +
            " as the default web browser",
        "run `xdg-settings set default-web-browser linkferry.desktop` or `linkferry install`"));
  } else {
    checks.push_back(good("xdg-settings", "the default web browser is linkferry.desktop"));
  }
}

void checkDataFolder(const Setup& setup, std::vector<Check>& checks) {
  const LinkferryPaths paths(setup.dataFolder);
  std::error_code error;
  if (!fs::exists(paths.root, error) && !error) {
    checks.push_back(
        good("data folder", paths.root.string() + " does not exist yet; built-in defaults apply"));
    return;
  }
  fs::directory_iterator listing(paths.root, error);
  if (error || ::access(paths.root.c_str(), R_OK | X_OK) != 0) {
    checks.push_back(problem(
        "data folder",
        "cannot read " + paths.root.string() + (error ? ": " + error.message() : std::string()),
        "make it readable: chmod u+rwx " + paths.root.string()));
    return;
  }
  checks.push_back(good("data folder", paths.root.string() + " is readable"));

  try {
    const RuleSet rules = RuleSet::load(paths.rules());
    checks.push_back(good("rules", paths.rules().string() + ": " +
                                       std::to_string(rules.rules.size()) + " rules load"));
  } catch (const std::exception& failure) {
    checks.push_back(problem("rules", failure.what(),
                             "correct the file; `linkferry rules check` lists every problem"));
  }
  try {
    const auto browsers = BrowserCatalog::loadCustomDefinitions(paths.customBrowsers());
    checks.push_back(
        good("browsers", std::to_string(browsers.size()) + " custom browser definitions load"));
  } catch (const std::exception& failure) {
    checks.push_back(problem("browsers", failure.what(), "correct or remove the file"));
  }
  try {
    AppSettings::load(paths.settings());
    checks.push_back(good("settings", paths.settings().string() + " loads"));
  } catch (const std::exception& failure) {
    checks.push_back(problem("settings", failure.what(),
                             "correct the file, or set a value with `linkferry settings set KEY "
                             "VALUE` (a missing settings.json means the defaults)"));
  }
  const std::vector<Check> log = logChecks(paths.root);
  checks.insert(checks.end(), log.begin(), log.end());
}

// The rules' targets against the browsers found here, and what their containers need; nothing
// when the rules or settings do not load (said above).
void checkTargets(const Setup& setup, std::vector<Check>& checks) {
  const LinkferryPaths paths(setup.dataFolder);
  try {
    const RuleSet rules = RuleSet::load(paths.rules());
    const AppSettings settings = AppSettings::load(paths.settings());
    const BrowserCatalog catalog = RouterSetup::loadCatalog(paths, setup.home, setup.environment);
    for (std::vector<Check> found : {ruleTargetChecks(rules, settings, catalog),
                                     containerChecks(catalog)}) {
      checks.insert(checks.end(), found.begin(), found.end());
    }
  } catch (const std::exception&) {
  }
}

// Whether a service answers, and whether it routes with files it could not reload.
void checkService(const Setup& setup, std::vector<Check>& checks) {
  auto connection = ServiceClient::Connection::open(setup.environment);
  if (!connection) {
    checks.push_back(good("service",
                          "no linkferry serve answers; each click is routed in its "
                          "own process"));
    return;
  }
  try {
    const JsonValue status =
        connection->exchange({{"request", "status"}}, std::chrono::milliseconds(5000));
    const std::string who =
        "linkferry serve (process " + std::to_string(status.value("pid", 0)) + ")";
    std::vector<std::string> problems;
    for (const JsonValue& line : status.value("problems", JsonValue::array())) {
      if (line.is_string()) problems.push_back(line.get<std::string>());
    }
    if (problems.empty()) {
      checks.push_back(good(
          "service", who + " answers on " + ServiceClient::socketPath(setup.environment).string()));
    } else {
      checks.push_back(problem(
          "service", who + " keeps routing with the last good files: " + Text::join(problems, "; "),
          "correct the file; the service reloads it when it is saved"));
    }
  } catch (const std::exception& failure) {
    checks.push_back(problem("service",
                             std::string("linkferry serve does not answer: ") + failure.what(),
                             "restart it: systemctl --user restart linkferry.service"));
  }
}

}  // namespace

std::vector<Check> logChecks(const fs::path& root) {
  const LinkferryPaths paths(root);
  const fs::path log = paths.log();
  std::error_code error;
  if (!fs::exists(root, error) && !error) {
    return {good("log", log.string() + " does not exist yet; it is made with the first link")};
  }
  std::vector<Check> checks;
  if (auto found = logFileProblem(log, true, false)) checks.push_back(std::move(*found));
  if (auto found = logFileProblem(log.string() + ".journal", true, true)) {
    checks.push_back(std::move(*found));
  }
  if (auto found = logFileProblem(log.string() + ".lock", false, true)) {
    checks.push_back(std::move(*found));
  }
  // log.json is replaced through a new file beside it, and the journal and lock are made there.
  if (::access(root.c_str(), W_OK | X_OK) != 0) {
    const int error = errno;
    checks.push_back(problem(
        "log",
        "cannot write in " + root.string() + ": " + reasonOf(error) + "; the log cannot be saved",
        "make it writable: chmod u+rwx " + root.string()));
  }
  if (checks.empty()) {
    checks.push_back(good("log", log.string() + " can be read and written"));
  }
  return checks;
}

std::vector<Check> ruleTargetChecks(const RuleSet& rules, const AppSettings& settings,
                                    const BrowserCatalog& catalog) {
  std::vector<Check> checks;
  const std::string fix =
      "install the browser or make the profile, show the target again (settings hiddenTargets), "
      "or change the rule; `linkferry browsers` lists what is here";
  for (const Rule& rule : rules.rules) {
    std::vector<BrowserTarget> targets;
    if (const auto* open = rule.action.kind.asOpen()) targets.push_back(open->target);
    if (const auto* prompt = rule.action.kind.asPrompt()) targets = prompt->targets;
    for (const BrowserTarget& target : targets) {
      const std::string where = "rule \u201C" + rule.name + "\u201D: ";
      for (const std::string& found : RuleSetCheck::targetProblems(target, catalog)) {
        checks.push_back(problem("rule targets", where + found, fix));
      }
      // Rules may name browsers and profiles as the user sees them; the settings hold ids.
      BrowserTarget shown = catalog.resolve(target).target;
      shown.container.reset();
      shown.privateMode = false;
      if (std::find(settings.hiddenTargets.begin(), settings.hiddenTargets.end(), shown) !=
          settings.hiddenTargets.end()) {
        checks.push_back(problem("rule targets",
                                 where + "opens in " + shown.description() +
                                     ", which the settings hide (hiddenTargets)",
                                 fix));
      }
    }
  }
  if (checks.empty()) {
    checks.push_back(good("rule targets", "every rule's browser, profile and container is here"));
  }
  return checks;
}

bool hasContainerOpener(const fs::path& profileFolder) {
  try {
    const std::optional<std::string> text = Files::readIfExists(profileFolder / "handlers.json");
    if (!text) return false;
    const JsonValue handlers = Json::parse(*text, "handlers.json");
    const JsonValue* schemes = handlers.is_object() && handlers.contains("schemes")
                                   ? &handlers["schemes"]
                                   : nullptr;
    if (!schemes || !schemes->is_object() || !schemes->contains("ext+container")) return false;
    const JsonValue& scheme = (*schemes)["ext+container"];
    if (!scheme.is_object() || !scheme.contains("handlers")) return false;
    const JsonValue& list = scheme["handlers"];
    return list.is_array() && std::any_of(list.begin(), list.end(), [](const JsonValue& handler) {
             return handler.is_object() && handler.contains("uriTemplate");
           });
  } catch (const std::exception&) {
    return false;
  }
}

std::vector<Check> containerChecks(const BrowserCatalog& catalog) {
  std::vector<Check> checks;
  for (const CatalogBrowser& browser : catalog.browsers) {
    if (browser.definition.family != BrowserFamily::firefox) continue;
    for (const BrowserProfile& profile : browser.profiles) {
      if (profile.containers.empty()) continue;
      const std::string which = browser.definition.name + " profile \u201C" + profile.name +
                                "\u201D has " + std::to_string(profile.containers.size()) +
                                " containers; ";
      const std::string need =
          "Firefox puts a link from outside into a container only through an extension that "
          "opens ext+container:name=NAME&url=LINK links, and LinkFerry opens a container target "
          "without its container";
      checks.push_back(good(
          "containers",
          which + (hasContainerOpener(profile.path)
                       ? "an extension there opens ext+container: links (handlers.json). "
                       : "no extension there opens ext+container: links (handlers.json lists "
                         "none). ") +
              need));
    }
  }
  return checks;
}

std::vector<Check> run(const Setup& setup) {
  std::vector<Check> checks;
  checkDesktopEntry(setup, checks);
  checkDesktopDefaults(setup, "GNOME", "GNOME", checks);
  checkDesktopDefaults(setup, "KDE", "KDE", checks);
  checkDesktopDefaults(setup, "XFCE", "Xfce", checks);
  checkDesktopSettings(setup, checks);
  checkDataFolder(setup, checks);
  checkTargets(setup, checks);
  checkService(setup, checks);
  return checks;
}

}  // namespace linkferry::DesktopDoctor
