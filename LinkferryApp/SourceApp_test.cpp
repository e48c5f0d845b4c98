#include "SourceApp.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "browsers/DesktopEntries.h"
#include "foundation/Files.h"
#include "foundation/Process.h"
#include "foundation/Text.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TemporaryDirectory;

// Installed apps in a temporary XDG data folder, each started for real; the process that "asks"
// is a `sleep` at the bottom of the chain that each app starts, whose pid the chain writes down.
class Apps {
 public:
  Apps() {
    // A script app: its process is /bin/sh running the script.
    script("bin/chat", "/bin/sh -c \"/bin/sh -c 'echo \\$\\$ > $1; exec sleep 20'\"\n");
    entry("org.example.Chat", "Chat", m_folder.path() / "bin/chat");
    // A compiled app, reached through a symbolic link named in its entry; it starts the asking
    // process through a shell, as xdg-open does.
    fs::copy_file("/usr/bin/timeout", m_folder.path() / "bin/mailer");
    fs::create_symlink(m_folder.path() / "bin/mailer", m_folder.path() / "bin/mail-link");
    entry("org.example.Mail", "Mail", m_folder.path() / "bin/mail-link");
    // An app whose entry names no program of its own: it must not claim every shell.
    entry("org.example.Inline", "Inline", "sh -c true");
    // This product's own entry never names a source, though it sorts first and names chat.
    entry("linkferry", "LinkFerry", m_folder.path() / "bin/chat");
  }

  // Starts `program arguments...`, waits for the asking process and returns its pid.
  int start(const std::string& program, const std::vector<std::string>& arguments) {
    const fs::path pidFile = m_folder.path() / ("pid" + std::to_string(++m_started));
    std::vector<std::string> all = arguments;
    for (auto& argument : all) argument = Text::replacingAll(argument, "$PIDFILE", pidFile.string());
    Process::launchDetached(program, all, 0ms);
    // 30 seconds at most: a chain of shells starts slowly on a loaded machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      auto text = Files::readIfExists(pidFile);
      if (text && Text::endsWith(*text, "\n")) {
        const int pid = static_cast<int>(*Text::parseInteger(Text::trimmed(*text)));
        m_pids.push_back(pid);
        return pid;
      }
      std::this_thread::sleep_for(10ms);
    }
    ADD_FAILURE() << "the chain did not start: " << program;
    return -1;
  }

  std::optional<SourceApp> sourceOf(int pid) const {
    const auto entries = DesktopEntries::load({m_folder.path() / "applications"});
    return AncestrySourceAppFinder(entries, "/usr/bin:/bin", pid).sourceApp();
  }

  fs::path path(const std::string& relative) const { return m_folder.path() / relative; }

  ~Apps() {
    for (int pid : m_pids) ::kill(pid, SIGTERM);
  }

 private:
  void script(const std::string& relative, const std::string& body) {
    const auto file = m_folder.write(relative, "#!/bin/sh\n" + body);
    fs::permissions(file, fs::perms::owner_all);
  }
  void entry(const std::string& id, const std::string& name, const fs::path& exec) {
    m_folder.write("applications/" + id + ".desktop",
                   "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec.string() +
                       " %u\n");
  }

  TemporaryDirectory m_folder;
  int m_started = 0;
  std::vector<int> m_pids;
};

TEST(SourceApp, NamesTheFirstAncestorThatIsAnInstalledAppPastShells) {
  Apps apps;
  // chat (script) → sh -c → sh -c → sleep.
  const int fromChat = apps.start(apps.path("bin/chat").string(), {"$PIDFILE"});
  EXPECT_EQ(apps.sourceOf(fromChat), (SourceApp{"org.example.Chat", "Chat"}));

  // mailer (binary, entry names it through a link) → sh -c → sleep.
  const int fromMail = apps.start(apps.path("bin/mailer").string(),
                                  {"30", "/bin/sh", "-c", "echo $$ > $PIDFILE; exec sleep 20"});
  EXPECT_EQ(apps.sourceOf(fromMail), (SourceApp{"org.example.Mail", "Mail"}));
}

TEST(SourceApp, UnknownWhenTheChainReachesAProgramThatIsNoApp) {
  Apps apps;
  // timeout (no entry) → sh -c → sleep: timeout is no go-between, so the walk stops there.
  const int fromUnknown = apps.start(
      "/usr/bin/timeout", {"30", "/bin/sh", "-c", "echo $$ > $PIDFILE; exec sleep 20"});
  EXPECT_EQ(apps.sourceOf(fromUnknown), std::nullopt);
  EXPECT_EQ(apps.sourceOf(999'999'999), std::nullopt);
}

}  // namespace
}  // namespace linkferry
