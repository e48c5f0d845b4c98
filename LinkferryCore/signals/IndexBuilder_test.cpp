#include "signals/IndexBuilder.h"

#include <sys/stat.h>

#include <map>

#include <gtest/gtest.h>

#include "fixtures/BrowserDatabases.h"
#include "fixtures/RealBrowsers.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/URL.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using fixtures::chromiumTime;
using fixtures::firefoxTime;
using testing::TemporaryDirectory;

constexpr double kDay = 86400;
const Date kNow{1796629939};

CatalogBrowser browser(std::string id, BrowserFamily family,
                       const std::vector<std::pair<std::string, fs::path>>& profiles) {
  CatalogBrowser result;
  result.definition.id = std::move(id);
  result.definition.name = result.definition.id;
  result.definition.family = family;
  for (const auto& [profileID, path] : profiles) {
    BrowserProfile profile;
    profile.id = profile.name = profileID;
    profile.path = path;
    result.profiles.push_back(profile);
  }
  return result;
}

BrowserTarget target(std::string browser, std::optional<std::string> profile,
                     std::optional<std::string> container = std::nullopt) {
  return BrowserTarget{std::move(browser), std::move(profile), std::move(container), false};
}

IndexBuilder builder(std::optional<fs::path> safari = std::nullopt) {
  return IndexBuilder{PublicSuffixList::shared(), SessionClassifier(),
                      IndexBuilder::kDefaultHistoryWindow, std::move(safari)};
}

TEST(IndexBuilder, TheStandardBuilderReadsSafariOnlyWhenAsked) {
  const IndexBuilder builder = IndexBuilder::standard(false);
  EXPECT_EQ(builder.safariHistoryDB, std::nullopt);
  EXPECT_EQ(builder.historyWindow, 7776000);
  EXPECT_EQ(builder.classifier.maxIdle, 2592000);
  EXPECT_TRUE(IndexBuilder::standard(true).safariHistoryDB.has_value());
}

