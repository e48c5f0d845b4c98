#include "rules/RuleActionKind.h"

namespace linkferry {

std::string_view RuleActionKind::key() const {
  switch (m_value.index()) {
    case 0:
      return "open";
    case 1:
      return "prompt";
    case 2:
      return "openInApp";
    case 3:
      return "rewrite";
    default:
      return "ignore";
  }
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
