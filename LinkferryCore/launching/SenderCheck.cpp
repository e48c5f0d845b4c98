#include "launching/SenderCheck.h"

#include <filesystem>
#include <system_error>

#include "launching/HelperProtocol.h"

namespace linkferry {

bool SignatureSenderCheck::isLinkFerry(const SenderIdentity& sender) const {
  CodeSigning::Guest guest;
  if (!sender.auditToken.empty()) {
    guest = sender.auditToken;
  } else if (sender.processID && *sender.processID >= 1) {
    guest = *sender.processID;
  } else {
    return false;
  }
  std::optional<SigningInformation> information;
  try {
    information = m_signing.signingInformation(guest);
  } catch (...) {
    return false;
  }
  return information && information->identifier &&
         *information->identifier == HelperProtocol::appStoreBundleID &&
         information->teamIdentifier && *information->teamIdentifier == HelperProtocol::teamID;
}

bool SignatureSenderCheck::isInstalledApp(const std::string& path) const {
  if (path.size() < 4 || path.compare(path.size() - 4, 4, ".app") != 0) return false;
  if (path.find("/../") != std::string::npos) return false;
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) return false;
  try {
    return m_bundleIdentifier && m_bundleIdentifier(path).has_value();
  } catch (...) {
    return false;
  }
}

}  // namespace linkferry
