#include "DesktopIntegration.h"

#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "MimeAppsList.h"
#include "UserUnits.h"
#include "browsers/DesktopExec.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Text.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::DesktopIntegration {
namespace {

namespace fs = std::filesystem;

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

}  // namespace

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

bool namesLinkFerry(const std::optional<std::string>& value) {
  if (!value) return false;
  const auto listed = MimeAppsList::entries(*value);
  return !listed.empty() && listed.front() == kDesktopFileName;
}

const std::vector<std::string>& rememberedKeys() {
  // The keys `xdg-settings set default-web-browser` writes in a generic session, and the XHTML
  // type; install itself sets the types it claims (claimedTypes).
  static const auto& keys = *new std::vector<std::string>{
      "text/html", kHttp, kHttps, "x-scheme-handler/about", "x-scheme-handler/unknown",
      "application/xhtml+xml"};
  return keys;
}

const std::vector<std::string>& claimedTypes() {
  static const auto& types =
      *new std::vector<std::string>{kHttp, kHttps, "text/html", "application/xhtml+xml"};
  return types;
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

fs::path Setup::configFolder() const {
  auto config = variable(environment, "XDG_CONFIG_HOME");
  if (config && config->front() == '/') return *config;
  return home / ".config";
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

std::string iconName(const fs::path& program) {
  const fs::path icon = program.parent_path().parent_path() / "share" / "icons" / "hicolor" /
                        "scalable" / "apps" / (std::string(kIconName) + ".svg");
  std::error_code error;
  return fs::is_regular_file(icon, error) ? kIconName : "web-browser";
}

std::optional<fs::path> buildFolder(const fs::path& program) {
  fs::path folder = program.parent_path();
  for (int level = 0; level < 3 && !folder.empty(); ++level) {
    std::error_code error;
    if (fs::is_regular_file(folder / "CMakeCache.txt", error)) return folder;
    if (folder == folder.root_path()) break;
    folder = folder.parent_path();
  }
  return std::nullopt;
}

std::string desktopEntryText(const fs::path& program) {
  return desktopEntryText(clickCommand(program), iconName(program));
}

std::string desktopEntryText(const std::vector<std::string>& command, std::string_view icon) {
  std::string mimeTypes;
  for (const std::string& type : claimedTypes()) mimeTypes += type + ";";
  // `xdg-settings set default-web-browser` also makes the browser the default for these, and
  // rewrites an entry that does not list them, waiting four seconds after each rewrite.
  mimeTypes += "x-scheme-handler/about;x-scheme-handler/unknown;";
  std::string exec;
  for (const std::string& word : command) exec += desktopString(execArgument(word)) + " ";
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=LinkFerry\n"
         "GenericName=Link Router\n"
         "Comment=Opens every link in the right browser, profile or app\n"
         "Exec=" + exec + "--start-service %u\n"
         "Icon=" + desktopString(icon) + "\n"
         "Terminal=false\n"
         "StartupNotify=false\n"
         "MimeType=" + mimeTypes + "\n"
         "Categories=Network;WebBrowser;\n"
         "Keywords=link;browser;router;url;\n";
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
    if (!namesLinkFerry(value)) {
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

  const std::vector<std::string> command = clickCommand(setup.program);
  Files::writeAtomically(setup.desktopFile(),
                         desktopEntryText(command, iconName(setup.program)));
  report.done.push_back("wrote " + setup.desktopFile().string());
  // Which program a click runs, so that an entry left pointing at a build folder is not a
  // surprise once that folder is rebuilt, moved or removed.
  const auto build = buildFolder(setup.program);
  report.done.push_back("the desktop entry runs " + command.front() +
                        (build ? " (in the build folder " + build->string() + ")" : ""));
  updateDesktopDatabase(setup, report);
  setXdgDefaultBrowser(setup, kDesktopFileName, report);

  // xdg-settings may have rewritten the list (or, on some desktops, left local pages alone); set
  // the web-link schemes and local pages on what it left.
  text = Files::readIfExists(list).value_or("");
  for (const std::string& key : claimedTypes()) {
    text = MimeAppsList::settingDefault(text, key, std::string(kDesktopFileName));
  }
  Files::writeAtomically(list, text);
  report.done.push_back("made linkferry.desktop the default for http and https links and local "
                        "web pages in " + list.string());
  UserUnits::install(setup, report);
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
    if (namesLinkFerry(value)) {
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
  UserUnits::uninstall(setup, report);
  if (fs::remove(setup.rememberedDefaults(), error)) {
    report.done.push_back("removed " + setup.rememberedDefaults().string());
  }
  return report;
}

}  // namespace linkferry::DesktopIntegration
