// Every plan the builders make is accepted, and random plans are accepted exactly when an oracle,
// written from the allowed command-line forms rather than from the policy's code, says they fit.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "launching/HelperPolicy.h"
#include "launching/LaunchCommand.h"
#include "launching/LinuxHelperPolicy.h"

namespace linkferry {
namespace {

const std::filesystem::path kHome = "/Users/ann";
const std::string kSupport = "/Users/ann/Library/Application Support";

BrowserProfile profile(std::string id, std::vector<FirefoxContainer> containers = {}) {
  BrowserProfile result;
  result.id = id;
  result.name = id;
  result.path = "/p/" + id;
  result.containers = std::move(containers);
  return result;
}

CatalogBrowser browser(std::string id, BrowserFamily family, std::string app,
                       std::vector<BrowserProfile> profiles = {},
                       std::optional<std::string> dataDir = std::nullopt,
                       std::vector<std::string> launchArguments = {}) {
  CatalogBrowser result;
  result.definition.id = std::move(id);
  result.definition.name = result.definition.id;
  result.definition.family = family;
  result.definition.appPath = std::move(app);
  result.definition.dataDir = dataDir;
  result.definition.explicitUserDataDir = dataDir.has_value();
  result.definition.launchArguments = std::move(launchArguments);
  result.profiles = std::move(profiles);
  return result;
}

BrowserCatalog macCatalog() {
  const std::vector<FirefoxContainer> containers = {{"1", "Work", "blue"}, {"2", "Bank", {}}};
  return BrowserCatalog{{
      browser("com.google.Chrome", BrowserFamily::chromium, "/Applications/Google Chrome.app",
              {profile("Default"), profile("Profile 1")}),
      browser("com.brave.Browser", BrowserFamily::chromium, "/Applications/Brave Browser.app",
              {profile("Default")}),
      browser("chrome-work", BrowserFamily::chromium, "/Applications/Google Chrome.app",
              {profile("Default")}, kSupport + "/Chrome Work"),
      browser("org.mozilla.firefox", BrowserFamily::firefox, "/Applications/Firefox.app",
              {profile("default-release", containers), profile("work")}),
      browser("com.apple.Safari", BrowserFamily::safari, "/Applications/Safari.app"),
      browser("com.kagi.kagimacOS", BrowserFamily::safari, "/Applications/Orion.app"),
      browser("org.example.other", BrowserFamily::other, "/Applications/Other Browser.app"),
  }};
}

std::set<std::string> appPaths(const BrowserCatalog& catalog) {
  std::set<std::string> paths;
  for (const auto& b : catalog.browsers) paths.insert(b.definition.appPath);
  return paths;
}

std::vector<DesktopEntry> linuxEntries() {
  const auto entry = [](std::string id, std::vector<std::string> exec, bool web) {
    DesktopEntry e;
    e.id = std::move(id);
    e.name = e.id;
    e.exec = std::move(exec);
    if (web) e.mimeTypes = {"x-scheme-handler/http", "x-scheme-handler/https"};
    e.path = "/usr/share/applications/" + e.id + ".desktop";
    return e;
  };
  return {
      entry("chromium", {"/usr/bin/chromium"}, true),
      entry("com.brave.Browser",
            {"/usr/bin/flatpak", "run", "--branch=stable", "com.brave.Browser"}, true),
      entry("firefox-esr", {"/usr/lib/firefox-esr/firefox-esr"}, true),
      entry("epiphany", {"/usr/bin/epiphany", "--new-window"}, true),
      entry("org.gnome.Evolution", {"/usr/bin/evolution"}, false),
  };
}

BrowserCatalog linuxCatalog() {
  const auto entries = linuxEntries();
  BrowserCatalog catalog;
  for (const auto& e : entries) {
    if (!e.handlesWebLinks()) continue;
    const auto family = e.id == "firefox-esr" ? BrowserFamily::firefox
                        : e.id == "epiphany"  ? BrowserFamily::other
                                              : BrowserFamily::chromium;
    catalog.browsers.push_back(
        browser(e.id, family, e.exec[0], {}, std::nullopt, {e.exec.begin() + 1, e.exec.end()}));
  }
  catalog.browsers[0].profiles = {profile("Default"), profile("Profile 2")};
  catalog.browsers[2].profiles = {profile("default-esr", {{"1", "Work", {}}})};
  // A custom instance of an installed program with its own data folder inside the home folder.
  catalog.browsers.push_back(browser("chromium-work", BrowserFamily::chromium, "/usr/bin/chromium",
                                     {profile("Default")},
                                     kHome.string() + "/.config/chromium-work"));
  return catalog;
}

LinuxHelperPolicy::Installed linuxInstalled() {
  return LinuxHelperPolicy::installed(linuxEntries(), std::nullopt,
                                      [](const std::string&) { return false; });
}

std::optional<std::string> macRefusal(const LaunchPlan& plan, const std::set<std::string>& apps) {
  try {
    HelperPolicy::validate(
        plan, [&](const std::string& p) { return apps.contains(p); }, kHome);
    return std::nullopt;
  } catch (const HelperPolicy::Rejection& rejection) {
    return rejection.description();
  }
}

std::optional<std::string> linuxRefusal(const LaunchPlan& plan,
                                        const LinuxHelperPolicy::Installed& installed) {
  try {
    LinuxHelperPolicy::validate(plan, installed, kHome);
    return std::nullopt;
  } catch (const HelperPolicy::Rejection& rejection) {
    return rejection.description();
  }
}

TEST(HelperPolicyProperty, EveryBuiltPlanIsAccepted) {
  const auto links = {"https://a.test/path?q=1#f", "http://b.test", "https://-x.test/"};
  const auto mac = macCatalog();
  const auto apps = appPaths(mac);
  const auto installed = linuxInstalled();
  const auto linux = linuxCatalog();
  std::size_t count = 0;
  for (const char* text : links) {
    const auto url = URL::parse(text).value();
    for (const auto& plan : LaunchCommand::allPlans(mac, url, LaunchPlatform::macOS)) {
      SCOPED_TRACE(plan.toJson().dump());
      EXPECT_EQ(macRefusal(plan, apps), std::nullopt);
      ++count;
    }
    for (const auto& plan : LaunchCommand::allPlans(linux, url, LaunchPlatform::linux)) {
      SCOPED_TRACE(plan.toJson().dump());
      // App targets name desktop entries; a custom definition's id is none, so gtk-launch could
      // not start it either.
      if (plan.arguments.size() > 1 && plan.arguments[1] == "chromium-work") continue;
      EXPECT_EQ(linuxRefusal(plan, installed), std::nullopt);
      ++count;
    }
  }
  EXPECT_GT(count, 500u);
}

// --- The oracle: the allowed forms, written as a grammar over whole arguments ---

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.rfind(prefix, 0) == 0;
}

std::optional<std::string> schemeOf(const std::string& link) {
  // A URL never holds spaces or control characters.
  for (char c : link) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return std::nullopt;
  }
  // RFC 3986: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
  const auto colon = link.find(':');
  if (colon == std::string::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(link[0]))) {
    return std::nullopt;
  }
  std::string scheme;
  for (char c : link.substr(0, colon)) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
      return std::nullopt;
    scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return scheme;
}

