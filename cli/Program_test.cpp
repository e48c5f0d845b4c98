// The `linkferry` program itself: what it says when it is not given a command it can run.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

// Run under `timeout`, so that a service that wrongly accepts its options ends all the same.
Process::Result linkferry(const std::vector<std::string>& arguments) {
  Process::Options options;
  options.captureOutput = true;
  std::vector<std::string> command = {"60", (testing::binaryDirectory() / "cli/linkferry").string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return Process::run("/usr/bin/timeout", command, options);
}

TEST(Program, UsageErrorsAreOneLineInTheProgramsStyle) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "linkferry: a command is required (see linkferry --help)\n"},
      {{"frobnicate"}, "linkferry: unknown command \"frobnicate\" (see linkferry --help)\n"},
      {{"rules"}, "linkferry: a subcommand is required (see linkferry rules --help)\n"},
      {{"rules", "list", "extra"},
       "linkferry: the following argument was not expected: extra (see linkferry rules list "
       "--help)\n"},
      // An unknown word is named, even where a subcommand is still missing.
      {{"--bogus"}, "linkferry: unknown option --bogus (see linkferry --help)\n"},
      {{"rules", "--bogus=1"}, "linkferry: unknown option --bogus (see linkferry rules --help)\n"},
      {{"rules", "check", "-x"}, "linkferry: unknown option -x (see linkferry rules check --help)\n"},
      {{"rules", "frobnicate"},
       "linkferry: unknown command \"rules frobnicate\" (see linkferry rules --help)\n"},
      // Numbers out of range are refused, not wrapped or turned into durations.
      {{"log", "-n", "-1"},
       "linkferry: -n: expected a count of 0 or more, got -1 (see linkferry log --help)\n"},
      {{"log", "-n", "many"},
       "linkferry: -n: expected a count of 0 or more, got many (see linkferry log --help)\n"},
      {{"serve", "--idle-exit", "-1"},
       "linkferry: --idle-exit: expected a number of seconds from 0 to 31536000, got -1 (see "
       "linkferry serve --help)\n"},
      {{"serve", "--idle-exit", "nan"},
       "linkferry: --idle-exit: expected a number of seconds from 0 to 31536000, got nan (see "
       "linkferry serve --help)\n"},
      {{"serve", "--idle-exit", "1", "--refresh-delay", "inf"},
       "linkferry: --refresh-delay: expected a number of seconds from 0 to 3600, got inf (see "
       "linkferry serve --help)\n"},
  };
  for (const auto& [arguments, error] : cases) {
    SCOPED_TRACE(arguments.empty() ? "(none)" : arguments.back());
    const auto result = linkferry(arguments);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, error);
    EXPECT_EQ(result.standardOutput, "");
  }
}

}  // namespace
}  // namespace linkferry
