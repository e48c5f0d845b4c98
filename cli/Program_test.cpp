// The `linkferry` program itself: what it says when it is not given a command it can run.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

Process::Result linkferry(const std::vector<std::string>& arguments) {
  Process::Options options;
  options.captureOutput = true;
  return Process::run((testing::binaryDirectory() / "cli/linkferry").string(), arguments, options);
}

TEST(Program, UsageErrorsAreOneLineInTheProgramsStyle) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "linkferry: a command is required (see linkferry --help)\n"},
      {{"frobnicate"}, "linkferry: unknown command \"frobnicate\" (see linkferry --help)\n"},
      {{"rules"}, "linkferry: a subcommand is required (see linkferry --help)\n"},
      {{"rules", "list", "extra"},
       "linkferry: the following argument was not expected: extra (see linkferry --help)\n"},
  };
  for (const auto& [arguments, error] : cases) {
    SCOPED_TRACE(arguments.empty() ? "(none)" : arguments[0]);
    const auto result = linkferry(arguments);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, error);
    EXPECT_EQ(result.standardOutput, "");
  }
}

}  // namespace
}  // namespace linkferry
