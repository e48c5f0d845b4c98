#include "RouterService.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <iostream>
#include <utility>

#include "ClickHandler.h"
#include "LinuxContext.h"
#include "PickerWindow.h"
#include "ServiceClient.h"
#include "SourceApp.h"
#include "browsers/DesktopEntries.h"
#include "foundation/Dates.h"
#include "foundation/URL.h"
#include "launching/DetachedLaunchRunner.h"
#include "launching/LaunchEnvironment.h"
#include "preparation/AppLinks.h"
#include "router/RouterSetup.h"
#include "rules/RuleSet.h"
#include "safety/PublicSuffixList.h"
#include "settings/AppSettings.h"
#include "signals/IndexBuilder.h"

namespace linkferry {

namespace {

constexpr std::chrono::milliseconds kSendTimeout{2000};

void logLine(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::cerr << "linkferry serve: " << line << std::endl;
}

JsonValue failure(const std::string& message) {
  return {{"ok", false}, {"error", message}};
}

// Sends all of `text` within the send timeout; false when the client does not take it.
bool sendAll(int descriptor, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + kSendTimeout;
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t written =
        ::send(descriptor, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written > 0) {
      sent += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd entry{descriptor, POLLOUT, 0};
      (void)::poll(&entry, 1, static_cast<int>(left.count()));
      continue;
    }
    return false;
  }
  return true;
}

// The click's own variables from a request: only those of focus and display cross over.
std::map<std::string, std::string> clickEnvironmentOf(const JsonReader& request) {
  std::map<std::string, std::string> environment;
  if (auto given = request.optional("environment")) {
    for (const auto* names :
         {&LaunchEnvironment::focusVariables(), &LaunchEnvironment::displayVariables()}) {
      for (std::string_view name : *names) {
        if (auto value = given->optional(name)) environment[std::string(name)] = value->string();
      }
    }
  }
  return environment;
}

RouterLoader::Loaded load(const RouterService::Options& options) {
  RouterLoader::Options load;
  load.environment = options.environment;
  load.home = options.home;
  load.readSignals = options.readSignals;
  load.runner = std::make_shared<DetachedLaunchRunner>();
  load.expander = options.expander;
  return RouterLoader::load(load);
}

}  // namespace

struct RouterService::Connection {
  int descriptor = -1;
  int peerPid = 0;
  std::string buffer;
  bool peerClosed = false;
};

RouterService::RouterService(Options options)
    : m_options(std::move(options)),
      m_loaded(load(m_options)),
      m_clicks(m_loaded.router, m_options.home, m_options.environment) {

  // The files are read again through the reload path, which knows which part failed and reports
  // it; what RouterLoader already loaded is the starting state either way.
  std::error_code ignored;
  std::filesystem::create_directories(m_loaded.paths.root, ignored);
  reloadChangedFiles();
  {
    std::lock_guard lock(m_reload);
    if (!m_browsersStamp.exists) {
      startRefresher(*m_loaded.router->state().catalog);
    }
  }
  try {
    m_dataWatcher = DirectoryWatcher::create({m_loaded.paths.root}, std::chrono::milliseconds(100),
                                             [this] { reloadChangedFiles(); });
    m_dataWatcher->start();
    m_entriesWatcher = DirectoryWatcher::create(
        DesktopEntries::applicationDirectories(m_options.home, m_options.environment),
        std::chrono::milliseconds(500), [this] {
          std::lock_guard lock(m_reload);
          reloadCatalog();
        });
    m_entriesWatcher->start();
  } catch (const std::exception& error) {
    // Without a watcher every click still checks the files itself.
    logLine(std::string("cannot watch for changes: ") + error.what());
  }
  for (std::size_t i = 0; i < kWorkers; ++i) m_workers.emplace_back([this] { work(); });
}

RouterService::~RouterService() {
  {
    std::lock_guard lock(m_queueMutex);
    m_quit = true;
  }
  m_queueReady.notify_all();
  for (std::thread& worker : m_workers) worker.join();
  // The watchers and the refresher call into this object; they stop before it goes.
  m_dataWatcher.reset();
  m_entriesWatcher.reset();
  m_refresher.reset();
}

void RouterService::report(const std::string& part, const std::optional<std::string>& problem) {
  const auto found = m_problems.find(part);
  if (problem) {
    if (found == m_problems.end() || found->second != *problem) {
      logLine(*problem + "; keeping the last good " + part);
    }
    m_problems[part] = *problem;
  } else if (found != m_problems.end()) {
    logLine("the " + part + " load again");
    m_problems.erase(found);
  }
}

