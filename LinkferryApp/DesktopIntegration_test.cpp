#include "DesktopIntegration.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "browsers/DesktopEntry.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;

// A desktop session of its own: every XDG folder inside a temporary folder, no desktop detected
// (so xdg-settings works on mimeapps.list, as on a plain session), the real desktop tools.
class Session {
 public:
  Session() {
    m_environment = {{"HOME", m_folder.path().string()},
                     {"XDG_CONFIG_HOME", (m_folder.path() / "config").string()},
                     {"XDG_DATA_HOME", (m_folder.path() / "data").string()},
                     {"XDG_CONFIG_DIRS", (m_folder.path() / "etc").string()},
                     {"XDG_DATA_DIRS", (m_folder.path() / "share").string()},
                     {"PATH", "/usr/local/bin:/usr/bin:/bin"}};
    fs::create_directories(m_folder.path() / "config");
    // As xdg-settings leaves a browser of the user's folder once it has been the default (it adds
    // about and unknown, then waits four seconds each time).
    m_folder.write("data/applications/oldbrowser.desktop",
                   "[Desktop Entry]\nType=Application\nName=Old Browser\nExec=/bin/true %u\n"
                   "MimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;"
                   "x-scheme-handler/about;x-scheme-handler/unknown;\n");
  }

  Process::Result run(const std::string& program, const std::vector<std::string>& arguments) const {
    Process::Options options;
    options.captureOutput = true;
    options.environment = m_environment;
    return Process::run(program, arguments, options);
  }
  Process::Result linkferry(const std::vector<std::string>& arguments) const {
    return run(program().string(), arguments);
  }
  std::string defaultBrowser() const {
    return std::string(run("/usr/bin/xdg-settings", {"get", "default-web-browser"}).standardOutput);
  }

  static fs::path program() {
    return fs::canonical(testing::linkferryProgram());
  }
  fs::path path(const std::string& relative) const { return m_folder.path() / relative; }
  void write(const std::string& relative, const std::string& text) const {
    m_folder.write(relative, text);
  }

 private:
  TemporaryDirectory m_folder;
  std::map<std::string, std::string> m_environment;
};

JsonValue checksByName(const Process::Result& doctor) {
  JsonValue byName = JsonValue::object();
  const JsonValue report = JsonValue::parse(doctor.standardOutput);
  for (const auto& check : report["checks"]) {
    byName[check["check"].get<std::string>()] = check;
  }
  return byName;
}

