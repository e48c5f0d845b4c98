#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

Process::Result safety(const std::vector<std::string>& arguments) {
  std::vector<std::string> all = {"safety"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  Process::Options options;
  options.captureOutput = true;
  return Process::run(testing::linkferryProgram().string(), all, options);
}

TEST(SafetyCommand, ReportsFindingsFormsAndRegistrableDomainAsJson) {
  Process::Result result = safety(
      {"--json", "https://www.\xD0\xB0pple.co.uk/?q=%3Cscript%3E", "mailto:someone@example.com"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  JsonValue reports = Json::parse(result.standardOutput, "output");
  ASSERT_EQ(reports.size(), 2u);
  const JsonValue& first = reports[0];
  EXPECT_EQ(first["host"], "www.\xD0\xB0pple.co.uk");
  EXPECT_EQ(first["unicode"], "www.\xD0\xB0pple.co.uk");
  EXPECT_EQ(first["ascii"], "www.xn--pple-43d.co.uk");
  EXPECT_EQ(first["registrableDomain"], "\xD0\xB0pple.co.uk");
  EXPECT_EQ(first["registrableDomainASCII"], "xn--pple-43d.co.uk");
  std::vector<std::string> codes;
  for (const JsonValue& finding : first["findings"]) codes.push_back(finding["code"]);
  EXPECT_EQ(codes, (std::vector<std::string>{"script-tag", "idn", "mixed-script", "lookalike"}));
  EXPECT_EQ(first["findings"][0], JsonValue({{"code", "script-tag"},
                                             {"label", "script tag"},
                                             {"excerpt", "/?q=<script>"},
                                             {"kind", "xss"},
                                             {"severity", "danger"}}));
  EXPECT_EQ(reports[1]["host"], nullptr);
  EXPECT_EQ(reports[1]["registrableDomain"], nullptr);
  EXPECT_EQ(reports[1]["findings"], JsonValue::array());
}

TEST(SafetyCommand, ShowsTheRealHostFirstAndNoDomainForAddresses) {
  Process::Result result = safety({"https://www.paypal.com@evil.example/login",
                                   "http://[::1]:8080/", "http://192.168.0.1/",
                                   "https://b\xC3\xBC" "cher.de/"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(result.standardOutput.substr(0, result.standardOutput.find("\n\n")),
            "host: evil.example\n"
            "  link: https://www.paypal.com@evil.example/login\n"
            "  unicode: evil.example\n"
            "  ascii: evil.example\n"
            "  registrable domain: evil.example\n"
            "  findings:\n"
            "    userinfo-host (domain): user name that looks like a host: www.paypal.com@");
  EXPECT_NE(result.standardOutput.find("host: [::1]\n"), std::string::npos);
  EXPECT_EQ(result.standardOutput.find("registrable domain: [::1]"), std::string::npos);
  EXPECT_EQ(result.standardOutput.find("registrable domain: 192.168.0.1"), std::string::npos);
  EXPECT_NE(result.standardOutput.find("registrable domain: b\xC3\xBC" "cher.de (xn--bcher-kva.de)"),
            std::string::npos)
      << result.standardOutput;

  JsonValue reports = Json::parse(safety({"--json", "http://[::1]/"}).standardOutput, "output");
  EXPECT_EQ(reports[0]["registrableDomain"], nullptr);
  EXPECT_EQ(reports[0]["ipAddress"], true);
}

TEST(SafetyCommand, RefusesTextsThatAreNoLinksButReportsTheOthers) {
  Process::Result result = safety({"example.com/path", "https://example.com/", "not a url",
                                   "https://example.com/ --incognito"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.standardOutput.find("host: example.com\n  link: https://example.com/\n"),
            std::string::npos)
      << result.standardOutput;
  EXPECT_NE(result.standardError.find("white space is not allowed in a link: "
                                      "\"https://example.com/ --incognito\""),
            std::string::npos)
      << result.standardError;
  EXPECT_NE(result.standardOutput.find("registrable domain: example.com"), std::string::npos);
  EXPECT_NE(result.standardError.find("linkferry: not a URL (no scheme such as https:): "
                                      "\"example.com/path\""),
            std::string::npos)
      << result.standardError;
  EXPECT_NE(result.standardError.find("linkferry: not a URL: white space is not allowed in a link: "
                                      "\"not a url\""),
            std::string::npos);
  EXPECT_EQ(safety({"javascript:alert(1)"}).exitStatus, 0);  // findings are no failure
}

// A host that decodes to terminal commands, a forged line or a bidi override is shown with
// each of them escaped, under a finding that says so; a bad argument is echoed escaped too.
TEST(SafetyCommand, ShowsControlsInTheHostEscapedAndAsAFinding) {
  Process::Result result = safety({"https://bank.example%1b%5d0;x%07%0ahost%3a%20ok%E2%80%AE/"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  const std::string escapedHost = "bank.example\\x1b]0;x\\x07\\x0ahost: ok\\u{202E}";
  EXPECT_TRUE(result.standardOutput.starts_with("host: " + escapedHost + "\n"))
      << result.standardOutput;
  EXPECT_NE(result.standardOutput.find("    control-character (domain): host name with control "
                                       "characters: " + escapedHost + "\n"),
            std::string::npos)
      << result.standardOutput;
  for (const char* raw : {"\x1b", "\x07", "\u202E", "\nhost: ok"}) {
    EXPECT_EQ(result.standardOutput.find(raw), std::string::npos) << raw;
  }

  Process::Result bad = safety({"\x1b]0;owned\x07 \xc2\x9b" "2J"});
  EXPECT_EQ(bad.exitStatus, 1);
  EXPECT_EQ(bad.standardError, "linkferry: not a URL: white space is not allowed in a link: "
                               "\"\\x1b]0;owned\\x07 \\u{009B}2J\"\n");
}

}  // namespace
}  // namespace linkferry
