#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ClickHandler.h"
#include "RouterLoader.h"
#include "ServiceProtocol.h"
#include "ServiceReloader.h"
#include "ServiceServer.h"
#include "WarmPicker.h"
#include "foundation/Json.h"
#include "launching/DetachedLaunchRunner.h"

namespace linkferry {

// `linkferry serve`: one process per user holding a warm Router (catalog, rules, signal index,
// settings) and the decision log, answering clicks on a Unix socket (ServiceClient has the
// protocol). Three parts, composed here: the server (ServiceServer: the socket, connections,
// workers, deadlines and limits), the reloader (ServiceReloader: rules.json, settings.json,
// browsers.json, the desktop entries and the signal index kept current) and the protocol
// (ServiceProtocol: what each request means). Every click is in the log (written through by
// DecisionLog) before its answer is sent.
class RouterService {
 public:
  using Environment = std::map<std::string, std::string>;

  struct Options {
    Environment environment;
    std::filesystem::path home;
    // Exit after this long without a connection; zero: never.
    std::chrono::milliseconds idleExit{0};
    // The index is rebuilt this long after the browsers' folders were last changed, and every
    // period in any case.
    std::chrono::milliseconds debounce{kDefaultDebounce};
    std::chrono::milliseconds period{kDefaultPeriod};
    // A request not complete this long after it began (ServiceServer) closes its connection.
    std::chrono::milliseconds requestTimeout{kDefaultRequestTimeout};
    // Connections kept open at once, in all and per client process (ServiceServer's limits).
    std::size_t maxConnections = ServiceServer::kDefaultMaxConnections;
    std::size_t maxConnectionsPerClient = ServiceServer::kDefaultMaxConnectionsPerClient;
    // Read the browsers' history and cookies (off only for tests of other things).
    bool readSignals = true;
    // Follows short links; the network expander when null.
    std::shared_ptr<const ShortLinkExpanding> expander;
    // How long a started browser is watched for a failure (DetachedLaunchRunner).
    std::chrono::milliseconds launchWindow{DetachedLaunchRunner::kDefaultWindow};
    // Keep a picker window ready (WarmPicker) when the environment names a display and
    // `linkferry-picker` is beside this program.
    bool warmPicker = true;
    // Called on the server's thread when a "quit" request was answered and no connection is
    // taken any more: gives the socket's path up (and what keeps other servers off it) so that
    // a new service can listen there while this one finishes its clicks.
    std::function<void()> releaseSocket;
    // The socket comes from the service manager (socket activation).
    bool socketActivated = false;
  };
  static constexpr std::chrono::milliseconds kDefaultDebounce{5'000};
  static constexpr std::chrono::milliseconds kDefaultPeriod{30 * 60'000};
  static constexpr std::chrono::milliseconds kDefaultRequestTimeout =
      ServiceServer::kDefaultRequestTimeout;

  // Loads everything (RouterLoader) and starts watching. Never fails on the user's files.
  explicit RouterService(Options options);
  ~RouterService();
  RouterService(const RouterService&) = delete;
  RouterService& operator=(const RouterService&) = delete;

  // Serves `listener` until stop() or the idle exit.
  void run(int listener);
  // Safe from any thread and from a signal handler's thread.
  void stop();
  // What a "quit" request does: no further connection (Options::releaseSocket), then run()
  // returns once the clicks under way are answered. Safe from any thread.
  void quit();

  // One request line in, one answer object out (ServiceProtocol::answer).
  JsonValue answer(const std::string& line, int peerPid, const ServiceServer::Reply& early = {});

 private:
  void startWarmPicker();

  const Options m_options;
  RouterLoader::Loaded m_loaded;
  // Declared in the order they start; each stops before what it uses goes.
  std::unique_ptr<ClickHandler> m_clicks;
  std::unique_ptr<WarmPicker> m_warmPicker;
  std::unique_ptr<ServiceReloader> m_reloader;
  std::unique_ptr<ServiceProtocol> m_protocol;
  std::unique_ptr<ServiceServer> m_server;
};

}  // namespace linkferry
