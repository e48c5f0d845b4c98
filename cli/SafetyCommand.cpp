// `linkferry safety URL... [--json]`: for each link, the findings of the link safety check (its
// content, then its host), with the host's Unicode and ASCII forms and its registrable domain.
// Findings are information: the exit status is 0 whether or not there are any, and 1 only for a
// text that is not a link.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "foundation/Json.h"
#include "foundation/URL.h"
#include "safety/DomainSafety.h"
#include "safety/LinkSafety.h"
#include "safety/PublicSuffixList.h"

namespace linkferry::cli {
namespace {

struct Report {
  std::string url;
  std::optional<std::string> host;
  std::optional<DomainSafety::HostForms> forms;
  std::optional<std::string> registrableDomain;
  std::vector<LinkSafety::Finding> findings;
};

// Throws InputError for a text that is no URL or has no scheme.
Report inspect(const std::string& text) {
  std::optional<URL> url = URL::parse(text);
  if (!url) throw InputError("not a URL: \"" + text + "\"");
  if (!url->scheme()) throw InputError("not a URL (no scheme such as https:): \"" + text + "\"");

  Report report;
  report.url = url->absoluteString();
  report.host = url->host();
  if (report.host) {
    report.forms = DomainSafety::forms(*report.host);
    // The published list writes international rules in Unicode, so the Unicode form is the one
    // that matches them.
    report.registrableDomain = PublicSuffixList::shared().registrableDomain(
        report.forms ? report.forms->unicode : *report.host);
  }
  report.findings = LinkSafety::inspectAll(*url);
  return report;
}

JsonValue optionalJson(const std::optional<std::string>& value) {
  return value ? JsonValue(*value) : JsonValue(nullptr);
}

JsonValue reportJson(const Report& report) {
  JsonValue findings = JsonValue::array();
  for (const LinkSafety::Finding& finding : report.findings) findings.push_back(finding.toJson());
  return {
      {"url", report.url},
      {"host", optionalJson(report.host)},
      {"unicode", report.forms ? JsonValue(report.forms->unicode) : JsonValue(nullptr)},
      {"ascii", report.forms ? JsonValue(report.forms->ascii) : JsonValue(nullptr)},
      {"registrableDomain", optionalJson(report.registrableDomain)},
      {"findings", std::move(findings)},
  };
}

void printReport(const Report& report) {
  std::cout << report.url << '\n';
  if (report.host) {
    std::cout << "  host: " << *report.host << '\n';
    if (report.forms) {
      std::cout << "  unicode: " << report.forms->unicode << '\n';
      std::cout << "  ascii: " << report.forms->ascii << '\n';
    }
    std::cout << "  registrable domain: " << report.registrableDomain.value_or("(none)") << '\n';
  } else {
    std::cout << "  host: (none)\n";
  }
  if (report.findings.empty()) {
    std::cout << "  no findings\n";
    return;
  }
  std::cout << "  findings:\n";
  for (const LinkSafety::Finding& finding : report.findings) {
    std::cout << "    " << finding.code << " (" << LinkSafety::toString(finding.kind)
              << "): " << finding.label << ": " << finding.excerpt << '\n';
  }
}

int runSafety(const std::vector<std::string>& texts, bool json) {
  int status = kSuccess;
  JsonValue reports = JsonValue::array();
  bool first = true;
  for (const std::string& text : texts) {
    try {
      Report report = inspect(text);
      if (json) {
        reports.push_back(reportJson(report));
      } else {
        if (!first) std::cout << '\n';
        printReport(report);
        first = false;
      }
    } catch (const InputError& error) {
      std::cout << std::flush;
      printError(error.what());
      status = worst(status, kInputError);
    }
  }
  if (json) printJson(reports);
  std::cout << std::flush;
  return status;
}

RegisterCommand registerSafety([](CLI::App& program) -> CommandAction {
  auto* command = program.add_subcommand(
      "safety", "Show what a link carries that looks like an attack, and its host's forms");
  auto texts = std::make_shared<std::vector<std::string>>();
  auto json = std::make_shared<bool>(false);
  command->add_option("url", *texts, "Links to inspect")->required();
  command->add_flag("--json", *json, "Print the reports as JSON");
  return [texts, json] { return runSafety(*texts, *json); };
});

}  // namespace
}  // namespace linkferry::cli
