#include "launching/Launcher.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include <gtest/gtest.h>

#include "launching/LaunchError.h"
#include "launching/ProcessLaunchRunner.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

LaunchPlan shellPlan(const std::string& script) {
  return LaunchPlan{"/bin/sh", {"-c", script}, {}};
}

// The LaunchError thrown by running the plan, or nothing when it succeeded.
std::optional<LaunchError> failure(const LaunchPlan& plan) {
  try {
    Launcher::run(plan);
    return std::nullopt;
  } catch (const LaunchError& error) {
    return error;
  }
}

TEST(Launcher, TurnsExitStatusAndStandardErrorIntoTheError) {
  struct Case {
    const char* script;
    std::optional<LaunchError> error;
  } cases[] = {
      {"exit 0", std::nullopt},
      {"echo 'warning: ignored' >&2; exit 0", std::nullopt},
      {"echo oops >&2; exit 2", LaunchError::failedWithOutput(2, "oops")},
      {"printf ' \\n\\t two lines\\nof text \\r\\n\\n' >&2; exit 2",
       LaunchError::failedWithOutput(2, "two lines\nof text")},
      {"printf '  \\n\\t\\n' >&2; exit 1", LaunchError::failed(1)},
      {"exit 1", LaunchError::failed(1)},
      {"printf 'bad \\377 byte' >&2; exit 5", LaunchError::failedWithOutput(5, "bad \uFFFD byte")},
      {"echo 'Not authorized to send Apple events (-1743)' >&2; exit 1",
       LaunchError::failedWithOutput(1, "Not authorized to send Apple events (-1743)")},
      {"kill -9 $$", LaunchError::failed(128 + 9)},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.script);
    EXPECT_EQ(failure(shellPlan(test.script)), test.error);
  }
}

TEST(Launcher, ProgramThatCannotStartIsASystemErrorNotALaunchError) {
  const LaunchPlan plan{"/nonexistent/open", {"https://a.test/"}, {}};
  try {
    Launcher::run(plan);
    ADD_FAILURE() << "no exception";
  } catch (const LaunchError& error) {
    ADD_FAILURE() << "LaunchError: " << error.what();
  } catch (const std::system_error& error) {
    EXPECT_STREQ(error.what(), "cannot start /nonexistent/open: No such file or directory");
  }
}

TEST(Launcher, ChattyChildDoesNotDeadlock) {
  auto start = std::chrono::steady_clock::now();
  auto error = failure(shellPlan("head -c 1500000 /dev/zero | tr '\\0' x >&2; exit 3"));
  ASSERT_TRUE(error);
  const auto* payload = error->as<LaunchError::FailedWithOutput>();
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(payload->status, 3);
  EXPECT_EQ(payload->output, std::string(1500000, 'x'));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(Launcher, RunsOnlyThePlanNeverItsFallbacks) {
  testing::TemporaryDirectory folder;
  const auto marker = folder.path() / "fallback-ran";
  LaunchPlan plan = shellPlan("echo primary >&2; exit 4");
  plan.fallbacks.push_back(shellPlan("touch '" + marker.string() + "'"));
  plan.fallbackNote = "falling back";
  ProcessLaunchRunner processRunner;
  LaunchRunner& runner = processRunner;
  try {
    runner.run(plan);
    ADD_FAILURE() << "no exception";
  } catch (const LaunchError& error) {
    EXPECT_EQ(error, LaunchError::failedWithOutput(4, "primary"));
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_NO_THROW(runner.run(plan.fallbacks[0]));
  EXPECT_TRUE(std::filesystem::exists(marker));
}

}  // namespace
}  // namespace linkferry
