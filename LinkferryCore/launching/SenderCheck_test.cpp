#include "launching/SenderCheck.h"

#include <gtest/gtest.h>

#include <map>

#include "support/TestSupport.h"

namespace linkferry {
namespace {

// Signing information by guest; records which guest was asked for.
class FakeSigning : public CodeSigning {
 public:
  std::map<std::vector<std::uint8_t>, SigningInformation> byToken;
  std::map<std::int32_t, SigningInformation> byProcess;
  mutable std::vector<Guest> asked;

  std::optional<SigningInformation> signingInformation(const Guest& guest) const override {
    asked.push_back(guest);
    if (const auto* token = std::get_if<std::vector<std::uint8_t>>(&guest)) {
      const auto found = byToken.find(*token);
      if (found != byToken.end()) return found->second;
    } else if (const auto found = byProcess.find(std::get<std::int32_t>(guest));
               found != byProcess.end()) {
      return found->second;
    }
    return std::nullopt;
  }
};

const SigningInformation kApp{"com.k4t.linkferry.appstore", "Q3P9R8T2W5"};

TEST(SignatureSenderCheck, PrefersTheAuditTokenAndFailsClosed) {
  FakeSigning signing;
  signing.byToken[{1, 2, 3}] = kApp;
  signing.byProcess[42] = kApp;
  signing.byProcess[43] = {"com.k4t.linkferry.helper", "Q3P9R8T2W5"};
  signing.byProcess[44] = {"com.k4t.linkferry.appstore", "OTHERTEAM1"};
  signing.byProcess[45] = {"com.k4t.linkferry.appstore", std::nullopt};
  const SignatureSenderCheck check(signing, nullptr);

  // A token that names another process wins over a process id that would pass.
  EXPECT_FALSE(check.isLinkFerry({{9, 9}, 42, {}}));
  EXPECT_TRUE(check.isLinkFerry({{1, 2, 3}, std::nullopt, {}}));
  EXPECT_TRUE(check.isLinkFerry({{}, 42, {}}));
  EXPECT_FALSE(check.isLinkFerry({{}, 43, {}}));  // the helper itself
  EXPECT_FALSE(check.isLinkFerry({{}, 44, {}}));
  EXPECT_FALSE(check.isLinkFerry({{}, 45, {}}));
  EXPECT_FALSE(check.isLinkFerry({{}, 0, {}}));
  EXPECT_FALSE(check.isLinkFerry({{}, -42, {}}));
  EXPECT_FALSE(check.isLinkFerry({}));
  ASSERT_EQ(signing.asked.size(), 6u);  // no lookup without a usable identity
  EXPECT_EQ(signing.asked[0], CodeSigning::Guest(std::vector<std::uint8_t>{9, 9}));
}

TEST(SignatureSenderCheck, InstalledAppsAreBundleFolders) {
  testing::TemporaryDirectory folder;
  const std::string app = (folder.path() / "Good.app").string();
  const std::string plain = (folder.path() / "Plain.app").string();
  std::filesystem::create_directories(app);
  std::filesystem::create_directories(plain);
  std::filesystem::create_directories(folder.path() / "sub");
  const FakeSigning signing;
  const SignatureSenderCheck check(signing, [&](const std::string& path) {
    return path == plain ? std::nullopt : std::optional<std::string>("com.x");
  });
  EXPECT_TRUE(check.isInstalledApp(app));
  EXPECT_FALSE(check.isInstalledApp(plain));
  EXPECT_FALSE(check.isInstalledApp((folder.path() / "sub/../Good.app").string()));
  EXPECT_FALSE(check.isInstalledApp((folder.path() / "Missing.app").string()));
  EXPECT_FALSE(check.isInstalledApp((folder.path() / "sub").string()));
}

}  // namespace
}  // namespace linkferry