void RouterService::reloadChangedFiles() {
  const auto stampOf = [](const std::filesystem::path& file) {
    struct stat status {};
    Stamp stamp;
    if (::stat(file.c_str(), &status) == 0) {
      stamp = Stamp{true, status.st_ino, status.st_size,
                    static_cast<long long>(status.st_mtim.tv_sec) * 1'000'000'000LL +
                        status.st_mtim.tv_nsec};
    }
    return stamp;
  };
  std::lock_guard lock(m_reload);
  const LinkferryPaths& paths = m_loaded.paths;

  if (Stamp stamp = stampOf(paths.rules()); stamp != m_rulesStamp) {
    m_rulesStamp = stamp;
    try {
      auto rules = std::make_shared<const RuleSet>(RuleSet::load(paths.rules()));
      m_loaded.router->setRules(rules);
      *m_loaded.rulesLoaded = true;
      report("rules", std::nullopt);
    } catch (const std::exception& error) {
      // Saving a remembered choice now would overwrite the user's file with the old rules.
      *m_loaded.rulesLoaded = false;
      report("rules", std::string(error.what()));
    }
  }
  if (Stamp stamp = stampOf(paths.settings()); stamp != m_settingsStamp) {
    m_settingsStamp = stamp;
    try {
      auto settings = std::make_shared<const AppSettings>(AppSettings::load(paths.settings()));
      m_loaded.router->setSettings(settings);
      report("settings", std::nullopt);
    } catch (const std::exception& error) {
      report("settings", std::string(error.what()));
    }
  }
  if (Stamp stamp = stampOf(paths.customBrowsers()); stamp != m_browsersStamp) {
    m_browsersStamp = stamp;
    reloadCatalog();
  }
}

void RouterService::reloadCatalog() {
  m_clicks.reloadDesktopEntries();
  try {
    auto catalog = std::make_shared<const BrowserCatalog>(
        RouterSetup::loadCatalog(m_loaded.paths, m_options.home, m_options.environment));
    m_loaded.router->setCatalog(catalog);
    report("browsers", std::nullopt);
    startRefresher(*catalog);
    // Profiles may have come or gone: their signals are read again soon.
    if (m_refresher) m_refresher->poke();
  } catch (const std::exception& error) {
    report("browsers", std::string(error.what()));
  }
}

void RouterService::startRefresher(const BrowserCatalog& catalog) {
  const auto settings = m_loaded.router->state().settings;
  if (!m_options.readSignals || !(settings->useSessions || settings->useHistory)) return;
  std::vector<std::filesystem::path> folders;
  for (const CatalogBrowser& browser : catalog.browsers) {
    for (const BrowserProfile& profile : browser.profiles) folders.push_back(profile.path);
  }
  if (!m_refresher) {
    m_refresher = std::make_unique<IndexRefresher>(
        m_options.debounce, m_options.period,
        [this] {
          const IndexBuilder builder{PublicSuffixList::shared(), SessionClassifier(),
                                     IndexBuilder::kDefaultHistoryWindow, std::nullopt};
          return builder.build(*m_loaded.router->state().catalog, Date::now());
        },
        [this](std::shared_ptr<const SignalIndex> index) {
          m_loaded.router->setIndex(index);
        });
  }
  m_refresher->start(folders);
}

JsonValue RouterService::answer(const std::string& line, int peerPid) {
  const JsonValue parsed = JsonValue::parse(line, nullptr, false);
  if (parsed.is_discarded()) return failure("the request is not JSON");
  try {
    const JsonReader request(parsed, "request");
    if (!request.isObject()) return failure("the request is not a JSON object");
    const std::string kind = request["request"].string();
    if (kind == "click") return click(request, peerPid);
    if (kind == "choose" || kind == "cancel") return pickerAnswer(request);
    if (kind == "index") return index();
    if (kind == "status") return status();
    return failure("unknown request \"" + kind + "\"");
  } catch (const std::exception& error) {
    return failure(error.what());
  }
}

JsonValue RouterService::click(const JsonReader& request, int peerPid) {
  const std::string text = request["url"].string();
  const std::optional<URL> url = URL::parse(text);
  if (!url || !url->scheme()) return failure("not a link with a scheme: " + text);
  reloadChangedFiles();
  Click click{.url = *url, .clientPid = peerPid, .environment = clickEnvironmentOf(request)};
  if (auto given = request.optional("sourceApp")) click.sourceApp = given->string();
  click.pick = request.has("pick") && request["pick"].boolean();
  click.dryRun = request.has("dryRun") && request["dryRun"].boolean();
  return answered(m_clicks.route(click));
}

