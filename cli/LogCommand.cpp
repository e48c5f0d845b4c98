// `linkferry log [--json] [-n N]`: the most recent decisions, newest first, with status, target,
// reason and trace. `linkferry log clear`: empties the log. A log that could not be read (or was
// moved aside as unreadable) is reported on standard error and the status is 1.
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "Command.h"
#include "foundation/Dates.h"
#include "foundation/DisplayText.h"
#include "foundation/Json.h"
#include "settings/AppSettings.h"
#include "settings/DecisionLog.h"
#include "safety/ReadableLink.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::cli {
namespace {

std::string shown(std::string_view text) { return DisplayText::escaped(text); }

// The log as the settings configure it. Settings that do not load are reported, and the log is
// then read with history kept, which never rewrites it.
std::unique_ptr<DecisionLog> openLog() {
  const LinkferryPaths paths = LinkferryPaths::defaultPaths();
  AppSettings settings;
  try {
    settings = AppSettings::load(paths.settings());
  } catch (const std::exception& error) {
    printError(std::string(error.what()) + " (reading the log with the default settings)");
    settings.keepHistory = true;
  }
  return std::make_unique<DecisionLog>(paths.log(), settings.logRetentionDays,
                                       settings.keepHistory);
}

// `false` when the log reported a problem, after printing it.
bool reportProblem(const DecisionLog& log) {
  if (!log.lastError()) return true;
  printError(*log.lastError());
  return false;
}

int show(bool json, std::int64_t count) {
  std::unique_ptr<DecisionLog> log = openLog();
  std::vector<LogEntry> entries = log->recent(static_cast<std::size_t>(count));
  std::reverse(entries.begin(), entries.end());
  if (json) {
    JsonValue list = JsonValue::array();
    for (const LogEntry& entry : entries) {
      JsonValue item = entry.toJson();
      item["receivedAt"] = RFC3339::formatUTC(entry.receivedAt);
      list.push_back(std::move(item));
    }
    printJson(list);
  } else if (entries.empty()) {
    std::cout << "no decisions in " << shown(log->file().string()) << '\n';
  } else {
    // Links, window titles (an e-mail's subject), app names and trace lines come from outside.
    for (const LogEntry& entry : entries) {
      std::cout << RFC3339::formatUTC(entry.receivedAt) << ' ' << toString(entry.status) << ' '
                << shown(ReadableLink::text(entry.url));
      if (entry.target) std::cout << " -> " << shown(entry.target->description());
      std::cout << '\n';
      if (entry.sourceApp || entry.sourceWindow) {
        std::cout << "  from: " << (entry.sourceApp ? shown(*entry.sourceApp) : "(unknown app)");
        if (entry.sourceWindow) std::cout << " \"" << shown(*entry.sourceWindow) << '"';
        std::cout << '\n';
      }
      if (entry.reason) std::cout << "  reason: " << shown(*entry.reason) << '\n';
      for (const std::string& line : entry.trace) std::cout << "  trace: " << shown(line) << '\n';
    }
  }
  return reportProblem(*log) ? kSuccess : kInputError;
}

int clear() {
  std::unique_ptr<DecisionLog> log = openLog();
  log->clear();
  if (!reportProblem(*log)) return kInputError;
  std::cout << "cleared " << shown(log->file().string()) << '\n';
  return kSuccess;
}

const RegisterCommand kRegister([](CLI::App& program) -> CommandAction {
  CLI::App* logCommand =
      program.add_subcommand("log", "The recent decisions, newest first; or clear the log");
  logCommand->require_subcommand(0, 1);
  auto json = std::make_shared<bool>(false);
  auto count = std::make_shared<std::int64_t>(20);
  logCommand->add_flag("--json", *json, "Machine-readable output");
  logCommand->add_option("-n", *count, "How many decisions to show (default 20)")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            std::int64_t value = 0;
            if (!CLI::detail::lexical_cast(text, value) || value < 0) {
              return "expected a count of 0 or more, got " + text;
            }
            return {};
          },
          "COUNT"));
  CLI::App* clearCommand = logCommand->add_subcommand("clear", "Remove every entry of the log");
  return [clearCommand, json, count]() {
    if (clearCommand->parsed()) return clear();
    return show(*json, *count);
  };
});

}  // namespace
}  // namespace linkferry::cli
