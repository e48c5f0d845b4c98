#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace linkferry {

// Why a rule file that parsed cannot be used. One case: the file was written by a newer version
// of the program (`version` 2 or more).
class RuleSetError : public std::exception {
 public:
  enum class Case { unsupportedVersion };

  static RuleSetError unsupportedVersion(std::int64_t version);

  Case kind() const { return m_case; }
  // The version found in the file.
  std::int64_t version() const { return m_version; }
  // "rules.json version N is newer than this LinkFerry understands".
  const char* what() const noexcept override { return m_text.c_str(); }

 private:
  RuleSetError(Case kind, std::int64_t version);
  Case m_case;
  std::int64_t m_version;
  std::string m_text;
};

}  // namespace linkferry