bool webLink(const std::string& link) {
  const auto scheme = schemeOf(link);
  return scheme == "http" || scheme == "https";
}

bool appLink(const std::string& link) {
  static const std::set<std::string> refused = {"file",
                                                "javascript",
                                                "data",
                                                "vbscript",
                                                "x-apple.systempreferences",
                                                "linkferry-helper",
                                                "applescript",
                                                "ftp"};
  const auto scheme = schemeOf(link);
  return scheme && !refused.contains(*scheme);
}

bool inside(const std::string& path, const std::string& root) {
  std::string expanded = path;
  if (expanded == "~" || startsWith(expanded, "~/")) expanded = kHome.string() + expanded.substr(1);
  if (!startsWith(expanded, "/")) return false;
  std::string normal = std::filesystem::path(expanded).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return startsWith(normal, root + "/") && normal.size() > root.size() + 1 &&
         normal.find("..") == std::string::npos;
}

bool flagsAndLink(const std::vector<std::string>& a, std::size_t i, const std::string& dataRoot) {
  if (i == a.size()) return true;
  const std::string& x = a[i];
  if (i + 1 == a.size() && !startsWith(x, "-")) return webLink(x);
  static const std::set<std::string> simple = {"--incognito", "--new-window", "--private-window",
                                               "--new-tab"};
  if (simple.contains(x)) return flagsAndLink(a, i + 1, dataRoot);
  if (x == "-P") {
    return i + 1 < a.size() && !startsWith(a[i + 1], "-") &&
           a[i + 1].find('/') == std::string::npos && flagsAndLink(a, i + 2, dataRoot);
  }
  if (startsWith(x, "--profile-directory=")) {
    const std::string name = x.substr(20);
    return !name.empty() && name.find('/') == std::string::npos &&
           name.find("..") == std::string::npos && flagsAndLink(a, i + 1, dataRoot);
  }
  if (startsWith(x, "--user-data-dir=")) {
    return inside(x.substr(16), dataRoot) && flagsAndLink(a, i + 1, dataRoot);
  }
  return false;
}