JsonValue RouterService::pickerAnswer(const JsonReader& request) {
  return answered(m_clicks.answer(PickerAnswer::fromJson(request), clickEnvironmentOf(request)));
}

JsonValue RouterService::answered(const ClickOutcome& outcome) {
  if (outcome.logError) logLine("a click was not logged: " + *outcome.logError);
  return {{"ok", true}, {"outcome", outcome.toJson()}};
}

JsonValue RouterService::index() {
  return {{"ok", true}, {"index", m_loaded.router->state().index->toJson()}};
}

JsonValue RouterService::status() {
  JsonValue problems = JsonValue::array();
  {
    std::lock_guard lock(m_reload);
    for (const auto& [part, problem] : m_problems) problems.push_back(problem);
  }
  return {{"ok", true},
          {"pid", ::getpid()},
          {"dataFolder", m_loaded.paths.root.string()},
          {"problems", problems},
          {"indexBuiltAt", RFC3339::formatUTC(m_loaded.router->state().index->builtAt)}};
}

void RouterService::run(int listener) {
  armIdleExit();
  m_loop.run(listener, [this](int descriptor) { accept(descriptor); });
}

void RouterService::stop() {
  m_loop.terminate();
}

void RouterService::armIdleExit() {
  if (m_options.idleExit.count() <= 0 || m_connections > 0) return;
  if (m_idleTimer) m_loop.cancel(*m_idleTimer);
  m_idleTimer = m_loop.schedule(m_options.idleExit, [this] {
    m_idleTimer.reset();
    if (m_connections == 0) m_loop.terminate();
  });
}

void RouterService::accept(int descriptor) {
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      credentials.uid != ::getuid()) {
    ::close(descriptor);
    return;
  }
  ++m_connections;
  if (m_idleTimer) {
    m_loop.cancel(*m_idleTimer);
    m_idleTimer.reset();
  }
  auto connection = std::make_shared<Connection>();
  connection->descriptor = descriptor;
  connection->peerPid = credentials.pid;
  readFrom(connection);
}

void RouterService::readFrom(const std::shared_ptr<Connection>& connection) {
  if (const auto newline = connection->buffer.find('\n'); newline != std::string::npos) {
    std::string line = connection->buffer.substr(0, newline);
    connection->buffer.erase(0, newline + 1);
    dispatch(connection, std::move(line));
    return;
  }
  if (connection->buffer.size() >= ServiceClient::kMaxLine) {
    // Nothing after an overlong line can be trusted to start a request: answer and hang up.
    (void)sendAll(connection->descriptor,
                  Json::encodeCompact(failure("the request is longer than " +
                                              std::to_string(ServiceClient::kMaxLine) +
                                              " bytes")) +
                      "\n");
    close(connection);
    return;
  }
  if (connection->peerClosed) {
    close(connection);
    return;
  }
  m_loop.watch(connection->descriptor, EventLoop::Clock::now() + m_options.requestTimeout,
               [this, connection](bool readable) {
                 if (!readable) {
                   close(connection);
                   return;
                 }
                 while (connection->buffer.size() < ServiceClient::kMaxLine) {
                   char bytes[16384];
                   const ssize_t got = ::read(connection->descriptor, bytes, sizeof(bytes));
                   if (got > 0) {
                     connection->buffer.append(bytes, static_cast<std::size_t>(got));
                     if (connection->buffer.find('\n') != std::string::npos) break;
                   } else if (got < 0 && errno == EINTR) {
                     continue;
                   } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                     break;
                   } else {
                     connection->peerClosed = true;
                     break;
                   }
                 }
                 readFrom(connection);
               });
}

void RouterService::dispatch(const std::shared_ptr<Connection>& connection, std::string line) {
  {
    std::lock_guard lock(m_queueMutex);
    m_queue.push_back([this, connection, line = std::move(line)] {
      const std::string text = Json::encodeCompact(answer(line, connection->peerPid)) + "\n";
      const bool sent = sendAll(connection->descriptor, text);
      m_loop.post([this, connection, sent] {
        if (sent) {
          readFrom(connection);
        } else {
          close(connection);
        }
      });
    });
  }
  m_queueReady.notify_one();
}

void RouterService::close(const std::shared_ptr<Connection>& connection) {
  if (connection->descriptor < 0) return;
  ::close(connection->descriptor);
  connection->descriptor = -1;
  --m_connections;
  armIdleExit();
}

void RouterService::work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(m_queueMutex);
      m_queueReady.wait(lock, [this] { return m_quit || !m_queue.empty(); });
      if (m_queue.empty()) return;
      task = std::move(m_queue.front());
      m_queue.pop_front();
    }
    task();
  }
}

}  // namespace linkferry
