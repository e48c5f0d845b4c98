// `linkferry safety URL... [--json]`: for each link, the real host first, then the findings of the
// link safety check (its content, its user information, its host), with the host's Unicode and
// ASCII forms and its registrable domain (with its ASCII form beside a Unicode one; none for an IP
// address).
// Findings are information: the exit status is 0 whether or not there are any, and 1 only for a
// text that is not a link.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Command.h"
#include "Environment.h"
#include "foundation/DisplayText.h"
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
  // Its ASCII ("xn--") form, when it differs from the Unicode one.
  std::optional<std::string> registrableDomainASCII;
  bool ipAddress = false;
  std::vector<LinkSafety::Finding> findings;
};

// Throws InputError for a text that is no URL or has no scheme.
Report inspect(const std::string& text) {
  if (holdsWhiteSpace(text)) {
    throw InputError("not a URL: white space is not allowed in a link: \"" + text + "\"");
  }
  std::optional<URL> url = URL::parse(text);
  if (!url) throw InputError("not a URL: \"" + text + "\"");
  if (!url->scheme()) throw InputError("not a URL (no scheme such as https:): \"" + text + "\"");

  Report report;
  report.url = url->absoluteString();
  report.host = url->host();
  if (report.host) {
    report.forms = DomainSafety::forms(*report.host);
    const std::string& name = report.forms ? report.forms->unicode : *report.host;
    // An address has no registrable domain, whatever the suffix list's lookup gives back.
    report.ipAddress = name.starts_with('[') || PublicSuffixList::isIPAddress(name);
    // The published list writes international rules in Unicode, so the Unicode form is the one
    // that matches them.
    if (!report.ipAddress) {
      report.registrableDomain = PublicSuffixList::shared().registrableDomain(name);
    }
    if (report.registrableDomain) {
      if (auto forms = DomainSafety::forms(*report.registrableDomain);
          forms && forms->isInternational()) {
        report.registrableDomainASCII = forms->ascii;
      }
    }
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
      {"registrableDomainASCII", optionalJson(report.registrableDomainASCII)},
      {"ipAddress", report.ipAddress},
      {"findings", std::move(findings)},
  };
}

// The host the link really leads to comes first: what precedes it in the link (user information
// such as "www.bank.example@") is the classic disguise.
// Every piece is escaped: a decoded host may hold controls, and the finding that says so
// must not be hidden by them.
void printReport(const Report& report) {
  const auto shown = [](std::string_view text) { return DisplayText::escaped(text); };
  std::cout << "host: " << (report.host ? shown(*report.host) : "(none)") << '\n';
  std::cout << "  link: " << shown(report.url) << '\n';
  if (report.host) {
    if (report.forms) {
      std::cout << "  unicode: " << shown(report.forms->unicode) << '\n';
      std::cout << "  ascii: " << shown(report.forms->ascii) << '\n';
    }
    std::cout << "  registrable domain: ";
    if (report.ipAddress) {
      std::cout << "(none: IP address)";
    } else if (report.registrableDomain) {
      std::cout << shown(*report.registrableDomain);
      if (report.registrableDomainASCII) {
        std::cout << " (" << shown(*report.registrableDomainASCII) << ")";
      }
    } else {
      std::cout << "(none)";
    }
    std::cout << '\n';
  }
  if (report.findings.empty()) {
    std::cout << "  no findings\n";
    return;
  }
  std::cout << "  findings:\n";
  for (const LinkSafety::Finding& finding : report.findings) {
    std::cout << "    " << finding.code << " (" << LinkSafety::toString(finding.kind)
              << "): " << shown(finding.label) << ": " << shown(finding.excerpt) << '\n';
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
