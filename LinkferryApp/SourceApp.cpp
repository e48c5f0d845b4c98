#include "SourceApp.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <system_error>

#include "browsers/DesktopEntries.h"
#include "browsers/DesktopExec.h"
#include "browsers/ProcessInspector.h"
#include "foundation/Text.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxSteps = 64;

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Programs that run a script given as their first non-option argument.
bool isInterpreter(std::string_view name) {
  return isOneOf(name, {"sh", "bash", "dash", "zsh", "ksh", "mksh", "fish", "busybox", "perl",
                        "ruby", "node", "gjs"}) ||
         Text::startsWith(name, "python");
}

// Programs that stand between the clicking app and us: they pass a link on without being the app.
bool isGoBetween(std::string_view name) {
  return isOneOf(name, {"sh", "bash", "dash", "zsh", "ksh", "mksh", "fish", "tcsh", "csh",
                        "busybox", "env", "setsid", "nohup", "xdg-open", "gio",
                        "gio-launch-desktop", "gtk-launch", "kde-open", "kde-open5", "kioclient",
                        "kioclient5", "exo-open", "exo-helper-1", "exo-helper-2", "gvfs-open",
                        "sensible-browser", "x-www-browser", "www-browser", "flatpak-spawn",
                        "linkferry"}) ||
         Text::startsWith(name, "xdg-desktop-portal");
}

std::string baseName(std::string_view path) { return fs::path(path).filename().string(); }

std::optional<std::string> canonical(const std::string& path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  std::error_code error;
  fs::path resolved = fs::canonical(path, error);
  if (error) return std::nullopt;
  return resolved.string();
}

// The script an interpreter command line runs: its first argument after the program that is no
// option, when it is an absolute path.
std::optional<std::string> scriptOf(const std::vector<std::string>& arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-c") return std::nullopt;  // an inline command names no program
    if (Text::startsWith(argument, "-")) continue;
    if (argument.front() == '/') return argument;
    return std::nullopt;
  }
  return std::nullopt;
}

// The program that identifies an entry: its Exec program (past "env" and its assignments), or the
// script when that program is an interpreter; nothing for inline shell commands.
std::optional<std::string> entryProgram(const DesktopEntry& entry, const std::string& searchPath) {
  std::vector<std::string> command = entry.exec;
  if (!command.empty() && baseName(command.front()) == "env") {
    auto program = std::find_if(command.begin() + 1, command.end(), [](const std::string& a) {
      return !Text::startsWith(a, "-") && a.find('=') == std::string::npos;
    });
    command.erase(command.begin(), program);
  }
  if (command.empty()) return std::nullopt;
  auto isExecutable = [](const std::string& path) { return ::access(path.c_str(), X_OK) == 0; };
  const std::string program = DesktopExec::resolve(command.front(), searchPath, isExecutable);
  if (isInterpreter(baseName(program))) {
    auto script = scriptOf(command);
    return script ? canonical(*script) : std::nullopt;
  }
  return canonical(program);
}

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The parent from the text of /proc/<pid>/stat: "pid (comm) state ppid ...", where comm may
// itself hold spaces and parentheses, so the fields are counted after the last ")".
std::optional<int> parentFromStat(std::string_view stat) {
  const auto close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = Text::trimmed(stat.substr(close + 1), Text::TrimSet::spacesAndTabs);
  const auto space = rest.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  rest = rest.substr(space + 1);
  const auto parent = Text::parseInteger(rest.substr(0, rest.find(' ')));
  if (!parent || *parent < 0) return std::nullopt;
  return static_cast<int>(*parent);
}

}  // namespace

std::optional<ProcessInfo> ProcProcessTable::process(int pid) const {
  if (pid <= 0) return std::nullopt;
  const std::string folder = "/proc/" + std::to_string(pid);
  const auto parent = parentFromStat(readFile(folder + "/stat"));
  if (!parent) return std::nullopt;
  ProcessInfo info{.pid = pid, .parentPid = *parent, .executable = {}, .arguments = {}};
  std::error_code error;
  info.executable = fs::read_symlink(folder + "/exe", error).string();
  // A program replaced on disk since it started (an update) reads "<path> (deleted)".
  if (Text::endsWith(info.executable, " (deleted)")) {
    info.executable.resize(info.executable.size() - std::string_view(" (deleted)").size());
  }
  info.arguments = ProcessInspector::arguments(pid).value_or(std::vector<std::string>{});
  return info;
}

AncestrySourceAppFinder::AncestrySourceAppFinder(const std::vector<DesktopEntry>& entries,
                                                 const std::string& searchPath, int pid,
                                                 std::shared_ptr<const ProcessTable> table)
    : m_pid(pid), m_table(std::move(table)) {
  for (const DesktopEntry& entry : entries) {
    if (entry.id == DesktopEntries::kOwnID) continue;
    auto program = entryProgram(entry, searchPath);
    if (!program) continue;
    // The first entry of a program wins: the user's over the system's, and (as forThisProcess
    // orders them) a visible entry over a hidden helper of the same program.
    m_byProgram.try_emplace(*program, SourceApp{entry.id, entry.name});
  }
}

AncestrySourceAppFinder AncestrySourceAppFinder::forEntries(
    std::vector<DesktopEntry> entries, const std::map<std::string, std::string>& environment,
    int pid) {
  std::stable_partition(entries.begin(), entries.end(),
                        [](const DesktopEntry& entry) { return !entry.hidden; });
  const auto path = environment.find("PATH");
  return AncestrySourceAppFinder(
      entries, path != environment.end() ? path->second : DesktopExec::kDefaultSearchPath, pid);
}

AncestrySourceAppFinder AncestrySourceAppFinder::forThisProcess(
    const fs::path& home, const std::map<std::string, std::string>& environment) {
  return forEntries(DesktopEntries::load(DesktopEntries::applicationDirectories(home, environment)),
                    environment, static_cast<int>(::getpid()));
}

std::optional<SourceApp> AncestrySourceAppFinder::sourceApp() const {
  return sourceAppOf(m_pid);
}

std::optional<SourceApp> AncestrySourceAppFinder::sourceAppOf(int pid) const {
  auto current = m_table->process(pid);
  for (int step = 0; current && step < kMaxSteps; ++step) {
    if (current->parentPid <= 1) return std::nullopt;
    current = m_table->process(current->parentPid);
    if (!current || current->executable.empty()) return std::nullopt;
    std::string name = baseName(current->executable);
    if (isInterpreter(name)) {
      if (auto script = scriptOf(current->arguments)) {
        if (auto path = canonical(*script)) {
          if (auto found = m_byProgram.find(*path); found != m_byProgram.end()) {
            return found->second;
          }
        }
        name = baseName(*script);
      }
    }
    if (auto path = canonical(current->executable)) {
      if (auto found = m_byProgram.find(*path); found != m_byProgram.end()) return found->second;
    }
    if (!isGoBetween(name)) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace linkferry