const std::vector<std::string> kScriptBundles = {"com.apple.Safari", "com.google.Chrome",
                                                 "com.kagi.kagimacOS", "org.mozilla.firefox"};

bool macFits(const LaunchPlan& plan, const std::set<std::string>& apps) {
  for (const auto& fallback : plan.fallbacks) {
    if (!macFits(fallback, apps)) return false;
  }
  std::vector<std::string> a = plan.arguments;
  if (plan.executable == "/usr/bin/osascript") {
    for (const auto& bundle : kScriptBundles) {
      const auto tab = LaunchCommand::tabProperty(bundle);
      if (!tab) continue;
      for (bool background : {false, true}) {
        std::vector<std::string> expected;
        for (const auto& line : LaunchCommand::currentTabScript(bundle, *tab, background)) {
          expected.push_back("-e");
          expected.push_back(line);
        }
        if (a.size() == expected.size() + 1 &&
            std::equal(expected.begin(), expected.end(), a.begin()) && webLink(a.back())) {
          return true;
        }
      }
    }
    return false;
  }
  if (plan.executable != "/usr/bin/open") return false;
  if (!a.empty() && a[0] == "-g") a.erase(a.begin());
  if (a.size() >= 2 && a[0] == "-b") {
    return !startsWith(a[1], "-") && (a.size() == 2 || (a.size() == 3 && appLink(a[2])));
  }
  if (a.size() >= 2 && a[0] == "-a" && apps.contains(a[1])) {
    return a.size() == 2 || (a.size() == 3 && webLink(a[2]));
  }
  if (a.size() >= 3 && a[0] == "-na" && apps.contains(a[1]) && a[2] == "--args") {
    return flagsAndLink(a, 3, kSupport);
  }
  return false;
}

bool linuxFits(const LaunchPlan& plan, const std::vector<DesktopEntry>& entries) {
  for (const auto& fallback : plan.fallbacks) {
    if (!linuxFits(fallback, entries)) return false;
  }
  const auto& a = plan.arguments;
  if (plan.executable == "/usr/bin/env") {
    return a.size() >= 2 && a.size() <= 3 && a[0] == "gtk-launch" &&
           std::any_of(entries.begin(), entries.end(),
                       [&](const DesktopEntry& e) { return e.id == a[1]; }) &&
           (a.size() == 2 || appLink(a[2]));
  }
  for (const auto& e : entries) {
    if (!e.handlesWebLinks() || e.exec[0] != plan.executable) continue;
    const std::size_t own = e.exec.size() - 1;
    if (a.size() >= own && std::equal(e.exec.begin() + 1, e.exec.end(), a.begin()) &&
        flagsAndLink(a, own, kHome.string())) {
      return true;
    }
  }
  return false;
}

