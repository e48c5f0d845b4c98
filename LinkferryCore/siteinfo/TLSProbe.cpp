#include "siteinfo/TLSProbe.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/SigpipeGuard.h"
#include "foundation/Timeout.h"
#include "safety/DomainSafety.h"
#include "siteinfo/SiteInfoError.h"

namespace linkferry::TLSProbe {

namespace {

using Clock = std::chrono::steady_clock;

const char* kTimedOut = "The connection timed out.";

class Socket {
 public:
  explicit Socket(int fd) : m_fd(fd) {}
  ~Socket() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return m_fd; }
  int release() { return std::exchange(m_fd, -1); }

 private:
  int m_fd;
};

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until the socket is ready for `events`; false when the deadline passes first.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const int left = millisecondsLeft(deadline);
    if (left == 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, left);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

struct Resolved {
  std::vector<sockaddr_storage> addresses;
  std::vector<socklen_t> lengths;
  std::string error;
};

// The resolver has no time limit of its own, so it runs under the probe's.
Resolved resolve(const std::string& host, int port, Clock::time_point deadline) {
  auto result = withTimeout<Resolved>(deadline - Clock::now(), [host, port] {
    Resolved resolved;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (status != 0) {
      resolved.error = gai_strerror(status);
      return resolved;
    }
    for (addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
      sockaddr_storage address{};
      std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
      resolved.addresses.push_back(address);
      resolved.lengths.push_back(entry->ai_addrlen);
    }
    ::freeaddrinfo(list);
    return resolved;
  });
  if (!result) throw SiteInfoError::network(kTimedOut);
  if (result->addresses.empty()) {
    throw SiteInfoError::network(result->error.empty() ? "The host was not found." : result->error);
  }
  return std::move(*result);
}

// The first address that accepts a connection before the deadline.
int connectAny(const Resolved& resolved, Clock::time_point deadline) {
  std::string lastError = kTimedOut;
  for (std::size_t i = 0; i < resolved.addresses.size(); ++i) {
    const auto* address = reinterpret_cast<const sockaddr*>(&resolved.addresses[i]);
    const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      lastError = std::strerror(errno);
      continue;
    }
    Socket socket(fd);
    if (::connect(fd, address, resolved.lengths[i]) != 0) {
      if (errno != EINPROGRESS) {
        lastError = std::strerror(errno);
        continue;
      }
      if (!waitFor(fd, POLLOUT, deadline)) throw SiteInfoError::network(kTimedOut);
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      if (error != 0) {
        lastError = std::strerror(error);
        continue;
      }
    }
    return socket.release();
  }
  throw SiteInfoError::network(lastError);
}

std::string openSSLError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? std::string(reason) : std::string(text);
}

bool isIPAddress(const std::string& host) {
  in6_addr address{};
  return ::inet_pton(AF_INET, host.c_str(), &address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

struct SSLContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SSLFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

}  // namespace

CertificateReport fetch(std::string_view host, int port, std::chrono::milliseconds timeout,
                        const Trust& trust) {
  const auto deadline = Clock::now() + timeout;
  // A server that hangs up mid-handshake must give an error, not end the process.
  const SigpipeGuard sigpipe;
  const auto forms = DomainSafety::forms(host);
  if (!forms || port <= 0 || port > 65535) throw SiteInfoError::noHost();
  std::string ascii = forms->ascii;
  if (ascii.size() > 2 && ascii.front() == '[' && ascii.back() == ']') {
    ascii = ascii.substr(1, ascii.size() - 2);
  }
  if (ascii.empty()) throw SiteInfoError::noHost();
  const bool ipAddress = isIPAddress(ascii);

  ERR_clear_error();
  std::unique_ptr<SSL_CTX, SSLContextFree> context(SSL_CTX_new(TLS_client_method()));
  if (!context) throw SiteInfoError::network(openSSLError("TLS is not available."));
  // The handshake goes on whatever the verdict: an untrusted certificate is still reported.
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  const int loaded =
      trust.caFile ? SSL_CTX_load_verify_locations(context.get(), trust.caFile->c_str(), nullptr)
                   : SSL_CTX_set_default_verify_paths(context.get());
  if (loaded != 1) throw SiteInfoError::network(openSSLError("The trusted certificates cannot be read."));

  const Resolved resolved = resolve(ascii, port, deadline);
  const Socket socket(connectAny(resolved, deadline));

  std::unique_ptr<SSL, SSLFree> ssl(SSL_new(context.get()));
  if (!ssl) throw SiteInfoError::network(openSSLError("TLS is not available."));
  if (ipAddress) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), ascii.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl.get(), ascii.c_str());
    SSL_set1_host(ssl.get(), ascii.c_str());
  }
  SSL_set_fd(ssl.get(), socket.fd());

  for (;;) {
    errno = 0;
    const int status = SSL_connect(ssl.get());
    if (status == 1) break;
    const int error = SSL_get_error(ssl.get(), status);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (!waitFor(socket.fd(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
        throw SiteInfoError::network(kTimedOut);
      }
      continue;
    }
    if (error == SSL_ERROR_SYSCALL && errno != 0) throw SiteInfoError::network(std::strerror(errno));
    throw SiteInfoError::network(openSSLError("no TLS handshake"));
  }

  const X509* leaf = SSL_get0_peer_certificate(ssl.get());
  if (leaf == nullptr) throw SiteInfoError::invalidResponse();
  const long verdict = SSL_get_verify_result(ssl.get());
  const bool trusted = verdict == X509_V_OK;
  std::optional<std::string> trustError;
  if (!trusted) trustError = X509_verify_cert_error_string(verdict);

  // The chain as evaluated when one was built, else as the server presented it.
  long long chainLength = 0;
  if (STACK_OF(X509)* verified = SSL_get0_verified_chain(ssl.get())) {
    chainLength = sk_X509_num(verified);
  }
  if (chainLength == 0) {
    if (STACK_OF(X509)* presented = SSL_get_peer_cert_chain(ssl.get())) {
      chainLength = sk_X509_num(presented);
    }
  }
  if (chainLength == 0) chainLength = 1;
  ERR_clear_error();
  // The connection is dropped without a request: the certificate was all we came for.
  return CertificateReport::fromLeaf(leaf, chainLength, trusted, std::move(trustError));
}

}  // namespace linkferry::TLSProbe
