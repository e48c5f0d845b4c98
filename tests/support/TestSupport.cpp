#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace linkferry::testing {

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "linkferry-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    throw std::system_error(errno, std::generic_category(), "cannot create a temporary folder");
  }
  m_path = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TemporaryDirectory::write(const std::filesystem::path& relative,
                                                std::string_view bytes) const {
  std::filesystem::path file = m_path / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

std::filesystem::path sourceDirectory() { return LINKFERRY_SOURCE_DIR; }
std::filesystem::path binaryDirectory() { return LINKFERRY_BINARY_DIR; }

std::filesystem::path linkferryProgram() { return binaryDirectory() / "cli" / "linkferry"; }

ScopedEnvironment::ScopedEnvironment(std::string name, const char* value) : m_name(std::move(name)) {
  if (const char* old = std::getenv(m_name.c_str())) {
    m_hadValue = true;
    m_oldValue = old;
  }
  if (value) {
    setenv(m_name.c_str(), value, 1);
  } else {
    unsetenv(m_name.c_str());
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  if (m_hadValue) {
    setenv(m_name.c_str(), m_oldValue.c_str(), 1);
  } else {
    unsetenv(m_name.c_str());
  }
}

}  // namespace linkferry::testing
