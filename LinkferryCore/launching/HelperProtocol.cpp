#include "launching/HelperProtocol.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <vector>

#include "foundation/Base64.h"
#include "foundation/Json.h"
#include "foundation/Text.h"

namespace linkferry::HelperProtocol {

namespace {

constexpr std::string_view kOpen = "/usr/bin/open";
constexpr std::string_view kArgs = "--args";

bool isAllUTF8(const LaunchPlan& plan) {
  auto valid = [](const std::string& text) { return Text::isValidUTF8(text); };
  if (!valid(plan.executable)) return false;
  if (!std::all_of(plan.arguments.begin(), plan.arguments.end(), valid)) return false;
  if (!std::all_of(plan.warnings.begin(), plan.warnings.end(), valid)) return false;
  if (plan.fallbackNote && !valid(*plan.fallbackNote)) return false;
  return std::all_of(plan.fallbacks.begin(), plan.fallbacks.end(), isAllUTF8);
}

URL build(std::string_view host, std::vector<QueryItem> items) {
  URLComponents components;
  components.scheme = std::string(scheme);
  components.setHost(host);
  components.setQueryItems(std::move(items));
  auto url = components.url();
  // Every part is either fixed or percent-encoded by URLComponents, so the text always parses.
  if (!url) throw std::logic_error("helper request URL does not parse: " + components.string());
  return *url;
}

bool isRequest(const URL& url, std::string_view host) {
  auto urlScheme = url.scheme();
  if (!urlScheme || Text::asciiLowercased(*urlScheme) != scheme) return false;
  auto urlHost = url.host();
  return urlHost && *urlHost == host;
}

// The value of the first item called `name`; nothing when there is no such item or it has no
// value. Later items of the same name never count.
std::optional<std::string> firstValue(const std::vector<QueryItem>& items, std::string_view name) {
  for (const auto& item : items) {
    if (item.name == name) return item.value;
  }
  return std::nullopt;
}

}  // namespace

URL url(const LaunchPlan& plan) {
  if (!isAllUTF8(plan)) {
    throw std::invalid_argument("a launch plan holding text that is not UTF-8 cannot be encoded");
  }
  const std::string json = Json::encodeCompact(plan.toJson());
  return build("run", {QueryItem{"plan", Base64::encodeURLUnpadded(json)}});
}

URL handlerURL(std::string_view scheme, std::string_view bundleID) {
  return build("handler",
               {QueryItem{"scheme", std::string(scheme)}, QueryItem{"app", std::string(bundleID)}});
}

std::optional<LaunchPlan> plan(const URL& url) noexcept {
  try {
    if (!isRequest(url, "run")) return std::nullopt;
    auto payload = firstValue(url.queryItems(), "plan");
    if (!payload) return std::nullopt;
    std::string base64 = std::move(*payload);
    std::replace(base64.begin(), base64.end(), '-', '+');
    std::replace(base64.begin(), base64.end(), '_', '/');
    while (base64.size() % 4 != 0) base64 += '=';
    auto bytes = Base64::decode(base64);
    if (!bytes) return std::nullopt;
    auto document = Json::tryParse(*bytes);
    if (!document) return std::nullopt;
    return LaunchPlan::fromJson(JsonReader(*document, "plan"));
  } catch (const std::exception&) {
    // A document that is JSON but not a plan; nothing else in here throws but allocation.
    return std::nullopt;
  }
}

std::optional<HandlerRequest> handlerRequest(const URL& url) noexcept {
  try {
    if (!isRequest(url, "handler")) return std::nullopt;
    const auto items = url.queryItems();
    auto requestedScheme = firstValue(items, "scheme");
    if (!requestedScheme) return std::nullopt;
    auto app = firstValue(items, "app");
    if (!app || app->empty()) return std::nullopt;
    return HandlerRequest{Text::lowercased(*requestedScheme), std::move(*app)};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool needsHelper(const LaunchPlan& plan) {
  if (plan.executable != kOpen) return true;
  return std::find(plan.arguments.begin(), plan.arguments.end(), kArgs) != plan.arguments.end();
}

LaunchPlan withoutHelper(const LaunchPlan& plan) {
  if (plan.executable != kOpen && !plan.fallbacks.empty()) {
    return withoutHelper(plan.fallbacks.front());
  }
  const auto args = std::find(plan.arguments.begin(), plan.arguments.end(), kArgs);
  if (args == plan.arguments.end()) return plan;

  LaunchPlan result;
  result.executable = plan.executable;
  for (auto it = plan.arguments.begin(); it != args; ++it) {
    result.arguments.push_back(*it == "-na" ? "-a" : *it);
  }
  if (std::next(args) != plan.arguments.end()) {
    const std::string& last = plan.arguments.back();
    if (!Text::startsWith(last, "-")) {
      auto link = URL::parse(last);
      if (link && link->scheme()) result.arguments.push_back(last);
    }
  }
  result.warnings = plan.warnings;
  result.warnings.emplace_back(withoutHelperWarning);
  return result;
}

}  // namespace linkferry::HelperProtocol
