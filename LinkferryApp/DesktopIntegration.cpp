#include "DesktopIntegration.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "MimeAppsList.h"
#include "ServiceClient.h"
#include "browsers/BrowserCatalog.h"
#include "browsers/DesktopEntry.h"
#include "browsers/DesktopExec.h"
#include "browsers/INI.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "foundation/Text.h"
#include "rules/RuleSet.h"
#include "settings/AppSettings.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::DesktopIntegration {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHttp = "x-scheme-handler/http";
constexpr const char* kHttps = "x-scheme-handler/https";

// What install found before it changed anything. Absent values were absent.
struct Remembered {
  std::optional<std::string> defaultWebBrowser;
  std::map<std::string, std::optional<std::string>> defaults;  // mimeapps.list key → value
};

std::optional<std::string> variable(const Environment& environment, const char* name) {
  auto found = environment.find(name);
  if (found == environment.end() || found->second.empty()) return std::nullopt;
  return found->second;
}

// A desktop tool run with the setup's environment; nothing when it is not installed.
std::optional<Process::Result> runTool(const Setup& setup, const std::string& name,
                                       const std::vector<std::string>& arguments) {
  const auto program = Process::findExecutable(
      name, variable(setup.environment, "PATH").value_or(DesktopExec::kDefaultSearchPath));
  if (!program) return std::nullopt;
  Process::Options options;
  options.captureOutput = true;
  options.environment = setup.environment;
  try {
    return Process::run(*program, arguments, options);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
}

std::string toolOutput(const Process::Result& result) {
  std::string text(Text::trimmed(Text::repairedUTF8(result.standardError + result.standardOutput)));
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// The desktop file xdg-settings names as the default browser, when it can tell.
std::optional<std::string> xdgDefaultBrowser(const Setup& setup) {
  auto result = runTool(setup, "xdg-settings", {"get", "default-web-browser"});
  if (!result || result->exitStatus != 0) return std::nullopt;
  std::string value(Text::trimmed(result->standardOutput));
  if (value.empty()) return std::nullopt;
  return value;
}

void setXdgDefaultBrowser(const Setup& setup, const std::string& desktopFile, Report& report) {
  auto result = runTool(setup, "xdg-settings", {"set", "default-web-browser", desktopFile});
  if (!result) {
    report.warnings.push_back("xdg-settings is not installed (package xdg-utils); the default "
                              "browser was set in mimeapps.list only");
  } else if (result->exitStatus != 0) {
    report.warnings.push_back("xdg-settings set default-web-browser " + desktopFile +
                              " failed: " + toolOutput(*result));
  } else {
    report.done.push_back("xdg-settings: default web browser " + desktopFile);
  }
}

void updateDesktopDatabase(const Setup& setup, Report& report) {
  const std::string folder = setup.applicationsFolder().string();
  auto result = runTool(setup, "update-desktop-database", {folder});
  if (!result) {
    report.warnings.push_back(
        "update-desktop-database is not installed (package desktop-file-utils)");
  } else if (result->exitStatus != 0) {
    report.warnings.push_back("update-desktop-database " + folder + " failed: " +
                              toolOutput(*result));
  } else {
    report.done.push_back("updated the desktop database of " + folder);
  }
}

bool namesUs(const std::optional<std::string>& value) {
  if (!value) return false;
  const auto listed = MimeAppsList::entries(*value);
  return !listed.empty() && listed.front() == kDesktopFileName;
}

JsonValue optionalJson(const std::optional<std::string>& value) {
  return value ? JsonValue(*value) : JsonValue(nullptr);
}

// A string member that may be null (the default was absent).
std::optional<std::string> optionalString(const JsonReader& object, std::string_view key) {
  auto member = object.optional(key);
  if (!member) return std::nullopt;
  return member->string();
}

std::optional<Remembered> loadRemembered(const Setup& setup) {
  const fs::path file = setup.rememberedDefaults();
  const auto text = Files::readIfExists(file);
  if (!text) return std::nullopt;
  const JsonValue json = Json::parse(*text, file.string());
  const JsonReader reader(json, file.string());
  Remembered remembered;
  remembered.defaultWebBrowser = optionalString(reader, "defaultWebBrowser");
  const JsonReader defaults = reader["mimeappsDefaults"];
  for (const std::string& key : defaults.keys()) {
    remembered.defaults[key] = optionalString(defaults, key);
  }
  return remembered;
}

// The remembered defaults; a file that cannot be read or is malformed is a warning saying what
// happens instead (`consequence`), never a reason to stop.
std::optional<Remembered> loadRemembered(const Setup& setup, Report& report,
                                         const std::string& consequence) {
  try {
    return loadRemembered(setup);
  } catch (const std::exception& error) {
    report.warnings.push_back(std::string(error.what()) + "; " + consequence);
    return std::nullopt;
  }
}

void saveRemembered(const Setup& setup, const Remembered& remembered) {
  JsonValue defaults = JsonValue::object();
  for (const auto& [key, value] : remembered.defaults) defaults[key] = optionalJson(value);
  const JsonValue json = {{"defaultWebBrowser", optionalJson(remembered.defaultWebBrowser)},
                          {"mimeappsDefaults", defaults}};
  Files::writeAtomically(setup.rememberedDefaults(), Json::encodePretty(json));
}

// A desktop entry "string" value: backslashes and line breaks escaped.
std::string desktopString(std::string_view text) {
  std::string result;
  for (char c : text) {
    if (c == '\\') {
      result += "\\\\";
    } else if (c == '\n') {
      result += "\\n";
    } else {
      result += c;
    }
  }
  return result;
}

// One Exec argument: quoted when it holds a reserved character, with ", `, $ and \ escaped
// inside the quotes; "%" doubled so it is no field code.
std::string execArgument(std::string_view argument) {
  static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string escaped;
  for (char c : argument) {
    if (c == '%') {
      escaped += "%%";
      continue;
    }
    if (c == '"' || c == '`' || c == '$' || c == '\\') escaped += '\\';
    escaped += c;
  }
  if (argument.find_first_of(kReserved) == std::string_view::npos) return escaped;
  return "\"" + escaped + "\"";
}

Check good(std::string name, std::string message) {
  return Check{.name = std::move(name), .ok = true, .message = std::move(message), .fix = {}};
}

Check problem(std::string name, std::string message, std::string fix) {
  return Check{.name = std::move(name), .ok = false, .message = std::move(message),
               .fix = std::move(fix)};
}

fs::path configHome(const Setup& setup) {
  auto config = variable(setup.environment, "XDG_CONFIG_HOME");
  if (config && config->front() == '/') return *config;
  return setup.home / ".config";
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
    checks.push_back(problem("desktop entry", "there is no " + file.string(),
                             "run `linkferry install`"));
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
  const bool handles = std::find(entry->mimeTypes.begin(), entry->mimeTypes.end(), kHttp) !=
                           entry->mimeTypes.end() &&
                       std::find(entry->mimeTypes.begin(), entry->mimeTypes.end(), kHttps) !=
                           entry->mimeTypes.end();
  if (!handles) {
    checks.push_back(problem("desktop entry",
                             file.string() + " does not declare x-scheme-handler/http and https",
                             "run `linkferry install` to write it again"));
  } else {
    checks.push_back(good("desktop entry", file.string() + " is valid"));
  }

  const std::string& program = entry->exec.front();
  const std::vector<std::string> expected = clickCommand(setup.program);
  const bool runsExpected =
      entry->exec.size() >= expected.size() &&
      std::equal(expected.begin(), expected.end(), entry->exec.begin());
  if (::access(program.c_str(), X_OK) != 0) {
    checks.push_back(problem("program", file.string() + " runs " + program +
                                            ", which does not exist or is not executable",
                             "run `" + setup.program.string() + " install` to point it here"));
  } else if (!runsExpected) {
    checks.push_back(problem("program",
                             file.string() + " runs " + Text::join(entry->exec, " ") +
                                 ", not " + Text::join(expected, " "),
                             "run `" + setup.program.string() + " install` to point it here"));
  } else {
    checks.push_back(good("program", "links go to " + Text::join(expected, " ")));
  }
}

// The http and https defaults one desktop reads.
void checkDesktopDefaults(const Setup& setup, const std::string& desktop, const std::string& name,
                          std::vector<Check>& checks) {
  const std::string check = "default for " + name;
  const fs::path userList = MimeAppsList::userList(setup.home, setup.environment);
  for (const char* key : {kHttp, kHttps}) {
    const auto found = MimeAppsList::effectiveDefault(setup.home, setup.environment, desktop, key);
    if (!found) {
      checks.push_back(problem(check, std::string("no mimeapps.list names a default for ") + key,
                               "run `linkferry install`"));
      return;
    }
    if (namesUs(found->value)) continue;
    const bool ownFile = found->file.parent_path() == configHome(setup);
    const std::string fix =
        ownFile && found->file != userList
            ? "remove the line \"" + std::string(key) + "=" + found->value + "\" from " +
                  found->file.string()
            : "run `linkferry install`";
    checks.push_back(problem(check,
                             found->file.string() + " makes " + found->value +
                                 " the default for " + key,
                             fix));
    return;
  }
  checks.push_back(good(check, "http and https links go to " + std::string(kDesktopFileName)));
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
  const fs::path kdeglobals = configHome(setup) / "kdeglobals";
  if (auto browser = configValue(kdeglobals, "General", "BrowserApplication");
      browser && !browser->empty() && *browser != kDesktopFileName) {
    checks.push_back(problem("default for KDE",
                             kdeglobals.string() + " sets BrowserApplication=" + *browser,
                             "run `kwriteconfig5 --file kdeglobals --group General --key "
                             "BrowserApplication linkferry.desktop`"));
  }
  const fs::path helpers = configHome(setup) / "xfce4" / "helpers.rc";
  if (auto browser = configValue(helpers, "", "WebBrowser");
      browser && !browser->empty() && *browser != "linkferry") {
    checks.push_back(problem("default for Xfce", helpers.string() + " sets WebBrowser=" + *browser,
                             "set WebBrowser=linkferry in " + helpers.string()));
  }
  auto current = runTool(setup, "xdg-settings", {"get", "default-web-browser"});
  if (!current) {
    checks.push_back(problem("xdg-settings", "xdg-settings is not installed",
                             "install the package xdg-utils"));
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
    checks.push_back(good("data folder", paths.root.string() +
                                             " does not exist yet; built-in defaults apply"));
    return;
  }
  fs::directory_iterator listing(paths.root, error);
  if (error || ::access(paths.root.c_str(), R_OK | X_OK) != 0) {
    checks.push_back(problem("data folder",
                             "cannot read " + paths.root.string() +
                                 (error ? ": " + error.message() : std::string()),
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
    checks.push_back(good("browsers", std::to_string(browsers.size()) +
                                          " custom browser definitions load"));
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
}

// The service's units, for the service manager of the user.
std::string socketUnitText() {
  return "[Unit]\n"
         "Description=LinkFerry link router socket\n"
         "\n"
         "[Socket]\n"
         "ListenStream=%t/linkferry/router.sock\n"
         "SocketMode=0600\n"
         "DirectoryMode=0700\n"
         "\n"
         "[Install]\n"
         "WantedBy=sockets.target\n";
}

std::string serviceUnitText(const fs::path& program) {
  return "[Unit]\n"
         "Description=LinkFerry link router\n"
         "Requires=linkferry.socket\n"
         "\n"
         "[Service]\n"
         "ExecStart=" + execArgument(program.string()) + " serve\n"
         "\n"
         "[Install]\n"
         "Also=linkferry.socket\n";
}

// `systemctl --user ARGUMENTS…`; false when there is no systemctl or no user session to ask.
bool userSystemctl(const Setup& setup, const std::vector<std::string>& arguments) {
  std::vector<std::string> all{"--user"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  auto result = runTool(setup, "systemctl", all);
  return result && result->exitStatus == 0;
}

void installUnits(const Setup& setup, Report& report) {
  Files::writeAtomically(setup.socketUnit(), socketUnitText());
  Files::writeAtomically(setup.serviceUnit(), serviceUnitText(setup.program));
  report.done.push_back("wrote " + setup.socketUnit().string() + " and " +
                        setup.serviceUnit().string());
  if (userSystemctl(setup, {"daemon-reload"}) &&
      userSystemctl(setup, {"enable", "--now", "linkferry.socket"})) {
    report.done.push_back("systemd starts linkferry serve on the first click");
  } else {
    // Not a fault: without a user session `linkferry open` starts the service itself.
    report.done.push_back("no systemd user session: the first click starts linkferry serve");
  }
}

void uninstallUnits(const Setup& setup, Report& report) {
  std::error_code error;
  if (!fs::exists(setup.socketUnit(), error) && !fs::exists(setup.serviceUnit(), error)) return;
  (void)userSystemctl(setup, {"disable", "--now", "linkferry.socket", "linkferry.service"});
  for (const fs::path& unit : {setup.socketUnit(), setup.serviceUnit()}) {
    if (fs::remove(unit, error)) {
      report.done.push_back("removed " + unit.string());
    } else if (error) {
      throw std::system_error(error, "cannot remove " + unit.string());
    }
  }
  (void)userSystemctl(setup, {"daemon-reload"});
}

// Whether a service answers, and whether it routes with files it could not reload.
void checkService(const Setup& setup, std::vector<Check>& checks) {
  auto connection = ServiceClient::Connection::open(setup.environment);
  if (!connection) {
    checks.push_back(good("service", "no linkferry serve answers; each click is routed in its "
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
      checks.push_back(good("service", who + " answers on " +
                                           ServiceClient::socketPath(setup.environment).string()));
    } else {
      checks.push_back(problem("service",
                               who + " keeps routing with the last good files: " +
                                   Text::join(problems, "; "),
                               "correct the file; the service reloads it when it is saved"));
    }
  } catch (const std::exception& failure) {
    checks.push_back(problem("service", std::string("linkferry serve does not answer: ") +
                                            failure.what(),
                             "restart it: systemctl --user restart linkferry.service"));
  }
}

}  // namespace

const std::vector<std::string>& rememberedKeys() {
  // The keys `xdg-settings set default-web-browser` writes in a generic session, of which install
  // itself sets the two web-link schemes.
  static const auto& keys = *new std::vector<std::string>{
      "text/html", kHttp, kHttps, "x-scheme-handler/about", "x-scheme-handler/unknown"};
  return keys;
}

Setup Setup::forThisProcess() {
  Setup setup;
  setup.home = Files::home();
  setup.environment = Process::currentEnvironment();
  std::error_code error;
  setup.program = fs::canonical("/proc/self/exe", error);
  if (error) throw std::system_error(error, "cannot find this program's path");
  setup.dataFolder = LinkferryPaths::defaultPaths(setup.environment, setup.home).root;
  return setup;
}

fs::path Setup::systemdUserFolder() const {
  auto config = variable(environment, "XDG_CONFIG_HOME");
  if (config && config->front() == '/') return fs::path(*config) / "systemd" / "user";
  return home / ".config" / "systemd" / "user";
}

fs::path Setup::applicationsFolder() const {
  auto data = variable(environment, "XDG_DATA_HOME");
  if (data && data->front() == '/') return fs::path(*data) / "applications";
  return home / ".local" / "share" / "applications";
}

std::vector<std::string> clickCommand(const fs::path& program) {
  const fs::path quick = program.parent_path() / "linkferry-open";
  if (::access(quick.c_str(), X_OK) == 0) return {quick.string()};
  return {program.string(), "open"};
}

std::string desktopEntryText(const fs::path& program) {
  std::string exec;
  for (const std::string& word : clickCommand(program)) {
    exec += desktopString(execArgument(word)) + " ";
  }
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=LinkFerry\n"
         "GenericName=Link Router\n"
         "Comment=Opens every link in the right browser, profile or app\n"
         "Exec=" + exec + "--start-service %u\n"
         "Icon=web-browser\n"
         "Terminal=false\n"
         "StartupNotify=false\n"
         "MimeType=x-scheme-handler/http;x-scheme-handler/https;text/html;\n"
         "Categories=Network;WebBrowser;\n";
}

Report install(const Setup& setup) {
  Report report;
  const fs::path list = MimeAppsList::userList(setup.home, setup.environment);
  const auto earlier = loadRemembered(setup, report, "the defaults are remembered anew");

  // Remember what is there now, unless it is already us (installed before): then what was
  // remembered the first time stays.
  Remembered remembered;
  const auto browser = xdgDefaultBrowser(setup);
  remembered.defaultWebBrowser =
      browser && *browser != kDesktopFileName
          ? browser
          : (earlier ? earlier->defaultWebBrowser : std::nullopt);
  std::string text = Files::readIfExists(list).value_or("");
  for (const std::string& key : rememberedKeys()) {
    const auto value = MimeAppsList::defaultValue(text, key);
    if (!namesUs(value)) {
      remembered.defaults[key] = value;
    } else if (earlier && earlier->defaults.contains(key)) {
      remembered.defaults[key] = earlier->defaults.at(key);
    } else {
      remembered.defaults[key] = std::nullopt;
    }
  }
  saveRemembered(setup, remembered);
  report.done.push_back("remembered the previous defaults in " +
                        setup.rememberedDefaults().string());

  Files::writeAtomically(setup.desktopFile(), desktopEntryText(setup.program));
  report.done.push_back("wrote " + setup.desktopFile().string());
  updateDesktopDatabase(setup, report);
  setXdgDefaultBrowser(setup, kDesktopFileName, report);

  // xdg-settings may have rewritten the list; set the web-link schemes on what it left.
  text = Files::readIfExists(list).value_or("");
  for (const char* key : {kHttp, kHttps}) {
    text = MimeAppsList::settingDefault(text, key, std::string(kDesktopFileName));
  }
  Files::writeAtomically(list, text);
  report.done.push_back("made linkferry.desktop the default for http and https in " +
                        list.string());
  installUnits(setup, report);
  return report;
}

Report uninstall(const Setup& setup) {
  Report report;
  const fs::path list = MimeAppsList::userList(setup.home, setup.environment);
  const auto remembered =
      loadRemembered(setup, report, "the defaults that name LinkFerry are removed instead");

  // What each key must hold afterwards, decided before xdg-settings touches the list: the
  // remembered value where the key names us, else what the user has there now.
  const std::string before = Files::readIfExists(list).value_or("");
  std::map<std::string, std::optional<std::string>> wanted;
  for (const std::string& key : rememberedKeys()) {
    const auto value = MimeAppsList::defaultValue(before, key);
    wanted[key] = value;
    if (namesUs(value)) {
      wanted[key] = remembered && remembered->defaults.contains(key)
                        ? remembered->defaults.at(key)
                        : std::nullopt;
    }
  }
  if (remembered && remembered->defaultWebBrowser &&
      xdgDefaultBrowser(setup) == std::optional<std::string>(kDesktopFileName)) {
    setXdgDefaultBrowser(setup, *remembered->defaultWebBrowser, report);
  }
  const std::string current = Files::readIfExists(list).value_or("");
  std::string text = current;
  for (const auto& [key, value] : wanted) {
    if (MimeAppsList::defaultValue(text, key) != value) {
      text = MimeAppsList::settingDefault(text, key, value);
    }
  }
  if (text != current) Files::writeAtomically(list, text);
  if (text != before) report.done.push_back("restored the previous defaults in " + list.string());

  std::error_code error;
  if (fs::remove(setup.desktopFile(), error)) {
    report.done.push_back("removed " + setup.desktopFile().string());
  } else if (error) {
    throw std::system_error(error, "cannot remove " + setup.desktopFile().string());
  }
  updateDesktopDatabase(setup, report);
  uninstallUnits(setup, report);
  if (fs::remove(setup.rememberedDefaults(), error)) {
    report.done.push_back("removed " + setup.rememberedDefaults().string());
  }
  return report;
}

std::vector<Check> doctor(const Setup& setup) {
  std::vector<Check> checks;
  checkDesktopEntry(setup, checks);
  checkDesktopDefaults(setup, "GNOME", "GNOME", checks);
  checkDesktopDefaults(setup, "KDE", "KDE", checks);
  checkDesktopDefaults(setup, "XFCE", "Xfce", checks);
  checkDesktopSettings(setup, checks);
  checkDataFolder(setup, checks);
  checkService(setup, checks);
  return checks;
}

}  // namespace linkferry::DesktopIntegration
