// `linkferry index [--json] [--domain D]`: builds the signal index from the browsers of this
// machine's catalog and shows, per registrable domain, which targets are signed in and how they
// visited it, then the sources that could not be read. Browser data is only read, never written.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "Command.h"
#include "Environment.h"
#include "browsers/BrowserCatalog.h"
#include "browsers/DesktopEntries.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Text.h"
#include "safety/PublicSuffixList.h"
#include "settings/LinkferryPaths.h"
#include "signals/IndexBuilder.h"

namespace linkferry::cli {
namespace {

template <typename Value>
std::vector<std::pair<BrowserTarget, Value>> byDescription(
    const std::unordered_map<BrowserTarget, Value>& map) {
  std::vector<std::pair<BrowserTarget, Value>> entries(map.begin(), map.end());
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return a.first.description() < b.first.description();
  });
  return entries;
}

void printHuman(const SignalIndex& index) {
  std::vector<std::string> domains;
  for (const auto& [domain, signals] : index.domains) domains.push_back(domain);
  std::sort(domains.begin(), domains.end());
  if (domains.empty()) std::cout << "No sessions or recent history found.\n";
  for (const std::string& domain : domains) {
    const DomainSignals& signals = index.domains.at(domain);
    std::cout << domain << '\n';
    for (const auto& [target, level] : byDescription(signals.sessions)) {
      std::cout << "  session  " << target.description() << ": " << toString(level) << '\n';
    }
    for (const auto& [target, stat] : byDescription(signals.history)) {
      std::cout << "  history  " << target.description() << ": " << stat.visits
                << (stat.visits == 1 ? " visit" : " visits") << ", last "
                << RFC3339::formatUTC(stat.lastVisit) << '\n';
    }
  }
  if (!index.issues.empty()) {
    std::cout << "\nIssues:\n";
    for (const SourceIssue& issue : index.issues) {
      std::cout << "  " << issue.target.description() << " (" << issue.source
                << "): " << issue.message << '\n';
    }
  }
}

int runIndex(bool json, const std::string& domain) {
  const BrowserCatalog catalog = machineCatalog();
  const IndexBuilder builder{PublicSuffixList::shared(), SessionClassifier(),
                             IndexBuilder::kDefaultHistoryWindow, std::nullopt};
  SignalIndex index = builder.build(catalog, Date::now());

  if (!domain.empty()) {
    // A host is narrowed to its registrable domain, so "www.example.com" shows example.com.
    const std::string lowered = Text::lowercased(domain);
    const std::string key = PublicSuffixList::shared().registrableDomain(lowered).value_or(lowered);
    auto found = index.domains.find(key);
    decltype(index.domains) only;
    if (found != index.domains.end()) only.emplace(found->first, std::move(found->second));
    index.domains = std::move(only);
  }
  if (json) {
    printJson(index.toJson());
  } else {
    printHuman(index);
  }
  return kSuccess;
}

RegisterCommand registerIndex([](CLI::App& program) -> CommandAction {
  auto* command = program.add_subcommand(
      "index", "Show the sessions and recent history LinkFerry reads from the browsers");
  auto json = std::make_shared<bool>(false);
  auto domain = std::make_shared<std::string>();
  command->add_flag("--json", *json, "Print the index as JSON");
  command->add_option("--domain", *domain, "Only this registrable domain (a host is narrowed)");
  return [json, domain] { return runIndex(*json, *domain); };
});

}  // namespace
}  // namespace linkferry::cli
