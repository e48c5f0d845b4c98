#include "preparation/LinkPreparation.h"

#include <utility>

#include "foundation/Text.h"
#include "preparation/ForceHTTPS.h"
#include "preparation/RedirectUnwrapper.h"
#include "preparation/ShortLinks.h"
#include "rules/URLRewriter.h"

namespace linkferry::LinkPreparation {
namespace {

void unwrapInto(Result& result) {
  auto unwrapped = RedirectUnwrapper::unwrap(result.url);
  if (unwrapped.steps.empty()) return;
  result.url = std::move(unwrapped.url);
  result.trace.push_back("[unwrap] " + Text::join(unwrapped.steps, " \u2192 ") + ": " +
                         result.url.absoluteString());
}

}  // namespace

bool isLocalFile(const URL& url) { return Text::lowercased(url.scheme().value_or("")) == "file"; }

Result prepare(const LinkRequest& request, const RoutingContext& context,
               const AppSettings& settings, const RuleSet& rules,
               const ShortLinkExpanding* expander, const RuleIndex* ruleIndex) {
  Result result{request.url, std::nullopt, {}};
  const bool localFile = isLocalFile(request.url);
  if (settings.unwrapRedirects && !localFile) unwrapInto(result);

  if (settings.expandShortLinks && !localFile && ShortLinks::isShortener(result.url)) {
    if (!expander) {
      result.trace.push_back("[expand] short link not expanded here (no network)");
    } else {
      ShortLinkExpansion expansion = expander->expand(result.url);
      if (expansion.url == result.url) {
        result.trace.push_back("[expand] " + result.url.absoluteString() +
                               " not expanded: " + expansion.failure.value_or("no redirect") +
                               "; routing the short link");
      } else {
        std::string line = "[expand] " + result.url.absoluteString() + " \u2192 " +
                           expansion.url.absoluteString() + " (" +
                           std::to_string(expansion.hops.size()) + " request(s))";
        // An expansion that stopped short of a dead link says where it stopped and why.
        if (expansion.failure) line += "; stopped: " + *expansion.failure;
        result.trace.push_back(std::move(line));
        result.expandedFrom = std::move(result.url);
        result.url = std::move(expansion.url);
        if (settings.unwrapRedirects) unwrapInto(result);
      }
    }
  }

  LinkRequest rewritten = request;
  rewritten.url = result.url;
  URLRewriter::Result rewrite = ruleIndex
                                    ? URLRewriter::apply(rules, *ruleIndex, rewritten, context)
                                    : URLRewriter::apply(rules, rewritten, context);
  result.url = std::move(rewrite.url);
  for (const std::string& step : rewrite.steps) result.trace.push_back("[rewrite] " + step);

  if (settings.forceHTTPS && !isLocalFile(result.url)) {
    if (auto upgraded = ForceHTTPS::upgrade(result.url, settings.forceHTTPSExceptions)) {
      result.url = std::move(*upgraded);
      result.trace.push_back("[https] upgraded to " + result.url.absoluteString());
    }
  }
  return result;
}

}  // namespace linkferry::LinkPreparation