TEST(DesktopIntegration, InstallMakesLinkFerryTheDefaultAndUninstallGivesItBackExactly) {
  Session session;
  ASSERT_EQ(session.run("/usr/bin/xdg-settings", {"set", "default-web-browser",
                                                  "oldbrowser.desktop"}).exitStatus, 0);
  const fs::path list = session.path("config/mimeapps.list");
  Files::writeAtomically(list, "[Added Associations]\nimage/png=viewer.desktop;\n\n" +
                                   Files::read(list) + "application/pdf=reader.desktop\n");
  const std::string before = Files::read(list);
  ASSERT_EQ(session.defaultBrowser(), "oldbrowser.desktop\n");

  const auto missing = session.linkferry({"doctor", "--json"});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_FALSE(checksByName(missing)["desktop entry"]["ok"].get<bool>());

  for (int round = 0; round < 2; ++round) {  // installing twice remembers the first default
    const auto install = session.linkferry({"install"});
    ASSERT_EQ(install.exitStatus, 0) << install.standardError << install.standardOutput;
    EXPECT_EQ(install.standardError, "");
    // A build folder is named as such: rebuilding or removing it breaks every click.
    const fs::path build = Session::program().parent_path().parent_path();
    EXPECT_NE(install.standardOutput.find(
                  "\nthe desktop entry runs " +
                  (Session::program().parent_path() / "linkferry-open").string() +
                  " (in the build folder " + build.string() + ")\n"),
              std::string::npos)
        << install.standardOutput;
  }
  const std::string entry = Files::read(session.path("data/applications/linkferry.desktop"));
  // The quick click program of the same build, beside the command.
  EXPECT_NE(entry.find("\nExec=" + (Session::program().parent_path() / "linkferry-open").string() +
                       " --start-service %u\n"),
            std::string::npos) << entry;
  // Local pages as a browser claims them, and the two types xdg-settings sets for a browser as
  // well, so that it has no reason to rewrite the entry: it stays as install wrote it.
  EXPECT_NE(entry.find("\nMimeType=x-scheme-handler/http;x-scheme-handler/https;text/html;"
                       "application/xhtml+xml;x-scheme-handler/about;x-scheme-handler/unknown;\n"),
            std::string::npos) << entry;
  EXPECT_NE(entry.find("\nCategories=Network;WebBrowser;\n"), std::string::npos);
  EXPECT_EQ(session.defaultBrowser(), "linkferry.desktop\n");
  for (const char* type : {"x-scheme-handler/https", "text/html", "application/xhtml+xml"}) {
    EXPECT_EQ(session.run("/usr/bin/xdg-mime", {"query", "default", type}).standardOutput,
              "linkferry.desktop\n")
        << type;
  }
  const JsonValue remembered = JsonValue::parse(
      Files::read(session.path("config/linkferry/previous-defaults.json")));
  EXPECT_EQ(remembered["defaultWebBrowser"], "oldbrowser.desktop");
  EXPECT_EQ(remembered["mimeappsDefaults"]["x-scheme-handler/http"], "oldbrowser.desktop");

  const auto healthy = session.linkferry({"doctor"});
  EXPECT_EQ(healthy.exitStatus, 0) << healthy.standardOutput;
  EXPECT_EQ(healthy.standardOutput.find("PROBLEM"), std::string::npos) << healthy.standardOutput;

  // An entry written before local pages were claimed is named, with what it lacks.
  std::string older = entry;
  older.replace(older.find("application/xhtml+xml;"), std::strlen("application/xhtml+xml;"), "");
  session.write("data/applications/linkferry.desktop", older);
  const auto outdated = session.linkferry({"doctor"});
  EXPECT_NE(outdated.standardOutput.find("does not declare application/xhtml+xml"),
            std::string::npos) << outdated.standardOutput;
  session.write("data/applications/linkferry.desktop", entry);

  // A desktop's own list outranks the shared one for that desktop only; broken rules and a log
  // journal the log cannot read are named.
  ASSERT_EQ(::mkfifo(session.path("config/linkferry/log.json.journal").c_str(), 0600), 0);
  session.write("config/gnome-mimeapps.list",
                "[Default Applications]\nx-scheme-handler/http=oldbrowser.desktop\n");
  session.write("config/linkferry/rules.json", "{\"version\": 1, \"rules\": [}");
  session.write("config/linkferry/settings.json", "{\"alwaysAsk\": \"sometimes\"}");
  const auto broken = session.linkferry({"doctor", "--json"});
  EXPECT_EQ(broken.exitStatus, 1);
  const JsonValue checks = checksByName(broken);
  EXPECT_FALSE(checks["default for GNOME"]["ok"].get<bool>());
  EXPECT_EQ(checks["default for GNOME"]["fix"],
            "remove the line \"x-scheme-handler/http=oldbrowser.desktop\" from " +
                session.path("config/gnome-mimeapps.list").string());
  EXPECT_TRUE(checks["default for KDE"]["ok"].get<bool>());
  EXPECT_TRUE(checks["default for Xfce"]["ok"].get<bool>());
  EXPECT_FALSE(checks["rules"]["ok"].get<bool>());
  EXPECT_NE(checks["rules"]["message"].get<std::string>().find("rules.json: line 1"),
            std::string::npos)
      << checks["rules"];
  EXPECT_FALSE(checks["settings"]["ok"].get<bool>());
  EXPECT_NE(checks["settings"]["message"].get<std::string>().find("settings.json: alwaysAsk"),
            std::string::npos)
      << checks["settings"];
  const fs::path journal = session.path("config/linkferry/log.json.journal");
  EXPECT_EQ(checks["log"]["message"], "cannot read " + journal.string() + ": not a regular file");
  fs::remove(session.path("config/gnome-mimeapps.list"));
  fs::remove(journal);

  const auto uninstall = session.linkferry({"uninstall"});
  ASSERT_EQ(uninstall.exitStatus, 0) << uninstall.standardError;
  EXPECT_EQ(uninstall.standardError, "");
  EXPECT_EQ(session.defaultBrowser(), "oldbrowser.desktop\n");
  EXPECT_EQ(Files::read(list), before);
  EXPECT_FALSE(fs::exists(session.path("data/applications/linkferry.desktop")));
  EXPECT_FALSE(fs::exists(session.path("config/linkferry/previous-defaults.json")));
}

