#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>

#include "siteinfo/CertificateReport.h"

namespace linkferry::TLSProbe {

// Which certificate authorities the probe trusts: this system's store unless a file of PEM
// certificates replaces it.
struct Trust {
  std::optional<std::filesystem::path> caFile{};
};

// Opens a TLS connection to the host (the ASCII form, also sent as the server name), reads the
// certificate chain and the trust verdict from the handshake and closes it again: no request is
// sent. Resolving, connecting and the handshake together take at most `timeout`.
// Throws SiteInfoError: `noHost` for an unusable host, `network` when no handshake completes,
// `invalidResponse` when the server shows no certificate. An untrusted certificate is no error but
// a report with `trusted` false.
CertificateReport fetch(std::string_view host, int port, std::chrono::milliseconds timeout,
                        const Trust& trust = {});

}  // namespace linkferry::TLSProbe
