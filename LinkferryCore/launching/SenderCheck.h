#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The helper's first guard: proof, from the request itself, that the sender is LinkFerry. The
// platform delivers the sender's identity with the request; what counts as "LinkFerry" is the
// platform's business (a code signature on macOS, the program file on Linux), so the check sits
// behind an interface and both answers fail closed.
namespace linkferry {

// Who sent a request, as the platform reports it. Everything is optional: a platform fills in
// what it knows.
struct SenderIdentity {
  // An identity that names the exact sending process and cannot be confused with a reused process
  // id (the audit token of an Apple event). Empty when absent.
  std::vector<std::uint8_t> auditToken;
  // The sending process; absent, or below 1, when unknown.
  std::optional<std::int32_t> processID;
  // The sending user (Unix socket peers); absent when unknown.
  std::optional<std::uint32_t> userID;
  bool operator==(const SenderIdentity&) const = default;
};

class SenderCheck {
 public:
  virtual ~SenderCheck() = default;
  // True only when the sender is the product's own application; false on any doubt.
  virtual bool isLinkFerry(const SenderIdentity& sender) const = 0;
  // True only when `path` is an installed application (the predicate HelperPolicy::validate uses
  // for "-a" and "-na").
  virtual bool isInstalledApp(const std::string& path) const = 0;
};

// The signature of a running program, read by the platform's code-signing service.
struct SigningInformation {
  std::optional<std::string> identifier;      // the code identifier
  std::optional<std::string> teamIdentifier;  // the signing team
};

// The code-signing service of the platform. `signingInformation` finds the guest named by the
// attribute (an audit token, or a process id), checks that its running code is valid and returns
// its static code's signing information; nothing on any error.
class CodeSigning {
 public:
  using Guest = std::variant<std::vector<std::uint8_t>, std::int32_t>;
  virtual ~CodeSigning() = default;
  virtual std::optional<SigningInformation> signingInformation(const Guest& guest) const = 0;
};

// The macOS rule: the sender is found by its audit token when it carries a non-empty one, else by
// a process id of at least 1, else it is refused; its running code must be valid, and its code
// identifier must be HelperProtocol::appStoreBundleID and its team HelperProtocol::teamID.
// An installed application is an existing folder whose path ends with ".app", holds no "/../"
// and has a bundle identifier (`bundleIdentifier` reads it; nothing when it cannot).
class SignatureSenderCheck final : public SenderCheck {
 public:
  using BundleReader = std::function<std::optional<std::string>(const std::string& path)>;

  SignatureSenderCheck(const CodeSigning& signing, BundleReader bundleIdentifier)
      : m_signing(signing), m_bundleIdentifier(std::move(bundleIdentifier)) {}

  bool isLinkFerry(const SenderIdentity& sender) const override;
  bool isInstalledApp(const std::string& path) const override;

 private:
  const CodeSigning& m_signing;
  BundleReader m_bundleIdentifier;
};

}  // namespace linkferry
