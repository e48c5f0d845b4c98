#include "launching/LinuxHelperPolicy.h"

#include <gtest/gtest.h>

#include <optional>

namespace linkferry {
namespace {

using HelperPolicy::Rejection;

const std::filesystem::path kHome = "/home/ann";

DesktopEntry entry(std::string id, std::vector<std::string> exec, bool browser) {
  DesktopEntry result;
  result.id = std::move(id);
  result.name = result.id;
  result.exec = std::move(exec);
  if (browser) result.mimeTypes = {"text/html", "x-scheme-handler/https"};
  result.path = "/usr/share/applications/" + result.id + ".desktop";
  return result;
}

LinuxHelperPolicy::Installed machine() {
  const std::vector<DesktopEntry> entries = {
      entry("chromium", {"chromium"}, true),
      entry("org.mozilla.firefox",
            {"/usr/bin/flatpak", "run", "--command=firefox", "org.mozilla.firefox"}, true),
      entry("firefox-esr", {"/usr/lib/firefox-esr/firefox-esr"}, true),
      entry("org.gnome.Evolution", {"evolution"}, false),
      entry("linkferry", {"/opt/linkferry/linkferry", "open"}, true),
      entry("lost", {"lost-browser"}, true),
  };
  return LinuxHelperPolicy::installed(
      entries, std::string("/usr/bin:/bin"), [](const std::string& path) {
        return path == "/usr/bin/chromium" || path == "/usr/bin/evolution";
      });
}

std::optional<std::string> refusal(const LaunchPlan& plan) {
  static const auto installed = machine();
  try {
    LinuxHelperPolicy::validate(plan, installed, kHome);
    return std::nullopt;
  } catch (const Rejection& rejection) {
    return rejection.description();
  }
}

TEST(LinuxHelperPolicy, InstalledSplitsBrowsersFromOtherApps) {
  const auto installed = machine();
  ASSERT_EQ(installed.browsers.size(), 4u);  // linkferry's own entry is never a browser
  EXPECT_EQ(installed.browsers[0].program, "/usr/bin/chromium");
  EXPECT_EQ(installed.browsers[1].arguments,
            (std::vector<std::string>{"run", "--command=firefox", "org.mozilla.firefox"}));
  EXPECT_EQ(installed.browsers[3].program, "lost-browser");
  EXPECT_TRUE(installed.otherPrograms.contains("/usr/bin/evolution"));
  EXPECT_TRUE(installed.desktopIDs.contains("org.gnome.Evolution"));
  EXPECT_FALSE(installed.desktopIDs.contains("linkferry"));
}

TEST(LinuxHelperPolicy, AcceptsOnlyTheBuildersShapes) {
  const std::string link = "https://a.test/";
  const std::string flatpak = "/usr/bin/flatpak";
  const std::vector<std::string> ff = {"run", "--command=firefox", "org.mozilla.firefox"};
  const auto withFF = [&](std::vector<std::string> tail) {
    auto all = ff;
    all.insert(all.end(), tail.begin(), tail.end());
    return LaunchPlan(flatpak, all, {});
  };
  struct Case {
    const char* name;
    LaunchPlan plan;
    std::optional<std::string> refusal;
  };
  const std::vector<Case> cases = {
      {"chromium profile",
       LaunchPlan("/usr/bin/chromium",
                  {"--profile-directory=Default", "--incognito", "--new-window", link}, {}),
       {}},
      {"chromium without link", LaunchPlan("/usr/bin/chromium", {"--new-window"}, {}), {}},
      {"chromium instance",
       LaunchPlan("/usr/bin/chromium", {"--user-data-dir=/home/ann/.config/chromium-work", link},
                  {}),
       {}},
      {"data dir is home",
       LaunchPlan("/usr/bin/chromium", {"--user-data-dir=/home/ann/", link}, {}),
       "unexpected argument --user-data-dir=/home/ann/"},
      {"data dir leaves home",
       LaunchPlan("/usr/bin/chromium", {"--user-data-dir=/home/ann/../bob/x", link}, {}),
       "unexpected argument --user-data-dir=/home/ann/../bob/x"},
      {"data dir elsewhere", LaunchPlan("/usr/bin/chromium", {"--user-data-dir=/tmp/x", link}, {}),
       "unexpected argument --user-data-dir=/tmp/x"},
      {"flatpak firefox private", withFF({"-P", "work", "--private-window", link}), {}},
      {"flatpak missing own argument",
       LaunchPlan(flatpak, {"run", "--command=sh", "org.mozilla.firefox", link}, {}),
       "unexpected argument --command=sh"},
      {"flatpak bare", LaunchPlan(flatpak, {}, {}), "unexpected argument "},
      {"extra flag", LaunchPlan("/usr/bin/chromium", {"--remote-debugging-port=1", link}, {}),
       "unexpected argument --remote-debugging-port=1"},
      {"mailto to a browser", LaunchPlan("/usr/bin/chromium", {"mailto:a@b.test"}, {}),
       "not a link LinkFerry opens: mailto:a@b.test"},
      {"dash link is a flag", LaunchPlan("/usr/bin/chromium", {"-https://a.test"}, {}),
       "unexpected argument -https://a.test"},
      {"two links", LaunchPlan("/usr/bin/chromium", {link, link}, {}),
       "unexpected argument " + link},
      {"gtk-launch app link",
       LaunchPlan("/usr/bin/env", {"gtk-launch", "org.gnome.Evolution", "mailto:a@b.test"}, {}),
       {}},
      {"gtk-launch browser", LaunchPlan("/usr/bin/env", {"gtk-launch", "chromium", link}, {}), {}},
      {"gtk-launch file link",
       LaunchPlan("/usr/bin/env", {"gtk-launch", "chromium", "file:///etc/passwd"}, {}),
       "not a link LinkFerry opens: file:///etc/passwd"},
      {"gtk-launch unknown id", LaunchPlan("/usr/bin/env", {"gtk-launch", "evil", link}, {}),
       "not an installed app: evil"},
      {"gtk-launch own entry", LaunchPlan("/usr/bin/env", {"gtk-launch", "linkferry", link}, {}),
       "not an installed app: linkferry"},
      {"gtk-launch option as id", LaunchPlan("/usr/bin/env", {"gtk-launch", "--help"}, {}),
       "not an installed app: --help"},
      {"gtk-launch without id", LaunchPlan("/usr/bin/env", {"gtk-launch"}, {}),
       "not an installed app: "},
      {"gtk-launch second link",
       LaunchPlan("/usr/bin/env", {"gtk-launch", "chromium", link, link}, {}),
       "unexpected argument " + link},
      {"env runs a shell", LaunchPlan("/usr/bin/env", {"sh", "-c", "id"}, {}),
       "unexpected argument sh"},
      {"shell", LaunchPlan("/bin/sh", {"-c", "id"}, {}), "not a LinkFerry launch"},
      {"macOS open", LaunchPlan("/usr/bin/open", {"-b", "x", link}, {}), "not a LinkFerry launch"},
      {"installed app that is no browser", LaunchPlan("/usr/bin/evolution", {link}, {}),
       "not an installed app: /usr/bin/evolution"},
      {"own program", LaunchPlan("/opt/linkferry/linkferry", {"open", link}, {}),
       "not an installed app: /opt/linkferry/linkferry"},
      {"program not on the path", LaunchPlan("lost-browser", {link}, {}), "not a LinkFerry launch"},
      {"bad fallback", LaunchPlan("/usr/bin/chromium", {link}, {}, {LaunchPlan("/bin/sh", {}, {})}),
       "not a LinkFerry launch"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(refusal(c.plan), c.refusal);
  }
}

}  // namespace
}  // namespace linkferry
