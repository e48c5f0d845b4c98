// Arbitrary bytes through the helper's decoding and both policies: as a whole request URL, and
// as plan JSON carried in a "run" request. Nothing may crash or leak; a policy either accepts or
// throws its Rejection, never anything else. Every plan a policy accepts is checked against an
// independent statement of what may run, so the fuzzer hunts false accepts, not only crashes:
// an allowed program form, only the browser flags LinkFerry itself passes, and a link (http or
// https where a browser gets it) as the last argument.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/Base64.h"
#include "foundation/Text.h"
#include "foundation/URL.h"
#include "launching/HelperPolicy.h"
#include "launching/HelperProtocol.h"
#include "launching/LinuxHelperPolicy.h"

namespace {

using namespace linkferry;
using Arguments = std::vector<std::string>;

const LinuxHelperPolicy::Installed& installed() {
  static const auto& value = *new LinuxHelperPolicy::Installed{
      {"chromium", "org.gnome.Evolution"},
      {{"chromium", "/usr/bin/chromium", {}},
       {"com.brave.Browser", "/usr/bin/flatpak", {"run", "com.brave.Browser"}}},
      {"/usr/bin/evolution"}};
  return value;
}

void require(bool condition) {
  if (!condition) __builtin_trap();
}

bool startsWith(const std::string& text, std::string_view prefix) {
  return Text::startsWith(text, prefix);
}

bool hasScheme(const std::string& text) {
  const auto url = URL::parse(text);
  return url && url->scheme() && !url->scheme()->empty() && !startsWith(text, "-");
}

bool isWebLink(const std::string& text) {
  const auto url = URL::parse(text);
  const auto scheme = url ? url->scheme() : std::nullopt;
  if (!scheme || startsWith(text, "-")) return false;
  const std::string lower = Text::lowercased(*scheme);
  return lower == "http" || lower == "https";
}

// The browser flags LinkFerry passes, then at most one web link, last.
void requireBrowserTail(const Arguments& a, std::size_t from) {
  for (std::size_t i = from; i < a.size(); ++i) {
    const std::string& argument = a[i];
    if (i + 1 == a.size() && !startsWith(argument, "-")) {
      require(isWebLink(argument));
      return;
    }
    if (argument == "-P") {
      require(i + 1 < a.size() && !startsWith(a[i + 1], "-") &&
              a[i + 1].find('/') == std::string::npos);
      ++i;
      continue;
    }
    constexpr std::string_view kProfileDirectory = "--profile-directory=";
    if (startsWith(argument, kProfileDirectory)) {
      const std::string folder = argument.substr(kProfileDirectory.size());
      require(!folder.empty() && folder.find('/') == std::string::npos &&
              folder.find("..") == std::string::npos);
      continue;
    }
    // Where a separate instance keeps its data is the policy's to judge against the home folder.
    require(argument == "--incognito" || argument == "--new-window" ||
            argument == "--private-window" || argument == "--new-tab" ||
            startsWith(argument, "--user-data-dir="));
  }
}

void requireLinuxForm(const LaunchPlan& plan) {
  const Arguments& a = plan.arguments;
  if (plan.executable == "/usr/bin/env") {
    require(a.size() >= 2 && a.size() <= 3 && a[0] == "gtk-launch" &&
            installed().desktopIDs.contains(a[1]));
    if (a.size() == 3) require(hasScheme(a[2]));
  } else {
    bool matched = false;
    for (const auto& browser : installed().browsers) {
      if (browser.program != plan.executable || a.size() < browser.arguments.size()) continue;
      if (!std::equal(browser.arguments.begin(), browser.arguments.end(), a.begin())) continue;
      requireBrowserTail(a, browser.arguments.size());
      matched = true;
      break;
    }
    require(matched);
  }
  for (const auto& fallback : plan.fallbacks) requireLinuxForm(fallback);
}

void requireMacForm(const LaunchPlan& plan) {
  Arguments a = plan.arguments;
  if (plan.executable == "/usr/bin/osascript") {
    require(a.size() % 2 == 1 && isWebLink(a.back()));
    for (std::size_t i = 0; i + 1 < a.size(); i += 2) require(a[i] == "-e");
  } else {
    require(plan.executable == "/usr/bin/open");
    if (!a.empty() && a[0] == "-g") a.erase(a.begin());
    require(a.size() >= 2);
    if (a[0] == "-b") {
      require(!startsWith(a[1], "-") && (a.size() == 2 || (a.size() == 3 && hasScheme(a[2]))));
    } else if (a[0] == "-a") {
      require(a[1].ends_with(".app") && (a.size() == 2 || (a.size() == 3 && isWebLink(a[2]))));
    } else {
      require(a[0] == "-na" && a[1].ends_with(".app") && a.size() >= 3 && a[2] == "--args");
      requireBrowserTail(a, 3);
    }
  }
  for (const auto& fallback : plan.fallbacks) requireMacForm(fallback);
}

void validateBoth(const LaunchPlan& plan) {
  try {
    HelperPolicy::validate(
        plan, [](const std::string& path) { return path.ends_with(".app"); }, "/Users/ann");
    requireMacForm(plan);
  } catch (const HelperPolicy::Rejection&) {
  }
  try {
    LinuxHelperPolicy::validate(plan, installed(), "/home/ann");
    requireLinuxForm(plan);
  } catch (const HelperPolicy::Rejection&) {
  }
}

void exercise(const std::string& text) {
  const auto url = URL::parse(text);
  if (!url) return;
  if (const auto plan = HelperProtocol::plan(*url)) validateBoth(*plan);
  if (const auto change = HelperProtocol::handlerRequest(*url)) {
    try {
      HelperPolicy::validateHandler(change->scheme, change->bundleID, {change->bundleID});
    } catch (const HelperPolicy::Rejection&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  exercise(bytes);
  exercise("linkferry-helper://run?plan=" + Base64::encodeURLUnpadded(bytes));
  return 0;
}
