// `linkferry index [--json] [--domain D]`: builds the signal index from the browsers of this
// machine's catalog and shows, per registrable domain, which targets are signed in and how they
// visited it, then the sources that could not be read. Browser data is only read, never written.
// When `linkferry serve` runs for the same data folder, its index is shown: the one clicks use.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "Command.h"
#include "Environment.h"
#include "ServiceClient.h"
#include "browsers/BrowserCatalog.h"
#include "browsers/DesktopEntries.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "foundation/Text.h"
#include "foundation/URL.h"
#include "safety/DomainSafety.h"
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

// The host `--domain` asks for, lower-cased: a pasted link gives its host; anything that is no
// host name or IP address is refused (InputError), so a typo is not silently an empty answer.
std::string requestedHost(const std::string& text) {
  if (text.empty()) throw InputError("--domain needs a domain such as example.com");
  std::string host = text;
  if (text.find("://") != std::string::npos) {
    std::optional<URL> url = URL::parse(text);
    if (!url || !url->host()) throw InputError("--domain: not a link with a host: \"" + text + "\"");
    host = *url->host();
  }
  const std::optional<DomainSafety::HostForms> forms = DomainSafety::forms(host);
  const std::string name = forms ? forms->unicode : Text::lowercased(host);
  if (PublicSuffixList::isIPAddress(name) ||
      (name.starts_with('[') && PublicSuffixList::isIPAddress(name.substr(1, name.size() - 2)))) {
    return name;
  }
  // Letters, digits and "-" in labels between dots, in the ASCII form.
  bool valid = forms && !forms->ascii.empty() && forms->ascii.size() <= 253;
  if (valid) {
    for (std::string_view label : Text::split(forms->ascii, '.')) {
      valid &= !label.empty() && label.size() <= 63 &&
               label.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_") ==
                   std::string_view::npos;
    }
  }
  if (!valid) throw InputError("--domain: not a domain or host name: \"" + text + "\"");
  return name;
}

// The index the running service routes with, when one serves this data folder: what the
// service knows is what decides clicks.
std::optional<SignalIndex> serviceIndex() {
  const auto environment = Process::currentEnvironment();
  auto connection = ServiceClient::Connection::open(environment);
  if (!connection) return std::nullopt;
  try {
    const auto timeout = std::chrono::seconds(30);
    const std::string folder = LinkferryPaths::defaultPaths(environment, Files::home()).root.string();
    if (ServiceClient::servedFolder(connection->exchange({{"request", "status"}}, timeout)) !=
        folder) {
      return std::nullopt;  // another folder's service: not one to ask
    }
    const JsonValue answer =
        connection->exchange({{"request", "index"}}, timeout, ServiceClient::kMaxIndexAnswer);
    return SignalIndex::fromJson(JsonReader(answer, "the service's answer")["index"]);
  } catch (const std::exception& error) {
    printError(std::string("the service's index could not be read, so it is built here: ") +
               error.what());
    return std::nullopt;
  }
}

int runIndex(bool json, const std::optional<std::string>& domain) {
  const std::optional<std::string> host =
      domain ? std::optional<std::string>(requestedHost(*domain)) : std::nullopt;
  SignalIndex index;
  if (std::optional<SignalIndex> served = serviceIndex()) {
    index = std::move(*served);
  } else {
    const BrowserCatalog catalog = machineCatalog();
    const IndexBuilder builder = IndexBuilder::standard(false);
    index = builder.build(catalog, Date::now());
  }

  if (host) {
    // A host is narrowed to its registrable domain, so "www.example.com" shows example.com.
    const std::string key = PublicSuffixList::shared().registrableDomain(*host).value_or(*host);
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
  CLI::Option* domainOption = command->add_option(
      "--domain", *domain, "Only this registrable domain (a host or a link is narrowed to it)");
  return [json, domain, domainOption] {
    return runIndex(*json, domainOption->count() > 0 ? std::optional(*domain) : std::nullopt);
  };
});

}  // namespace
}  // namespace linkferry::cli
