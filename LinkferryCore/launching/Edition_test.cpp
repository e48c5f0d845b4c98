#include "launching/Edition.h"

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace linkferry {
namespace {

TEST(Edition, RealHomeComesFromTheAccountRecordNotTheEnvironment) {
  EXPECT_FALSE(Edition::isAppStore);
  const passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  // A sandbox points HOME at its container; the account record still names the real folder.
  testing::ScopedEnvironment home("HOME", "/var/empty/container");
  EXPECT_EQ(Edition::realHome(), std::filesystem::path(entry->pw_dir));
}

}  // namespace
}  // namespace linkferry