// --- Random plans ---

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : m_random(seed) {}

  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[std::uniform_int_distribution<std::size_t>(0, items.size() - 1)(m_random)];
  }
  bool chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(m_random) < percent; }

  std::string link() {
    return pick(std::vector<std::string>{
        "https://a.test/", "http://b.test/x?y#z", "HTTPS://C.TEST", "mailto:a@b.test", "tel:+1",
        "file:///etc/passwd", "javascript:alert(1)", "data:text/html,x", "ftp://f.test",
        "linkferry-helper://run?plan=e30", "x-apple.systempreferences:x", "zoommtg://z",
        "-https://a.test", "a.test", "", "https://a.test/ b", "vbscript:x", "AppleScript:x"});
  }
  std::string flag() {
    return pick(std::vector<std::string>{"--incognito",
                                         "--new-window",
                                         "--private-window",
                                         "--new-tab",
                                         "-P",
                                         "work",
                                         "-P",
                                         "--profile-directory=Default",
                                         "--profile-directory=",
                                         "--profile-directory=../x",
                                         "--profile-directory=a/b",
                                         "--user-data-dir=" + kSupport + "/X",
                                         "--user-data-dir=" + kSupport,
                                         "--user-data-dir=" + kSupport + "/../x",
                                         "--user-data-dir=" + kSupport + "/a/../b",
                                         "--user-data-dir=~/Library/Application Support/Y",
                                         "--user-data-dir=/Users/ann/.config/chromium-x",
                                         "--user-data-dir=/Users/ann",
                                         "--user-data-dir=/tmp/x",
                                         "--user-data-dir=/Users/ann/a/./b//",
                                         "-g",
                                         "--args",
                                         "--remote-debugging-port=1",
                                         "-new-instance",
                                         "--",
                                         "-"});
  }
  std::vector<std::string> tail() {
    std::vector<std::string> result;
    const int count = std::uniform_int_distribution<int>(0, 4)(m_random);
    for (int i = 0; i < count; ++i) result.push_back(flag());
    if (chance(70)) result.push_back(link());
    return result;
  }

  LaunchPlan macPlan(const std::set<std::string>& apps, int depth = 0) {
    LaunchPlan plan;
    const std::vector<std::string> appList(apps.begin(), apps.end());
    const int shape = std::uniform_int_distribution<int>(0, 6)(m_random);
    plan.executable = chance(90)
                          ? "/usr/bin/open"
                          : pick(std::vector<std::string>{"/bin/sh", "/usr/bin/env", "open"});
    std::vector<std::string>& a = plan.arguments;
    if (chance(30)) a.push_back("-g");
    const std::string app = chance(85) ? pick(appList) : "/tmp/Evil.app";
    switch (shape) {
      case 0:
        a.insert(a.end(), {"-b", chance(90) ? "com.x" : "-x"});
        if (chance(80)) a.push_back(link());
        if (chance(10)) a.push_back(link());
        break;
      case 1:
        a.insert(a.end(), {"-a", app});
        if (chance(80)) a.push_back(link());
        if (chance(10)) a.push_back(link());
        break;
      case 2:
      case 3: {
        a.insert(a.end(), {"-na", app});
        if (chance(90)) a.push_back("--args");
        for (auto& x : tail()) a.push_back(x);
        break;
      }
      case 4: {
        plan.executable = "/usr/bin/osascript";
        a.clear();
        const std::string bundle = pick(kScriptBundles);
        auto lines = LaunchCommand::currentTabScript(
            bundle, chance(80) ? LaunchCommand::tabProperty(bundle).value_or("current tab") : "tab",
            chance(50));
        if (chance(15))
          lines.erase(lines.begin() +
                      std::uniform_int_distribution<std::size_t>(0, lines.size() - 1)(m_random));
        if (chance(10)) lines[5] = "do shell script \"id\"";
        for (const auto& line : lines) a.insert(a.end(), {"-e", line});
        a.push_back(link());
        if (chance(10)) a.push_back(link());
        break;
      }
      default:
        for (int i = 0; i < 4; ++i) a.push_back(chance(50) ? flag() : link());
        break;
    }
    shuffleSometimes(a);
    if (depth < 2 && chance(25)) plan.fallbacks.push_back(macPlan(apps, depth + 1));
    if (depth < 2 && chance(10)) plan.fallbacks.push_back(macPlan(apps, depth + 1));
    return plan;
  }

  LaunchPlan linuxPlan(const std::vector<DesktopEntry>& entries, int depth = 0) {
    LaunchPlan plan;
    std::vector<std::string>& a = plan.arguments;
    if (chance(25)) {
      plan.executable = chance(90) ? "/usr/bin/env" : "/bin/sh";
      a.push_back(chance(90) ? "gtk-launch" : "sh");
      a.push_back(chance(85) ? pick(entries).id
                             : pick(std::vector<std::string>{"linkferry", "--help", "missing"}));
      if (chance(85)) a.push_back(link());
      if (chance(10)) a.push_back(link());
    } else {
      const DesktopEntry& e = pick(entries);
      plan.executable =
          chance(90) ? e.exec[0]
                     : pick(std::vector<std::string>{"/bin/sh", "chromium", "/usr/bin/open"});
      a.assign(e.exec.begin() + 1, e.exec.end());
      if (chance(10) && !a.empty()) a.back() = "--command=sh";
      for (auto& x : tail()) a.push_back(x);
    }
    shuffleSometimes(a);
    if (depth < 2 && chance(15)) plan.fallbacks.push_back(linuxPlan(entries, depth + 1));
    return plan;
  }

 private:
  void shuffleSometimes(std::vector<std::string>& a) {
    if (a.size() >= 2 && chance(10)) {
      std::uniform_int_distribution<std::size_t> index(0, a.size() - 1);
      std::swap(a[index(m_random)], a[index(m_random)]);
    }
  }
  std::mt19937 m_random;
};

