#include "ServiceClient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>

#include "foundation/SocketLines.h"
#include "launching/HelperSocket.h"
#include "launching/LaunchEnvironment.h"
#include "settings/LinkferryPaths.h"

namespace linkferry::ServiceClient {

namespace {

// How the service's answers are named in what goes wrong with them.
constexpr const char* kAnswer = "the service's answer";

}  // namespace

std::filesystem::path socketPath(const Environment& environment) {
  return HelperSocket::path(environment).parent_path() / "router.sock";
}

JsonValue clickEnvironment(const Environment& environment) {
  JsonValue variables = JsonValue::object();
  for (const auto* names :
       {&LaunchEnvironment::focusVariables(), &LaunchEnvironment::displayVariables()}) {
    for (std::string_view name : *names) {
      if (auto found = environment.find(std::string(name)); found != environment.end()) {
        variables[found->first] = found->second;
      }
    }
  }
  return variables;
}

JsonValue clickRequest(const std::string& link, bool pick, bool dryRun,
                       const std::optional<std::string>& sourceApp, const Environment& environment) {
  JsonValue request = {{"request", "click"},
                       {"url", link},
                       {"pick", pick},
                       {"dryRun", dryRun},
                       {"environment", clickEnvironment(environment)}};
  if (sourceApp) request["sourceApp"] = *sourceApp;
  return request;
}

std::optional<Connection> Connection::openServing(const Environment& environment,
                                                  const std::filesystem::path& home) {
  std::optional<Connection> connection = open(environment);
  if (!connection) return std::nullopt;
  const std::string folder = LinkferryPaths::defaultPaths(environment, home).root.string();
  try {
    const JsonValue status =
        connection->exchange({{"request", "status"}}, std::chrono::seconds(10));
    if (servedFolder(status) == folder) return connection;
  } catch (const std::exception&) {
    // A service that cannot say which folder it serves is not used.
  }
  return std::nullopt;
}

std::optional<Connection> Connection::open(const Environment& environment) {
  const std::filesystem::path path = socketPath(environment);
  // Never hand a link to a socket in a folder someone else could have put there.
  try {
    HelperSocket::prepareFolder(path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const int descriptor = SocketLines::connect(path, kConnectTimeout);
  if (descriptor < 0) return std::nullopt;
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      credentials.uid != ::getuid()) {
    ::close(descriptor);
    return std::nullopt;
  }
  return Connection(descriptor);
}

Connection::~Connection() {
  if (m_descriptor >= 0) ::close(m_descriptor);
}

JsonValue Connection::exchange(const JsonValue& request, std::chrono::milliseconds timeout,
                               std::size_t answerLimit) {
  const std::string line = Json::encodeCompact(request) + "\n";
  if (line.size() > kMaxLine) throw std::runtime_error("the request is too long");
  SocketLines::send(m_descriptor, line, "cannot reach the service");
  const std::string text =
      SocketLines::receive(m_descriptor, m_buffer, timeout, answerLimit, "the service");
  JsonValue answer = Json::parse(text, kAnswer);
  const JsonReader reader(answer, kAnswer);
  if (!reader["ok"].boolean()) {
    const std::optional<JsonReader> error = reader.optional("error");
    throw Refused(error ? error->string() : std::string("the service refused the request"));
  }
  return answer;
}

std::string servedFolder(const JsonValue& status) {
  return JsonReader(status, kAnswer)["dataFolder"].string();
}

}  // namespace linkferry::ServiceClient
