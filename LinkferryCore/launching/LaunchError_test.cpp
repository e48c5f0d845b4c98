#include "launching/LaunchError.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

TEST(LaunchError, DescriptionsAreTheFixedTexts) {
  struct Case {
    LaunchError error;
    std::string description;
  } cases[] = {
      {LaunchError::unknownBrowser("org.example.Gone"), "unknown browser org.example.Gone"},
      {LaunchError::unknownProfile("com.google.Chrome", "Default"),
       "unknown profile Default for com.google.Chrome"},
      {LaunchError::failed(1), "open exited with status 1"},
      {LaunchError::failed(-3), "open exited with status -3"},
      {LaunchError::failedWithOutput(1, "no such app"), "exited with status 1: no such app"},
      {LaunchError::failedWithOutput(1, "execution error: Not authorized (-1743)"),
       "Automation permission refused (System Settings \xE2\x80\xBA Privacy & Security "
       "\xE2\x80\xBA Automation): execution error: Not authorized (-1743)"},
      // The automation text applies whatever the status, wherever the number stands.
      {LaunchError::failedWithOutput(2, "-17430"),
       "Automation permission refused (System Settings \xE2\x80\xBA Privacy & Security "
       "\xE2\x80\xBA Automation): -17430"},
      {LaunchError::failedWithOutput(2, "error -1744"), "exited with status 2: error -1744"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    EXPECT_EQ(test.error.description(), test.description);
    EXPECT_STREQ(test.error.what(), test.description.c_str());
  }
}

TEST(LaunchError, EqualityComparesCaseAndPayload) {
  EXPECT_EQ(LaunchError::failed(2), LaunchError::failed(2));
  EXPECT_NE(LaunchError::failed(2), LaunchError::failedWithOutput(2, ""));
  EXPECT_NE(LaunchError::unknownProfile("a", "b"), LaunchError::unknownProfile("b", "a"));
}

}  // namespace
}  // namespace linkferry
