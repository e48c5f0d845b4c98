#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace linkferry::testing {

// A fresh folder under the system's temporary folder, removed with everything in it on
// destruction.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  // Writes a file below the folder (parents created) and returns its path.
  std::filesystem::path write(const std::filesystem::path& relative, std::string_view bytes) const;

 private:
  std::filesystem::path m_path;
};

// The repository's top folder and the build folder.
std::filesystem::path sourceDirectory();
std::filesystem::path binaryDirectory();
// The `linkferry` program of this build, for tests that run it as a process.
std::filesystem::path linkferryProgram();

// Sets an environment variable for the lifetime of the object and restores it afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const char* value);  // null unsets
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string m_name;
  bool m_hadValue = false;
  std::string m_oldValue;
};

}  // namespace linkferry::testing