TEST(IndexBuilder, CondensesCookiesAndHistoryPerRegistrableDomainAndTarget) {
  TemporaryDirectory folder;
  const fs::path chromium = folder.path() / "chromium" / "Default";
  const auto now = chromiumTime(kNow.secondsSince1970);
  const auto year = chromiumTime(kNow.secondsSince1970 + 365 * kDay);
  fixtures::writeChromiumCookies(
      chromium / "Cookies",
      {{".mail.example.co.uk", "SESSIONID", year, chromiumTime(kNow.secondsSince1970 - 10 * kDay),
        true},
       {"app.example.com", "prefs", 0, now, false},
       {"stale.example.net", "auth", chromiumTime(kNow.secondsSince1970 - kDay), now, true},
       {"localhost", "sessionid", year, now, true}});
  fixtures::writeChromiumHistory(
      chromium / "History",
      {{"https://a.example.com/x", chromiumTime(kNow.secondsSince1970 - 3 * kDay), 2},
       {"https://b.example.com/y", chromiumTime(kNow.secondsSince1970 - kDay), 5},
       {"https://a.example.com/z?q=%41", chromiumTime(kNow.secondsSince1970 - 5 * kDay), 4},
       {"https://a.example.com/100%", now, 7},  // no link: skipped although its host reads well
       {"http://EXAMPLE.com/", chromiumTime(kNow.secondsSince1970 - 2 * kDay), 1},
       {"https://old.example.com/", chromiumTime(kNow.secondsSince1970 - 91 * kDay), 40},
       {"about:blank", now, 3},
       {"not a url", now, 3},
       {"http://localhost:8080/", now, 3}});

  const fs::path firefox = folder.path() / "firefox" / "work";
  const auto ms = [](double seconds) { return static_cast<std::int64_t>(seconds * 1000); };
  fixtures::writeFirefoxCookies(firefox / "cookies.sqlite",
                                {{".example.com", "sso_session", ms(kNow.secondsSince1970 + kDay),
                                  firefoxTime(kNow.secondsSince1970), "^userContextId=2"},
                                 {"app.example.com", "sessionid", ms(kNow.secondsSince1970 + kDay),
                                  firefoxTime(kNow.secondsSince1970), "^userContextId=6"},
                                 {"app.example.com", "lang", ms(kNow.secondsSince1970 + kDay),
                                  firefoxTime(kNow.secondsSince1970), ""}});
  fixtures::writeFirefoxPlaces(
      firefox / "places.sqlite",
      {{"http://app.example.com/login", firefoxTime(kNow.secondsSince1970 - 60), 2}});

  const fs::path safari = folder.write("History.db", "not a database at all, but long enough.....");
  BrowserCatalog catalog{{browser("chromium", BrowserFamily::chromium, {{"Default", chromium}}),
                          browser("firefox-esr", BrowserFamily::firefox, {{"work", firefox}}),
                          browser("other", BrowserFamily::other, {{"x", chromium}}),
                          browser("com.apple.Safari", BrowserFamily::safari, {})}};

  const SignalIndex index = builder().build(catalog, kNow);
  EXPECT_EQ(index.builtAt, kNow);
  EXPECT_TRUE(index.issues.empty());  // no Safari database given: Safari is not read
  EXPECT_EQ(index.domains.size(), 2u) << Json::encodePretty(index.toJson());

  auto couk = index.signals("example.co.uk");
  ASSERT_TRUE(couk);
  EXPECT_EQ(couk->sessions, (std::unordered_map<BrowserTarget, SessionLevel>{
                                {target("chromium", "Default"), SessionLevel::strong}}));
  EXPECT_TRUE(couk->history.empty());

  auto com = index.signals("example.com");
  ASSERT_TRUE(com);
  EXPECT_EQ(com->sessions, (std::unordered_map<BrowserTarget, SessionLevel>{
                               {target("chromium", "Default"), SessionLevel::weak},
                               {target("firefox-esr", "work", "2"), SessionLevel::strong},
                               {target("firefox-esr", "work", "6"), SessionLevel::strong},
                               {target("firefox-esr", "work"), SessionLevel::weak}}));
  EXPECT_EQ(com->history,
            (std::unordered_map<BrowserTarget, HistoryStat>{
                {target("chromium", "Default"), {Date{kNow.secondsSince1970 - kDay}, 12}},
                {target("firefox-esr", "work"), {Date{kNow.secondsSince1970 - 60}, 2}}}));
  EXPECT_FALSE(index.signals("www.example.com"));
  EXPECT_FALSE(index.signals("example.net"));

  // A Safari database that cannot be read is one history issue.
  const SignalIndex withSafari = builder(safari).build(catalog, kNow);
  ASSERT_EQ(withSafari.issues.size(), 1u);
  EXPECT_EQ(
      withSafari.issues[0],
      (SourceIssue{target("com.apple.Safari", std::nullopt), "history",
                   "file is not a database (grant Full Disk Access to read Safari history)"}));
}

