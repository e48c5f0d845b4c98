// `linkferry browsers [--json]`: the browsers, profiles and containers LinkFerry finds on this
// machine (desktop entries merged with the user's browsers.json).
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "Command.h"
#include "Environment.h"
#include "browsers/BrowserCatalog.h"
#include "browsers/DesktopEntries.h"
#include "foundation/DisplayText.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Text.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::cli {
namespace {

JsonValue optionalJson(const std::optional<std::string>& value) {
  return value ? JsonValue(*value) : JsonValue(nullptr);
}

JsonValue optionalJson(const std::optional<std::uint32_t>& value) {
  return value ? JsonValue(*value) : JsonValue(nullptr);
}

JsonValue profileJson(const BrowserProfile& profile) {
  JsonValue json = JsonValue::object();
  json["id"] = profile.id;
  json["name"] = profile.name;
  json["path"] = profile.path.string();
  json["email"] = optionalJson(profile.email);
  json["googleAccounts"] = profile.googleAccounts;
  json["avatarPath"] = optionalJson(profile.avatarPath);
  json["avatarColor"] = optionalJson(profile.avatarColor);
  json["avatarTextColor"] = optionalJson(profile.avatarTextColor);
  JsonValue containers = JsonValue::array();
  for (const FirefoxContainer& container : profile.containers) {
    containers.push_back(
        {{"id", container.id}, {"name", container.name}, {"color", optionalJson(container.color)}});
  }
  json["containers"] = std::move(containers);
  return json;
}

JsonValue catalogJson(const BrowserCatalog& catalog) {
  JsonValue browsers = JsonValue::array();
  for (const CatalogBrowser& browser : catalog.browsers) {
    JsonValue json = browser.definition.toJson();
    JsonValue profiles = JsonValue::array();
    for (const BrowserProfile& profile : browser.profiles) profiles.push_back(profileJson(profile));
    json["profiles"] = std::move(profiles);
    json["dataBlocked"] = browser.dataBlocked;
    browsers.push_back(std::move(json));
  }
  return browsers;
}

// Rows of cells printed in columns two spaces apart; widths count characters, not bytes. Cells
// hold names from the browsers' own files: shown escaped.
void printTable(std::vector<std::vector<std::string>> rows, const std::string& indent) {
  for (auto& row : rows) {
    for (std::string& cell : row) cell = DisplayText::escaped(cell);
  }
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], Text::characterCount(row[i]));
    }
  }
  for (const auto& row : rows) {
    std::string line = indent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size())
        line += std::string(widths[i] - Text::characterCount(row[i]) + 2, ' ');
    }
    std::cout << line << '\n';
  }
}

std::string containerText(const FirefoxContainer& container) {
  std::string text = container.name + " (" + container.id;
  if (container.color) text += ", " + *container.color;
  return text + ")";
}

void printHuman(const BrowserCatalog& catalog) {
  if (catalog.browsers.empty()) {
    std::cout << "No browsers found.\n";
    return;
  }
  std::vector<std::vector<std::string>> rows = {{"ID", "NAME", "FAMILY", "PROGRAM"}};
  for (const CatalogBrowser& browser : catalog.browsers) {
    const BrowserDefinition& definition = browser.definition;
    std::string program = definition.appPath;
    for (const std::string& argument : definition.launchArguments) program += " " + argument;
    rows.push_back(
        {definition.id, definition.name, std::string(toString(definition.family)), program});
  }
  printTable(rows, "");

  for (const CatalogBrowser& browser : catalog.browsers) {
    const BrowserDefinition& definition = browser.definition;
    if (!definition.dataDir) continue;
    std::cout << '\n'
              << DisplayText::escaped(definition.id) << ": data folder "
              << DisplayText::escaped(*definition.dataDir);
    if (definition.explicitUserDataDir) std::cout << " (own instance)";
    if (browser.dataBlocked) {
      std::cout << " (blocked: it exists but cannot be read)\n";
      continue;
    }
    if (browser.profiles.empty()) {
      std::cout << "\n  no profiles\n";
      continue;
    }
    std::cout << '\n';
    std::vector<std::vector<std::string>> profileRows = {
        {"PROFILE", "NAME", "ACCOUNTS", "CONTAINERS"}};
    for (const BrowserProfile& profile : browser.profiles) {
      std::vector<std::string> containers;
      for (const FirefoxContainer& container : profile.containers) {
        containers.push_back(containerText(container));
      }
      profileRows.push_back({profile.id, profile.name, profile.accountsText().value_or("-"),
                             containers.empty() ? "-" : Text::join(containers, ", ")});
    }
    printTable(profileRows, "  ");
  }
}

int runBrowsers(bool json) {
  const BrowserCatalog catalog = machineCatalog();
  if (json) {
    printJson(catalogJson(catalog));
  } else {
    printHuman(catalog);
  }
  return kSuccess;
}

RegisterCommand registerBrowsers([](CLI::App& program) -> CommandAction {
  auto* command = program.add_subcommand(
      "browsers", "List the browsers, profiles and containers found on this machine");
  auto json = std::make_shared<bool>(false);
  command->add_flag("--json", *json, "Print the catalog as JSON");
  return [json] { return runBrowsers(*json); };
});

}  // namespace
}  // namespace linkferry::cli
