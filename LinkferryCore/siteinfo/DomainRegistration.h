#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Dates.h"

namespace linkferry {

// Who registered a domain and when, condensed from an RDAP domain answer (RFC 9083).
struct DomainRegistration {
  std::string domain{};  // lower-case ASCII form
  std::optional<Date> registered{};
  std::optional<Date> expires{};
  std::optional<Date> lastChanged{};
  std::optional<std::string> registrar{};
  // The registrant's organisation or name, only when the registry publishes it.
  std::optional<std::string> registrantOrganization{};
  // An upper-case two-letter code, or a published country name.
  std::optional<std::string> registrantCountry{};
  bool registrantHidden = false;
  std::vector<std::string> status{};  // lower-cased, in the answer's order
  // The registrar's own RDAP record for this domain (an https link).
  std::optional<std::string> registrarRecord{};

  // Reads an RDAP domain answer. Throws SiteInfoError::invalidResponse for anything else.
  static DomainRegistration parse(std::string_view body);

  // Fills the gaps of this record from the registrar's record of the same domain; the domain, the
  // last change, the status and the registrar link stay as they are.
  void merge(const DomainRegistration& registrarRecord);

  bool operator==(const DomainRegistration&) const = default;
};

}  // namespace linkferry
