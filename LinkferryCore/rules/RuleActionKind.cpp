#include "rules/RuleActionKind.h"

#include "foundation/Overloaded.h"

namespace linkferry {

// Visited case by case, so that a new case without a key does not compile instead of being
// saved under another case's key.
std::string_view RuleActionKind::key() const {
  return std::visit(Overloaded{
                        [](const Open&) { return std::string_view("open"); },
                        [](const Prompt&) { return std::string_view("prompt"); },
                        [](const OpenInApp&) { return std::string_view("openInApp"); },
                        [](const Rewrite&) { return std::string_view("rewrite"); },
                        [](const Ignore&) { return std::string_view("ignore"); },
                    },
                    m_value);
}

}  // namespace linkferry

std::size_t std::hash<linkferry::RuleActionKind>::operator()(
    const linkferry::RuleActionKind& kind) const noexcept {
  std::size_t hash = kind.value().index() * 0x9e3779b97f4a7c15ull;
  auto mix = [&hash](std::size_t value) {
    hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
  };
  if (const auto* open = kind.asOpen()) mix(std::hash<linkferry::BrowserTarget>()(open->target));
  if (const auto* prompt = kind.asPrompt()) {
    for (const auto& target : prompt->targets) mix(std::hash<linkferry::BrowserTarget>()(target));
  }
  if (const auto* app = kind.asOpenInApp()) mix(std::hash<std::string>()(app->bundleID));
  if (const auto* rewrite = kind.asRewrite())
    mix(std::hash<linkferry::URLRewrite>()(rewrite->rewrite));
  return hash;
}
