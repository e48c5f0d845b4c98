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
  return Process::run((testing::binaryDirectory() / "cli" / "linkferry").string(), all, options);
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
  std::vector<std::string> codes;
  for (const JsonValue& finding : first["findings"]) codes.push_back(finding["code"]);
  EXPECT_EQ(codes, (std::vector<std::string>{"script-tag", "idn", "mixed-script", "lookalike"}));
  EXPECT_EQ(first["findings"][0], JsonValue({{"code", "script-tag"},
                                             {"label", "script tag"},
                                             {"excerpt", "/?q=<script>#"},
                                             {"kind", "xss"}}));
  EXPECT_EQ(reports[1]["host"], nullptr);
  EXPECT_EQ(reports[1]["registrableDomain"], nullptr);
  EXPECT_EQ(reports[1]["findings"], JsonValue::array());
}

TEST(SafetyCommand, RefusesTextsThatAreNoLinksButReportsTheOthers) {
  Process::Result result = safety({"example.com/path", "https://example.com/", "not a url"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.standardOutput.find("https://example.com/\n  host: example.com\n"),
            std::string::npos)
      << result.standardOutput;
  EXPECT_NE(result.standardOutput.find("registrable domain: example.com"), std::string::npos);
  EXPECT_NE(result.standardError.find("linkferry: not a URL (no scheme such as https:): "
                                      "\"example.com/path\""),
            std::string::npos)
      << result.standardError;
  EXPECT_NE(result.standardError.find("linkferry: not a URL: \"not a url\""), std::string::npos);
  EXPECT_EQ(safety({"javascript:alert(1)"}).exitStatus, 0);  // findings are no failure
}

}  // namespace
}  // namespace linkferry