TEST(IndexBuilder, InternationalSitesMeetWhicheverFormTheHostArrivesIn) {
  // Browsers store international hosts in ASCII form; links arrive in either form.
  TemporaryDirectory folder;
  const fs::path chromium = folder.path() / "chromium" / "Default";
  const auto recent = chromiumTime(kNow.secondsSince1970 - kDay);
  fixtures::writeChromiumHistory(chromium / "History",
                                 {{"https://www.xn--bcher-kva.de/krimi", recent, 3},
                                  {"https://shop.XN--BCHER-KVA.de/", recent, 2},
                                  {"https://a.xn--trna-woa.no/", recent, 4},
                                  {"https://b.xn--trna-woa.no/", recent, 1}});
  fixtures::writeChromiumCookies(chromium / "Cookies",
                                 {{".xn--bcher-kva.de", "session",
                                   chromiumTime(kNow.secondsSince1970 + 30 * kDay), recent, true}});
  BrowserCatalog catalog{{browser("chromium", BrowserFamily::chromium, {{"Default", chromium}})}};
  const SignalIndex index = builder().build(catalog, kNow);

  const PublicSuffixList& psl = PublicSuffixList::shared();
  const auto link = URL::hostOf(
      "https://B\xC3\xBC"
      "cher.de/neu");
  ASSERT_TRUE(link);
  const auto site = psl.siteKey(*link);
  ASSERT_EQ(site, "xn--bcher-kva.de");
  auto books = index.signals(*site);
  ASSERT_TRUE(books) << Json::encodePretty(index.toJson());
  EXPECT_EQ(books->history,
            (std::unordered_map<BrowserTarget, HistoryStat>{
                {target("chromium", "Default"), {Date{kNow.secondsSince1970 - kDay}, 5}}}));
  EXPECT_EQ(books->sessions.size(), 1u);
  EXPECT_EQ(index.signals("b\xC3\xBC"
                          "cher.de"),
            books);  // a Unicode domain finds it too

  // "træna.no" is a public suffix: each name under it is a site of its own.
  auto a = index.signals(*psl.siteKey("www.a.tr\xC3\xA6na.no"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->history.at(target("chromium", "Default")).visits, 4);
  EXPECT_FALSE(index.signals("xn--trna-woa.no"));
  EXPECT_EQ(index.domains.size(), 3u);
}

TEST(IndexBuilder, UnreadableSourcesBecomeIssuesAndTheBuildGoesOn) {
  TemporaryDirectory folder;
  const fs::path good = folder.path() / "good";
  fixtures::writeChromiumHistory(
      good / "History", {{"https://example.org/", chromiumTime(kNow.secondsSince1970), 1}});
  const fs::path text = folder.path() / "text";
  folder.write("text/History", "SQLite format? No: plain text pretending to be History.\n");
  const fs::path truncated = folder.path() / "truncated";
  std::vector<fixtures::ChromiumCookie> many;
  for (int i = 0; i < 3000; ++i)
    many.push_back({"example.org", "c" + std::to_string(i), 0, 1, false});
  fixtures::writeChromiumCookies(truncated / "Cookies", many);
  fs::resize_file(truncated / "Cookies", fs::file_size(truncated / "Cookies") / 2);
  const fs::path columns = folder.path() / "columns";
  {
    fixtures::FixtureDatabase db(columns / "cookies.sqlite");
    db.exec("CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, host TEXT, name TEXT)");
  }
  BrowserCatalog catalog{{browser("chromium", BrowserFamily::chromium,
                                  {{"text", text}, {"truncated", truncated}, {"good", good}}),
                          browser("firefox", BrowserFamily::firefox, {{"columns", columns}})}};

  const SignalIndex index = builder().build(catalog, kNow);
  const std::vector<SourceIssue> expected = {
      {target("chromium", "text"), "history", "file is not a database"},
      {target("chromium", "truncated"), "cookies", "database disk image is malformed"},
      {target("firefox", "columns"), "cookies", "no such column: expiry"},
  };
  EXPECT_EQ(index.issues, expected) << Json::encodePretty(index.toJson());
  EXPECT_TRUE(index.signals("example.org"));
}

TEST(IndexBuilder, AProfileFolderWithoutPermissionIsAnIssue) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the build as another user";
  TemporaryDirectory folder;
  fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
  const fs::path open = folder.path() / "open";
  const fs::path locked = folder.path() / "locked";
  fixtures::writeChromiumHistory(
      open / "History", {{"https://example.org/", chromiumTime(kNow.secondsSince1970), 1}});
  fixtures::writeChromiumHistory(
      locked / "History", {{"https://example.net/", chromiumTime(kNow.secondsSince1970), 1}});
  fs::permissions(open, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(open / "History",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  fs::permissions(locked, fs::perms::owner_all);

  const std::string output = folder.path() / "index.json";
  const std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                              std::string(LINKFERRY_INDEX_PROBE) + " " +
                              std::to_string(kNow.secondsSince1970) + " chromium:" + open.string() +
                              " chromium:" + locked.string() + " > " + output;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  JsonValue index = Json::parse(Files::read(output), output);
  EXPECT_TRUE(index["domains"].contains("example.org"));
  EXPECT_FALSE(index["domains"].contains("example.net"));
  EXPECT_EQ(index["issues"], JsonValue::parse(R"([
              {"target": {"browser": "chromium", "profile": "locked"}, "source": "cookies",
               "message": ")" + (locked / "Cookies").string() +
                                              R"(: Permission denied"},
              {"target": {"browser": "chromium", "profile": "locked"}, "source": "history",
               "message": ")" + (locked / "History").string() +
                                              R"(: Permission denied"}])"));
}

// The database files of a profile folder (with their journals and logs) and their bytes.
std::map<std::string, std::string> databaseFiles(const fs::path& profile) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(profile)) {
    const std::string name = entry.path().filename().string();
    for (const char* stem : {"History", "Cookies", "places.sqlite", "cookies.sqlite"}) {
      if (name.rfind(stem, 0) == 0) files[name] = Files::read(entry.path());
    }
  }
  return files;
}

