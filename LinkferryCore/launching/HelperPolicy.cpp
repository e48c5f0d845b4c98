#include "launching/HelperPolicy.h"

#include <algorithm>

#include "foundation/URL.h"
#include "launching/LaunchCommand.h"
#include "routing/LinkSchemes.h"

namespace linkferry::HelperPolicy {

namespace {

std::string lowercased(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string describe(Rejection::Kind kind, const std::string& payload) {
  switch (kind) {
    case Rejection::Kind::arguments:
      return "unexpected argument " + payload;
    case Rejection::Kind::app:
      return "not an installed app: " + payload;
    case Rejection::Kind::link:
      return "not a link LinkFerry opens: " + payload;
    case Rejection::Kind::executable:
      return "not a LinkFerry launch";
    case Rejection::Kind::script:
      return "not a LinkFerry script";
  }
  return {};
}

// The link after "-a" or "--args": exactly one more argument, an http(s) link.
void checkOneTrailingLink(const std::vector<std::string>& arguments, std::size_t index,
                          bool allowApps) {
  if (index >= arguments.size()) return;
  checkLink(arguments[index], allowApps);
  if (index + 1 < arguments.size()) throw Rejection::arguments(arguments[index + 1]);
}

void validateOne(const LaunchPlan& plan, const AppPredicate& isApp,
                 const std::filesystem::path& home) {
  if (plan.executable == LaunchCommand::kOpenExecutable) {
    validateOpen(plan.arguments, isApp, home);
  } else if (plan.executable == LaunchCommand::kOsascriptExecutable) {
    validateScript(plan.arguments);
  } else {
    throw Rejection::executable();
  }
  for (const LaunchPlan& fallback : plan.fallbacks) validateOne(fallback, isApp, home);
}

}  // namespace

Rejection::Rejection(Kind kind, std::string payload)
    : m_kind(kind), m_payload(std::move(payload)), m_description(describe(m_kind, m_payload)) {}

Rejection Rejection::arguments(std::string argument) {
  return Rejection(Kind::arguments, std::move(argument));
}
Rejection Rejection::app(std::string value) {
  return Rejection(Kind::app, std::move(value));
}
Rejection Rejection::link(std::string value) {
  return Rejection(Kind::link, std::move(value));
}
Rejection Rejection::executable() {
  return Rejection(Kind::executable, {});
}
Rejection Rejection::script() {
  return Rejection(Kind::script, {});
}

const std::vector<std::string_view>& refusedSchemes() {
  static const auto& schemes = *new std::vector<std::string_view>{"file",
                                                                  "javascript",
                                                                  "data",
                                                                  "vbscript",
                                                                  "x-apple.systempreferences",
                                                                  "linkferry-helper",
                                                                  "applescript",
                                                                  "ftp"};
  return schemes;
}

void validate(const LaunchPlan& plan, const AppPredicate& isApp,
              const std::filesystem::path& home) {
  validateOne(plan, isApp, home);
}

void validateOpen(const std::vector<std::string>& arguments, const AppPredicate& isApp,
                  const std::filesystem::path& home) {
  std::size_t index = 0;
  if (!arguments.empty() && arguments[0] == "-g") index = 1;
  if (index >= arguments.size()) throw Rejection::arguments("");
  const std::string& mode = arguments[index++];

  if (mode == "-b") {
    if (index >= arguments.size() || startsWith(arguments[index], "-")) {
      throw Rejection::arguments("-b");
    }
    checkOneTrailingLink(arguments, index + 1, true);
    return;
  }
  if (mode != "-a" && mode != "-na") throw Rejection::arguments(mode);

  if (index >= arguments.size()) throw Rejection::app("");
  const std::string& app = arguments[index++];
  if (!isApp || !isApp(app)) throw Rejection::app(app);

  if (mode == "-a") {
    checkOneTrailingLink(arguments, index, false);
    return;
  }
  if (index >= arguments.size()) throw Rejection::arguments("");
  if (arguments[index] != "--args") throw Rejection::arguments(arguments[index]);
  ++index;
  while (index < arguments.size()) {
    const std::string& current = arguments[index];
    const bool last = index + 1 == arguments.size();
    if (last && !startsWith(current, "-")) {
      checkLink(current, false);
      return;
    }
    checkFlag(current, last ? nullptr : &arguments[index + 1], home);
    index += current == "-P" ? 2 : 1;
  }
}

void validateScript(const std::vector<std::string>& arguments) {
  std::vector<std::string> lines;
  std::size_t index = 0;
  while (arguments.size() - index >= 2 && arguments[index] == "-e") {
    lines.push_back(arguments[index + 1]);
    index += 2;
  }
  if (arguments.size() - index != 1) throw Rejection::script();
  checkLink(arguments[index], false);

  if (lines.size() < 4) throw Rejection::script();
  std::vector<std::string> pieces;
  std::string piece;
  for (char c : lines[1]) {
    if (c == '"') {
      if (!piece.empty()) pieces.push_back(std::move(piece));
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) pieces.push_back(std::move(piece));
  if (pieces.size() < 2) throw Rejection::script();
  const std::string& bundleID = pieces[1];
  const auto tab = LaunchCommand::tabProperty(bundleID);
  if (!tab) throw Rejection::script();
  if (lines != LaunchCommand::currentTabScript(bundleID, *tab, false) &&
      lines != LaunchCommand::currentTabScript(bundleID, *tab, true)) {
    throw Rejection::script();
  }
}

void checkLink(std::string_view link, bool allowApps) {
  const auto url = URL::parse(link);
  const auto scheme = url ? url->scheme() : std::nullopt;
  if (!scheme || scheme->empty()) throw Rejection::link(std::string(link));
  const std::string lower = lowercased(*scheme);
  if (lower == "http" || lower == "https") return;
  const auto& refused = refusedSchemes();
  if (allowApps && std::find(refused.begin(), refused.end(), lower) == refused.end()) return;
  throw Rejection::link(std::string(link));
}

void checkFlag(std::string_view flag, const std::string* next, const std::filesystem::path& home) {
  if (flag == "--incognito" || flag == "--new-window" || flag == "--private-window" ||
      flag == "--new-tab") {
    return;
  }
  if (flag == "-P") {
    if (next && !startsWith(*next, "-") && next->find('/') == std::string::npos) return;
  } else if (constexpr std::string_view key = "--profile-directory="; startsWith(flag, key)) {
    const std::string_view folder = flag.substr(key.size());
    if (!folder.empty() && folder.find('/') == std::string_view::npos &&
        folder.find("..") == std::string_view::npos) {
      return;
    }
  } else if (constexpr std::string_view key = "--user-data-dir="; startsWith(flag, key)) {
    const std::string path = standardizePath(flag.substr(key.size()), home);
    const std::string root = standardizePath(home.string(), home) + "/Library/Application Support/";
    if (startsWith(path, root) && path.find("..") == std::string::npos) return;
  }
  throw Rejection::arguments(std::string(flag));
}

void validateHandler(std::string_view scheme, std::string_view bundleID,
                     const std::vector<std::string>& declaring, std::string_view ownApp) {
  if (scheme != "mailto" && !LinkSchemes::isValidCustom(scheme)) {
    throw Rejection::link(std::string(scheme) + ":");
  }
  if (bundleID == ownApp) return;
  if (std::find(declaring.begin(), declaring.end(), bundleID) != declaring.end()) return;
  throw Rejection::app(std::string(bundleID));
}

std::string standardizePath(std::string_view path, const std::filesystem::path& home) {
  std::string expanded(path);
  if (expanded == "~" || startsWith(expanded, "~/")) {
    expanded = home.string() + expanded.substr(1);
  }
  const bool absolute = startsWith(expanded, "/");
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= expanded.size()) {
    std::size_t end = expanded.find('/', start);
    if (end == std::string::npos) end = expanded.size();
    std::string part = expanded.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
        continue;
      }
      if (absolute) continue;
    }
    parts.push_back(std::move(part));
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result += '/';
    result += parts[i];
  }
  if (!absolute && result.empty()) result = ".";
  return result;
}

}  // namespace linkferry::HelperPolicy