TEST(DesktopIntegration, UninstallLeavesADefaultTheUserChangedSince) {
  Session session;
  ASSERT_EQ(session.linkferry({"install"}).exitStatus, 0);
  ASSERT_EQ(session.run("/usr/bin/xdg-mime", {"default", "oldbrowser.desktop",
                                              "x-scheme-handler/https"}).exitStatus, 0);
  const auto uninstall = session.linkferry({"uninstall"});
  ASSERT_EQ(uninstall.exitStatus, 0) << uninstall.standardError;
  const std::string text = Files::read(session.path("config/mimeapps.list"));
  EXPECT_NE(text.find("x-scheme-handler/https=oldbrowser.desktop\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("linkferry.desktop"), std::string::npos) << text;
}

TEST(DesktopIntegration, InstalledProgramsPointTheEntryAtThemselvesWithTheirIcon) {
  // An installed layout: the programs in <prefix>/bin, the icon in <prefix>/share; no build
  // folder above them.
  TemporaryDirectory prefix;
  const fs::path bin = prefix.path() / "usr" / "bin";
  fs::create_directories(bin);
  for (const char* name : {"linkferry", "linkferry-open"}) {
    fs::copy_file(Session::program().parent_path() / name, bin / name);
  }
  const std::string icon = "usr/share/icons/hicolor/scalable/apps/linkferry.svg";
  EXPECT_EQ(DesktopIntegration::iconName(bin / "linkferry"), "web-browser");
  prefix.write(icon, "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
  EXPECT_EQ(DesktopIntegration::iconName(bin / "linkferry"), "linkferry");
  EXPECT_EQ(DesktopIntegration::buildFolder(bin / "linkferry"), std::nullopt);
  EXPECT_EQ(DesktopIntegration::buildFolder(Session::program()),
            Session::program().parent_path().parent_path());

  Session session;
  const auto install = session.run((bin / "linkferry").string(), {"install"});
  ASSERT_EQ(install.exitStatus, 0) << install.standardError << install.standardOutput;
  EXPECT_NE(install.standardOutput.find("\nthe desktop entry runs " +
                                        (bin / "linkferry-open").string() + "\n"),
            std::string::npos)
      << install.standardOutput;
  const std::string entry = Files::read(session.path("data/applications/linkferry.desktop"));
  EXPECT_NE(entry.find("\nExec=" + (bin / "linkferry-open").string() + " --start-service %u\n"),
            std::string::npos) << entry;
  EXPECT_NE(entry.find("\nIcon=linkferry\n"), std::string::npos) << entry;
  const std::string service = Files::read(session.path("config/systemd/user/linkferry.service"));
  EXPECT_NE(service.find("\nExecStart=" + (bin / "linkferry").string() + " serve\n"),
            std::string::npos) << service;
  EXPECT_EQ(session.linkferry({"uninstall"}).exitStatus, 0);
}

TEST(DesktopIntegration, ExecQuotesAProgramPathWithSpaces) {
  const std::string text = DesktopIntegration::desktopEntryText("/opt/Link Ferry/50%/linkferry");
  const auto entry = DesktopEntry::parse(text, "linkferry", "linkferry.desktop");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->exec,
            (std::vector<std::string>{"/opt/Link Ferry/50%/linkferry", "open",
                                      "--start-service"}));
  EXPECT_TRUE(entry->handlesWebLinks());
}

}  // namespace
}  // namespace linkferry
