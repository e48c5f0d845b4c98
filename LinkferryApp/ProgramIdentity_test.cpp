#include "ProgramIdentity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "foundation/Files.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;

TEST(ProgramIdentity, TheRunningProgramsBuildIdIsTheOneInItsFileAndFollowsACopyButNotItsPath) {
  const ProgramIdentity& self = ProgramIdentity::current();
  EXPECT_EQ(self.path, fs::canonical("/proc/self/exe").string());
  EXPECT_FALSE(self.version.empty());
  // Both linkers here write a GNU build-id (20 bytes of SHA-1 unless told otherwise).
  EXPECT_EQ(self.buildId.find_first_not_of("0123456789abcdef"), std::string::npos) << self.buildId;
  EXPECT_GE(self.buildId.size(), 16u);
  EXPECT_EQ(ProgramIdentity::ofProgram("/proc/self/exe"), self);

  testing::TemporaryDirectory folder;
  fs::create_directories(folder.path() / "elsewhere");
  const fs::path copy = folder.path() / "elsewhere/program";
  fs::copy_file(self.path, copy);
  const ProgramIdentity copied = ProgramIdentity::ofProgram(copy);
  EXPECT_EQ(copied.buildId, self.buildId);
  EXPECT_EQ(copied.path, fs::canonical(copy).string());
  EXPECT_NE(copied, self);
}

TEST(ProgramIdentity, AFileWithoutABuildIdIsToldApartByItsSizeAndTimeAndABrokenOneIsNoFault) {
  testing::TemporaryDirectory folder;
  const fs::path script = folder.write("script", "#!/bin/sh\nexit 0\n");
  const std::string first = ProgramIdentity::ofProgram(script).buildId;
  EXPECT_EQ(first.rfind("17-", 0), 0u) << first;
  Files::writeAtomically(script, "#!/bin/sh\nexit 1\n\n");
  EXPECT_NE(ProgramIdentity::ofProgram(script).buildId, first);

  // The start of a real program, cut off inside its program headers or notes.
  std::ifstream whole(ProgramIdentity::current().path, std::ios::binary);
  for (const std::size_t length : {16, 64, 100, 600}) {
    std::string bytes(length, '\0');
    whole.seekg(0);
    whole.read(bytes.data(), static_cast<std::streamsize>(length));
    const fs::path cut = folder.write("cut-" + std::to_string(length), bytes);
    EXPECT_EQ(ProgramIdentity::ofProgram(cut).buildId.rfind(std::to_string(length) + "-", 0), 0u)
        << length;
  }
  EXPECT_EQ(ProgramIdentity::ofProgram(folder.path() / "missing").buildId, "");
}

TEST(ProgramIdentity, StatusKeysReadBackAndAStatusWithoutThemNamesNoBuild) {
  const ProgramIdentity identity{.version = "1.2.3", .path = "/usr/bin/linkferry", .buildId = "ab"};
  JsonValue status = {{"ok", true}, {"pid", 7}};
  identity.addTo(status);
  EXPECT_EQ(status["program"], "/usr/bin/linkferry");
  EXPECT_EQ(ProgramIdentity::from(status), identity);
  EXPECT_EQ(ProgramIdentity::from({{"ok", true}, {"pid", 7}}), std::nullopt);
  status["buildId"] = 5;
  EXPECT_EQ(ProgramIdentity::from(status), std::nullopt);
  EXPECT_EQ(identity.description(), "linkferry 1.2.3 at /usr/bin/linkferry (build ab)");
}

}  // namespace
}  // namespace linkferry
