#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browsers/DesktopEntry.h"

namespace linkferry {

// The app a link was clicked in, as a desktop entry names it.
struct SourceApp {
  std::string id;    // the desktop identifier ("org.gnome.Evolution"), what sourceApp rules name
  std::string name;  // the entry's Name, for the user
  bool operator==(const SourceApp&) const = default;
};

// One running process, as far as it can be read.
struct ProcessInfo {
  int pid = 0;
  int parentPid = 0;
  // The program's path (the target of /proc/<pid>/exe); empty when it cannot be read.
  std::string executable;
  // The command line, program name first; empty when it cannot be read.
  std::vector<std::string> arguments;
  bool operator==(const ProcessInfo&) const = default;
};

// Reads processes. Implementations are safe to use from several threads.
class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // Nothing when the process does not exist or cannot be read.
  virtual std::optional<ProcessInfo> process(int pid) const = 0;
};

// The Linux process table: /proc/<pid>/stat for the parent, /proc/<pid>/exe for the program,
// /proc/<pid>/cmdline for the arguments.
class ProcProcessTable final : public ProcessTable {
 public:
  std::optional<ProcessInfo> process(int pid) const override;
};

// Names the app a link was clicked in; nothing when unknown (never a guess).
class SourceAppFinder {
 public:
  virtual ~SourceAppFinder() = default;
  virtual std::optional<SourceApp> sourceApp() const = 0;
};

// The source app from the process ancestry. A program that opens a link runs `xdg-open URL` (or
// gio, a portal, a shell...), which in the end starts `linkferry open` as its descendant. The walk
// starts at the parent of `pid`, passes over such go-betweens (shells, xdg-open, gio, gtk-launch,
// kde-open, exo-open, the desktop portals, env, setsid, nohup, linkferry itself) and names the
// first process whose program is the program of an installed desktop entry: its executable, or for
// an interpreter (sh, python, ...) the script it runs, compared after resolving symbolic links.
// It stops with nothing at the first process that is neither (a terminal emulator, the session),
// at process 1 and after 64 steps. This product's own entry never counts. Works the same on X11 and
// Wayland, because it asks nothing of the display.
class AncestrySourceAppFinder final : public SourceAppFinder {
 public:
  // `entries`: the installed desktop entries (DesktopEntries::load); `searchPath`: the PATH that
  // resolves entries whose Exec names a bare program.
  AncestrySourceAppFinder(const std::vector<DesktopEntry>& entries, const std::string& searchPath,
                          int pid, std::shared_ptr<const ProcessTable> table =
                                       std::make_shared<ProcProcessTable>());

  // The finder over `entries` (DesktopEntries::load of the folders of `environment`), visible
  // entries before hidden ones, with the PATH of `environment`, walking from the parent of `pid`.
  static AncestrySourceAppFinder forEntries(std::vector<DesktopEntry> entries,
                                            const std::map<std::string, std::string>& environment,
                                            int pid);
  // The finder for this process (`linkferry open`): entries of the XDG folders of `environment`
  // and `home`, walking from this process's parent.
  static AncestrySourceAppFinder forThisProcess(const std::filesystem::path& home,
                                                const std::map<std::string, std::string>& environment);

  std::optional<SourceApp> sourceApp() const override;
  // The same walk from the parent of another process, over the same entries: a long-lived process
  // builds one finder and asks it for each client. Safe from any thread.
  std::optional<SourceApp> sourceAppOf(int pid) const;

 private:
  std::map<std::string, SourceApp> m_byProgram;  // canonical program path → app
  int m_pid;
  std::shared_ptr<const ProcessTable> m_table;
};

}  // namespace linkferry