TEST(HelperPolicyProperty, RandomPlansAreAcceptedExactlyWhenTheyFitTheForms) {
  const auto apps = appPaths(macCatalog());
  const auto entries = linuxEntries();
  const auto installed = linuxInstalled();
  Generator generator(20261207);
  int macAccepted = 0;
  int linuxAccepted = 0;
  constexpr int kRounds = 4000;
  for (int round = 0; round < kRounds; ++round) {
    const LaunchPlan mac = generator.macPlan(apps);
    const bool macOK = !macRefusal(mac, apps).has_value();
    EXPECT_EQ(macOK, macFits(mac, apps)) << mac.toJson().dump();
    macAccepted += macOK;

    const LaunchPlan linux = generator.linuxPlan(entries);
    const bool linuxOK = !linuxRefusal(linux, installed).has_value();
    EXPECT_EQ(linuxOK, linuxFits(linux, entries)) << linux.toJson().dump();
    linuxAccepted += linuxOK;
    // The Linux helper never accepts a macOS shape, and the reverse.
    EXPECT_TRUE(linuxRefusal(mac, installed).has_value());
    EXPECT_TRUE(macRefusal(linux, apps).has_value());
    if (::testing::Test::HasFailure()) break;
  }
  // Both outcomes must be well represented, or the comparison proves little.
  EXPECT_GT(macAccepted, kRounds / 20);
  EXPECT_LT(macAccepted, kRounds * 9 / 10);
  EXPECT_GT(linuxAccepted, kRounds / 20);
  EXPECT_LT(linuxAccepted, kRounds * 9 / 10);
}

}  // namespace
}  // namespace linkferry
