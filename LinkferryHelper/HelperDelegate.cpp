#include "HelperDelegate.h"

#include <exception>

#include "foundation/DisplayText.h"
#include "foundation/L10n.h"
#include "launching/HelperPolicy.h"
#include "launching/HelperProtocol.h"

namespace linkferry {

namespace {

constexpr std::string_view kLogPrefix = "LinkFerry Helper: ";

std::string tr(const std::string& key) {
  return L10n::tr(key);
}

// Logs "LinkFerry Helper: <what>", escaped for display, and refuses the request with the same line.
void refuse(const HelperServices& services, HelperRequest& request, const std::string& what) {
  const std::string line = DisplayText::escaped(std::string(kLogPrefix) + what);
  services.log(line);
  request.reply({HelperReply::Status::refused, line});
}

}  // namespace

HelperDelegate::HelperDelegate(HelperServices services, std::chrono::milliseconds idleInterval)
    : m_services(std::move(services)), m_idleInterval(idleInterval) {}

HelperDelegate::~HelperDelegate() {
  if (m_idleTimer) m_services.scheduler.cancel(*m_idleTimer);
}

void HelperDelegate::didFinishLaunching() {
  m_services.scheduler.schedule(kWelcomeDelay, [this] {
    if (!m_handledAURL) showInstalledAlert();
  });
  scheduleQuit();
}

bool HelperDelegate::shouldHandleReopen() {
  showInstalledAlert();
  return false;
}

void HelperDelegate::scheduleQuit() {
  if (m_idleTimer) m_services.scheduler.cancel(*m_idleTimer);
  HelperScheduler& scheduler = m_services.scheduler;
  m_idleTimer = scheduler.schedule(m_idleInterval, [&scheduler] { scheduler.terminate(); });
}

void HelperDelegate::showInstalledAlert() {
  m_services.alerts.alert(tr(kInstalledTitle), tr(m_services.installedMessage.empty()
                                                       ? kInstalledMessage
                                                       : m_services.installedMessage));
}

void HelperDelegate::handle(std::shared_ptr<HelperRequest> request) {
  m_handledAURL = true;
  scheduleQuit();

  const auto text = request->directObject();
  const auto url = text ? URL::parse(*text) : std::nullopt;
  if (!url) {
    request->reply({HelperReply::Status::refused, "not a LinkFerry request"});
    return;
  }
  if (!m_services.senderCheck.isLinkFerry(request->sender())) {
    refuse(m_services, *request, "request refused, not sent by LinkFerry");
    return;
  }
  // The two decoders look at the host, so a "handler" URL is never a plan and a "run" URL never
  // a handler change.
  if (const auto change = HelperProtocol::handlerRequest(*url)) {
    setHandler(change->scheme, change->bundleID, std::move(request));
    return;
  }
  if (const auto plan = HelperProtocol::plan(*url)) {
    startPlan(*plan, std::move(request));
    return;
  }
  request->reply({HelperReply::Status::refused, "not a LinkFerry request"});
}

// Every line below may carry text of the request (a link, a scheme, an identifier), so each is
// escaped for display (once: the log writes lines as given) before it reaches the log, an alert or the reply.
void HelperDelegate::startPlan(const LaunchPlan& plan, std::shared_ptr<HelperRequest> request) {
  HelperServices& services = m_services;
  services.scheduler.background([plan, request, &services] {
    try {
      services.validatePlan(plan);
    } catch (const HelperPolicy::Rejection& rejection) {
      refuse(services, *request, "plan refused: " + rejection.description());
      return;
    }
    std::string lastError;
    // Only the top-level fallbacks are walked; theirs are not.
    for (std::size_t attempt = 0; attempt <= plan.fallbacks.size(); ++attempt) {
      const LaunchPlan& current = attempt == 0 ? plan : plan.fallbacks[attempt - 1];
      try {
        services.runner.run(current);
        request->reply({HelperReply::Status::done, {}});
        return;
      } catch (const std::exception& error) {
        lastError = DisplayText::escaped(error.what());
      } catch (...) {
        lastError = "unknown error";
      }
    }
    request->reply({HelperReply::Status::failed, lastError});
    services.scheduler.onMain(
        [&services, lastError] { services.alerts.alert(tr(kOpenFailedTitle), lastError); });
  });
}

void HelperDelegate::setHandler(const std::string& scheme, const std::string& identifier,
                                std::shared_ptr<HelperRequest> request) {
  HelperServices& services = m_services;
  services.scheduler.background([scheme, identifier, request, &services] {
    std::vector<std::string> declaring;
    if (const auto probe = URL::parse(scheme + ":x")) {
      declaring = services.workspace.applicationsToOpen(*probe);
    }
    try {
      HelperPolicy::validateHandler(scheme, identifier, declaring, services.ownApplication);
    } catch (const HelperPolicy::Rejection& rejection) {
      refuse(services, *request, "handler change refused: " + rejection.description());
      return;
    }
    const auto location = services.workspace.applicationLocation(identifier);
    if (!location) {
      request->reply(
          {HelperReply::Status::refused, DisplayText::escaped("not an installed app: " + identifier)});
      return;
    }
    try {
      services.workspace.setDefaultApplication(*location, scheme);
    } catch (const std::exception& error) {
      const std::string message = DisplayText::escaped(error.what());
      request->reply({HelperReply::Status::failed, message});
      services.scheduler.onMain(
          [&services, message] { services.alerts.alert(tr(kHandlerFailedTitle), message); });
      return;
    }
    request->reply({HelperReply::Status::done, {}});
  });
}

}  // namespace linkferry