TEST(IndexBuilder, FindsTheSessionsAndHistoryRealBrowsersWrote) {
  const auto& data = testing::realBrowserData();
  for (const char* browser : {"chromium", "firefox"}) {
    if (auto why = data.unavailable(browser)) GTEST_SKIP() << *why;
    ASSERT_TRUE(data.ok(browser)) << data.failure(browser);
  }
  const std::string clientA = data.firefoxContainer("Client A");
  ASSERT_FALSE(clientA.empty());

  const fs::path personal = data.chromiumProfile("Default");
  const fs::path shop = data.chromiumProfile("Profile 1");
  const fs::path work = data.firefoxProfile("work");
  const BrowserCatalog catalog{
      {browser("chromium", BrowserFamily::chromium, {{"Default", personal}, {"Profile 1", shop}}),
       browser("firefox-esr", BrowserFamily::firefox, {{"work", work}})}};
  const auto before =
      std::vector{databaseFiles(personal), databaseFiles(shop), databaseFiles(work)};

  const SignalIndex index = builder().build(catalog, Date::now());
  const std::string dump = Json::encodePretty(index.toJson());
  EXPECT_TRUE(index.issues.empty()) << dump;

  using Sessions = std::unordered_map<BrowserTarget, SessionLevel>;
  auto com = index.signals("example.com");
  ASSERT_TRUE(com) << dump;
  // sessionid and sso are persistent with session-like names; Firefox kept the container's
  // cookies apart.
  EXPECT_EQ(com->sessions,
            (Sessions{{target("chromium", "Default"), SessionLevel::strong},
                      {target("firefox-esr", "work"), SessionLevel::strong},
                      {target("firefox-esr", "work", clientA), SessionLevel::strong}}))
      << dump;
  ASSERT_EQ(com->history.count(target("chromium", "Default")), 1u) << dump;
  EXPECT_EQ(com->history.at(target("chromium", "Default")).visits, 3);  // /login + 2 × /dashboard
  ASSERT_EQ(com->history.count(target("firefox-esr", "work")), 1u) << dump;
  EXPECT_EQ(com->history.at(target("firefox-esr", "work")).visits, 2);  // plain + container tab

  auto couk = index.signals("example.co.uk");
  ASSERT_TRUE(couk) << dump;
  // "lang" is persistent but no session name: weak in both browsers.
  EXPECT_EQ(couk->sessions, (Sessions{{target("chromium", "Default"), SessionLevel::weak},
                                      {target("firefox-esr", "work"), SessionLevel::weak}}))
      << dump;
  EXPECT_EQ(couk->history.size(), 2u) << dump;

  auto org = index.signals("example.org");
  ASSERT_TRUE(org) << dump;
  // Only Chromium stores session cookies; Firefox keeps its "cart" cookie in memory.
  EXPECT_EQ(org->sessions, (Sessions{{target("chromium", "Profile 1"), SessionLevel::weak}}))
      << dump;
  EXPECT_EQ(org->history.size(), 2u) << dump;
  const Date recent = Date::now().adding(-3600);
  for (const auto& [who, stat] : org->history) {
    SCOPED_TRACE(who.description());
    EXPECT_GT(stat.lastVisit, recent);
    EXPECT_EQ(stat.visits, 1);
  }

  EXPECT_EQ((std::vector{databaseFiles(personal), databaseFiles(shop), databaseFiles(work)}),
            before);
}

}  // namespace
}  // namespace linkferry
