#include "RouterService.h"

#include <utility>

#include "PickerWindow.h"
#include "launching/DetachedLaunchRunner.h"
#include "launching/LaunchEnvironment.h"

namespace linkferry {

namespace {

RouterLoader::Loaded load(const RouterService::Options& options) {
  RouterLoader::Options load;
  load.environment = options.environment;
  load.home = options.home;
  load.readSignals = options.readSignals;
  load.runner = std::make_shared<DetachedLaunchRunner>(options.launchWindow);
  load.expander = options.expander;
  return RouterLoader::load(load);
}

}  // namespace

RouterService::RouterService(Options options)
    : m_options(std::move(options)),
      m_loaded(load(m_options)),
      m_clicks(std::make_unique<ClickHandler>(m_loaded.router, m_options.home,
                                              m_options.environment)) {
  // The files are read again through the reload path, which knows which part failed and reports
  // it; what RouterLoader already loaded is the starting state either way.
  m_reloader = std::make_unique<ServiceReloader>(
      ServiceReloader::Options{m_options.environment, m_options.home, m_options.debounce,
                               m_options.period, m_options.readSignals},
      m_loaded, *m_clicks);
  startWarmPicker();
  m_protocol = std::make_unique<ServiceProtocol>(
      m_loaded, *m_clicks, *m_reloader, m_warmPicker.get(),
      ServiceProtocol::Process{.quit = [this] { quit(); },
                               .socketActivated = m_options.socketActivated});
  ServiceServer::Limits limits;
  limits.idleExit = m_options.idleExit;
  limits.requestTimeout = m_options.requestTimeout;
  limits.maxConnections = m_options.maxConnections;
  limits.maxConnectionsPerClient = m_options.maxConnectionsPerClient;
  m_server = std::make_unique<ServiceServer>(
      limits, [this](const std::string& line, int peerPid, const ServiceServer::Reply& early) {
        return answer(line, peerPid, early);
      });
}

RouterService::~RouterService() {
  // A worker showing the warm picker waits for the user: the picker goes first, so that the
  // workers can finish.
  if (m_warmPicker) m_warmPicker->stop();
  // The server's workers call the protocol, which reads what the reloader keeps current.
  m_server.reset();
  m_protocol.reset();
  m_reloader.reset();
  m_warmPicker.reset();
  m_clicks.reset();
}

void RouterService::startWarmPicker() {
  if (!m_options.warmPicker) return;
  if (std::optional<std::string> program = PickerWindow::program(m_options.environment)) {
    WarmPicker::Options options;
    options.program = *program;
    options.environment = m_options.environment;
    // A focus token the service itself was started with is spent; each click brings its own.
    for (std::string_view name : LaunchEnvironment::focusVariables()) {
      options.environment.erase(std::string(name));
    }
    m_warmPicker = std::make_unique<WarmPicker>(std::move(options));
  }
}

void RouterService::run(int listener) {
  m_server->run(listener);
}

void RouterService::stop() {
  m_server->stop();
}

void RouterService::quit() {
  m_server->quit(m_options.releaseSocket);
}

JsonValue RouterService::answer(const std::string& line, int peerPid,
                                const ServiceServer::Reply& early) {
  return m_protocol->answer(line, peerPid, early);
}

}  // namespace linkferry
