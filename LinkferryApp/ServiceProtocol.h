#pragma once

#include <string>

#include <functional>

#include "ClickHandler.h"
#include "ProgramIdentity.h"
#include "RouterLoader.h"
#include "ServiceReloader.h"
#include "ServiceServer.h"
#include "WarmPicker.h"
#include "foundation/Json.h"

namespace linkferry {

// What `linkferry serve` answers: one request line in, one answer object out
// ({"request": "click" | "choose" | "cancel" | "index" | "status" | "quit", ...}; ServiceClient has
// the protocol). Clicks are routed with the service's warm Router and written to its log before
// they are answered; a click that needs the picker waits in the click handler until its "choose"
// or "cancel", or, when the client lets the service show the window ("window": true), is shown in
// the warm picker and answered only once the user has chosen.
//
// Threads: answer() is called on the server's workers, several at once.
class ServiceProtocol {
 public:
  // How the process serving runs.
  struct Process {
    // Called once a "quit" request was answered (nothing to call: the request is refused); the
    // service then stops taking connections and ends when its clicks are answered.
    std::function<void()> quit;
    // Its socket is the service manager's, which starts the service again on the next click.
    bool socketActivated = false;
  };

  // `loaded`, `clicks`, `reloader` and `warmPicker` (null: none) must outlive this object.
  ServiceProtocol(const RouterLoader::Loaded& loaded, ClickHandler& clicks,
                  ServiceReloader& reloader, WarmPicker* warmPicker, Process process);
  ServiceProtocol(const ServiceProtocol&) = delete;
  ServiceProtocol& operator=(const ServiceProtocol&) = delete;

  // `peerPid` is the client process (for the app the link was clicked in; 0 when unknown).
  // Never throws: a malformed request gets {"ok": false, "error"}. A click or a picker's choice
  // is answered through `early` as soon as its browser started (when `early` is given).
  JsonValue answer(const std::string& line, int peerPid, const ServiceServer::Reply& early = {});

 private:
  JsonValue click(const JsonReader& request, int peerPid, const ServiceServer::Reply& early);
  // A "pick" shown in the warm picker and the user's answer carried back to the router: the
  // click's final outcome (sent through `early` once the chosen browser started). The pick itself
  // when the warm picker cannot show it (none, another display, busy, gone meanwhile): the client
  // then shows its own window as before.
  ClickOutcome showWarm(ClickOutcome pick, const std::map<std::string, std::string>& environment,
                        const ServiceServer::Reply& early);
  JsonValue pickerAnswer(const JsonReader& request, const ServiceServer::Reply& early);
  JsonValue index();
  JsonValue status();
  JsonValue quit(const ServiceServer::Reply& early);

  const RouterLoader::Loaded& m_loaded;
  ClickHandler& m_clicks;
  ServiceReloader& m_reloader;
  WarmPicker* const m_warmPicker;
  const Process m_process;
  // Which build answers: read once, before anything could replace the program's file.
  const ProgramIdentity m_identity = ProgramIdentity::current();
};

}  // namespace linkferry
