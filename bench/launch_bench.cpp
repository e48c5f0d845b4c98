// The launch path of one routed link to a Chromium profile: the plan is built from the catalog,
// encoded into the helper's URL by the application and decoded again by the helper. The helper's
// policy check of the decoded plan belongs to the same path and is measured beside it.
#include <benchmark/benchmark.h>

#include "browsers/BrowserCatalog.h"
#include "foundation/URL.h"
#include "launching/HelperPolicy.h"
#include "launching/HelperProtocol.h"
#include "launching/LaunchCommand.h"
#include "routing/RouteTarget.h"

namespace {

using namespace linkferry;

BrowserCatalog catalog() {
  BrowserCatalog result;
  for (const char* id : {"com.apple.Safari", "org.mozilla.firefox", "com.brave.Browser"}) {
    CatalogBrowser other;
    other.definition.id = id;
    other.definition.name = id;
    other.definition.appPath = std::string("/Applications/") + id + ".app";
    result.browsers.push_back(other);
  }
  CatalogBrowser chrome;
  chrome.definition.id = "com.google.Chrome";
  chrome.definition.name = "Google Chrome";
  chrome.definition.family = BrowserFamily::chromium;
  chrome.definition.appPath = "/Applications/Google Chrome.app";
  for (const char* profileID : {"Default", "Profile 1", "Profile 2", "Profile 3"}) {
    BrowserProfile profile;
    profile.id = profileID;
    profile.name = profileID;
    chrome.profiles.push_back(profile);
  }
  result.browsers.push_back(chrome);
  return result;
}

const URL& link() {
  static const URL url =
      *URL::parse("https://www.example.com/products/shoes/running?id=12345&color=blue#reviews");
  return url;
}

const RouteTarget& target() {
  static const RouteTarget route =
      RouteTarget::open(BrowserTarget{"com.google.Chrome", "Profile 3", std::nullopt, false});
  return route;
}

void launchPlanBuild(benchmark::State& state) {
  const BrowserCatalog browsers = catalog();
  const OpenOptions options{OpenIn::newWindow, true};
  for (auto _ : state) {
    auto plan = LaunchCommand::plan(target(), link(), browsers, options, LaunchPlatform::macOS);
    benchmark::DoNotOptimize(plan);
  }
}
BENCHMARK(launchPlanBuild);

void launchPlanThroughHelperURL(benchmark::State& state) {
  const BrowserCatalog browsers = catalog();
  const OpenOptions options{OpenIn::newWindow, true};
  for (auto _ : state) {
    auto plan = LaunchCommand::plan(target(), link(), browsers, options, LaunchPlatform::macOS);
    const std::string text = HelperProtocol::url(*plan).absoluteString();
    auto decoded = HelperProtocol::plan(*URL::parse(text));
    if (!decoded) state.SkipWithError("the helper could not read the plan");
    benchmark::DoNotOptimize(decoded);
  }
}
BENCHMARK(launchPlanThroughHelperURL);

// The whole path as the helper sees it: build, encode, decode, then the policy check.
void launchPlanThroughHelperAndPolicy(benchmark::State& state) {
  const BrowserCatalog browsers = catalog();
  const OpenOptions options{OpenIn::newWindow, true};
  const HelperPolicy::AppPredicate isApp = [](const std::string& path) {
    return path.starts_with("/Applications/") && path.ends_with(".app");
  };
  const std::filesystem::path home = "/Users/ann";
  for (auto _ : state) {
    auto plan = LaunchCommand::plan(target(), link(), browsers, options, LaunchPlatform::macOS);
    const std::string text = HelperProtocol::url(*plan).absoluteString();
    auto decoded = HelperProtocol::plan(*URL::parse(text));
    if (!decoded) state.SkipWithError("the helper could not read the plan");
    HelperPolicy::validate(*decoded, isApp, home);
    benchmark::DoNotOptimize(decoded);
  }
}
BENCHMARK(launchPlanThroughHelperAndPolicy);

void linuxLaunchPlanBuild(benchmark::State& state) {
  BrowserCatalog browsers = catalog();
  browsers.browsers.back().definition.appPath = "/usr/bin/google-chrome-stable";
  const OpenOptions options{OpenIn::newWindow, false};
  for (auto _ : state) {
    auto plan = LaunchCommand::plan(target(), link(), browsers, options, LaunchPlatform::linux);
    benchmark::DoNotOptimize(plan);
  }
}
BENCHMARK(linuxLaunchPlanBuild);

}  // namespace
