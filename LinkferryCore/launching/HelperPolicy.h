#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "launching/HelperProtocol.h"
#include "launching/LaunchPlan.h"

// What the helper agrees to run on a sender's behalf: only plans of exactly the shapes the launch
// builders make (LaunchCommand), and only handler changes to an application that declares the
// scheme. Everything here is pure apart from the `isApp` predicate the caller supplies; any
// thread may call it. Nothing is ever run: each check ends in acceptance or in one Rejection.
namespace linkferry::HelperPolicy {

// Why a request was refused. The description is written to the helper's log after
// "LinkFerry Helper: plan refused: " or "LinkFerry Helper: handler change refused: ".
class Rejection : public std::exception {
 public:
  enum class Kind {
    arguments,   // "unexpected argument " + payload (may be empty)
    app,         // "not an installed app: " + payload (may be empty)
    link,        // "not a link LinkFerry opens: " + payload (a link, or a scheme and ":")
    executable,  // "not a LinkFerry launch"
    script,      // "not a LinkFerry script"
  };

  static Rejection arguments(std::string argument);
  static Rejection app(std::string value);
  static Rejection link(std::string value);
  static Rejection executable();
  static Rejection script();

  Kind kind() const { return m_kind; }
  // Empty for `executable` and `script`.
  const std::string& payload() const { return m_payload; }
  const std::string& description() const { return m_description; }
  const char* what() const noexcept override { return m_description.c_str(); }

  bool operator==(const Rejection& other) const {
    return m_kind == other.m_kind && m_payload == other.m_payload;
  }

 private:
  Rejection(Kind kind, std::string payload);
  Kind m_kind;
  std::string m_payload;
  std::string m_description;
};

// Decides whether a path is an installed application (SenderCheck::isInstalledApp in the helper).
using AppPredicate = std::function<bool(const std::string& path)>;

// Schemes refused even where links to desktop apps are allowed (compared in lower case).
const std::vector<std::string_view>& refusedSchemes();

// Accepts `plan` when it is one the macOS builders make; throws Rejection otherwise.
//   "/usr/bin/open":      validateOpen of the arguments
//   "/usr/bin/osascript": validateScript of the arguments
//   any other program:    Rejection::executable
// then every fallback, in order and recursively, with the same rules; the first rejection is
// thrown. Warnings and the fallback note are not examined. `home` is the user's real home
// folder (Edition::realHome): "--user-data-dir=" must point below its
// "Library/Application Support".
void validate(const LaunchPlan& plan, const AppPredicate& isApp, const std::filesystem::path& home);

// The arguments of "/usr/bin/open": ["-g"], then one of
//   "-b" bundle-id [link (any scheme but the refused ones)]
//   "-a" app [http(s) link]
//   "-na" app "--args" browser flags… [http(s) link]
// An argument that begins with "-" in the last place is a flag, never the link.
void validateOpen(const std::vector<std::string>& arguments, const AppPredicate& isApp,
                  const std::filesystem::path& home);

// The arguments of "/usr/bin/osascript": "-e" line pairs that are exactly one of the current-tab
// scripts (LaunchCommand::currentTabScript, foreground or background, for a browser that has a tab
// property), then one http(s) link. A bad link is refused as a link; anything else as `script`.
void validateScript(const std::vector<std::string>& arguments);

// Accepts an http or https link, and with `allowApps` any other scheme except refusedSchemes();
// throws Rejection::link(link) for everything else, including text that is no URL with a scheme.
void checkLink(std::string_view link, bool allowApps);

// Accepts one browser flag: "--incognito", "--new-window", "--private-window", "--new-tab";
// "-P" when `next` exists, does not begin with "-" and has no "/"; "--profile-directory=" + a
// non-empty folder name without "/" or ".."; "--user-data-dir=" + a path that, standardized,
// lies strictly below home + "/Library/Application Support" and holds no "..". Throws
// Rejection::arguments(flag) otherwise (never with `next`).
void checkFlag(std::string_view flag, const std::string* next, const std::filesystem::path& home);

// Accepts a handler change when the scheme is "mailto" or a valid custom scheme
// (LinkSchemes::isValidCustom) and `bundleID` is the product's own application (`ownApp`: the App
// Store edition on macOS, the desktop identifier "linkferry" on Linux) or one of `declaring`, the
// applications that declare the scheme. Throws Rejection::link(scheme + ":") or
// Rejection::app(bundleID).
void validateHandler(std::string_view scheme, std::string_view bundleID,
                     const std::vector<std::string>& declaring,
                     std::string_view ownApp = HelperProtocol::appStoreBundleID);

// The path with "~" expanded to `home`, repeated "/", "." and ".." resolved textually and a
// trailing "/" removed; ".." above the root of an absolute path stays at the root, ".." at the
// start of a relative path is kept. Used by both policies.
std::string standardizePath(std::string_view path, const std::filesystem::path& home);

}  // namespace linkferry::HelperPolicy
