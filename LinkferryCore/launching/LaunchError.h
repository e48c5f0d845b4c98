#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <variant>

namespace linkferry {

// A failure to open a link, thrown by the launch builders (unknown browser or profile) and by
// Launcher::run (a program that ran and exited non-zero). A program that could not be started
// at all is not a LaunchError: that is a std::system_error.
class LaunchError : public std::exception {
 public:
  struct UnknownBrowser {
    std::string browser;
    bool operator==(const UnknownBrowser&) const = default;
  };
  struct UnknownProfile {
    std::string browser;
    std::string profile;
    bool operator==(const UnknownProfile&) const = default;
  };
  struct Failed {
    std::int32_t status = 0;
    bool operator==(const Failed&) const = default;
  };
  struct FailedWithOutput {
    std::int32_t status = 0;
    std::string output;  // the program's standard error, trimmed
    bool operator==(const FailedWithOutput&) const = default;
  };
  using Case = std::variant<UnknownBrowser, UnknownProfile, Failed, FailedWithOutput>;

  // "unknown browser " + browser
  static LaunchError unknownBrowser(std::string browser);
  // "unknown profile " + profile + " for " + browser
  static LaunchError unknownProfile(std::string browser, std::string profile);
  // "open exited with status " + status, whatever program ran.
  static LaunchError failed(std::int32_t status);
  // "exited with status " + status + ": " + output; when the output holds "-1743" (macOS refused
  // Apple-event automation) the text explains that instead:
  // "Automation permission refused (System Settings › Privacy & Security › Automation): " + output.
  static LaunchError failedWithOutput(std::int32_t status, std::string output);

  const Case& value() const { return m_case; }
  // The case's payload when the error is of case T, else null:
  // `if (auto failed = error.as<LaunchError::Failed>()) ...`.
  template <typename T>
  const T* as() const {
    return std::get_if<T>(&m_case);
  }

  // The fixed English description of the case.
  const std::string& description() const { return m_description; }
  const char* what() const noexcept override { return m_description.c_str(); }

  bool operator==(const LaunchError& other) const { return m_case == other.m_case; }

 private:
  explicit LaunchError(Case value);

  Case m_case;
  std::string m_description;
};

}  // namespace linkferry
