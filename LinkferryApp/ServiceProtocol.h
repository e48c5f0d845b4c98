#pragma once

#include <cstddef>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "LinuxContext.h"
#include "RouterLoader.h"
#include "ServiceReloader.h"
#include "foundation/Json.h"
#include "router/PickerRequest.h"

namespace linkferry {

// What `linkferry serve` answers: one request line in, one answer object out
// ({"request": "click" | "choose" | "cancel" | "index" | "status", ...}; ServiceClient has the
// protocol). Clicks are routed with the service's warm Router and written to its log before
// they are answered; a click that needs the picker is kept until its "choose" or "cancel".
//
// Threads: answer() is called on the server's workers, several at once.
class ServiceProtocol {
 public:
  using Environment = std::map<std::string, std::string>;

  // `loaded`, `dryRouter` and `reloader` must outlive this object. `environment` is the service's
  // own; a click's display and focus variables come with its request.
  ServiceProtocol(Environment environment, const std::filesystem::path& home,
                  const RouterLoader::Loaded& loaded, std::shared_ptr<Router> dryRouter,
                  ServiceReloader& reloader);
  ServiceProtocol(const ServiceProtocol&) = delete;
  ServiceProtocol& operator=(const ServiceProtocol&) = delete;

  // `peerPid` is the client process (for the app the link was clicked in; 0 when unknown).
  // Never throws: a malformed request gets {"ok": false, "error"}.
  JsonValue answer(const std::string& line, int peerPid);

 private:
  // A picker request awaiting its answer, and whether its click was a dry run.
  struct Pending {
    PickerRequest request;
    bool dryRun = false;
  };

  JsonValue click(const JsonReader& request, int peerPid);
  JsonValue pickerAnswer(const JsonReader& request, bool choose);
  JsonValue index();
  JsonValue status();

  Router& routerFor(bool dryRun) { return dryRun ? *m_dryRouter : *m_loaded.router; }
  std::optional<std::string> sourceAppOf(const JsonReader& request, int peerPid,
                                         const ServiceReloader::DesktopApps& apps) const;
  void keepPending(const PickerRequest& picker, bool dryRun);
  std::optional<Pending> takePending(const std::string& id);

  const Environment m_environment;
  const RouterLoader::Loaded& m_loaded;
  const std::shared_ptr<Router> m_dryRouter;  // the same state and log, settings in dry-run mode
  ServiceReloader& m_reloader;

  // The display and bus connections every click's context is read over.
  const LinuxContext::Gatherer m_context;

  // Picker requests awaiting their answer, by log entry, oldest dropped beyond kMaxPending.
  static constexpr std::size_t kMaxPending = 256;
  std::mutex m_pendingMutex;
  std::deque<std::pair<std::string, Pending>> m_pending;
};

}  // namespace linkferry
