#include "rules/RuleSetError.h"

namespace linkferry {

RuleSetError::RuleSetError(Case kind, std::int64_t version)
    : m_case(kind),
      m_version(version),
      m_text("rules.json version " + std::to_string(version) +
             " is newer than this LinkFerry understands") {}

RuleSetError RuleSetError::unsupportedVersion(std::int64_t version) {
  return RuleSetError(Case::unsupportedVersion, version);
}

}  // namespace linkferry
