#include "HelperDelegate.h"

#include <exception>

#include "foundation/L10n.h"
#include "launching/HelperPolicy.h"
#include "launching/HelperProtocol.h"

namespace linkferry {

namespace {

constexpr std::string_view kLogPrefix = "LinkFerry Helper: ";

std::string tr(const std::string& key) {
  return L10n::tr(key);
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
  m_services.alerts.alert(tr(kInstalledTitle), tr(kInstalledMessage));
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
    const std::string line = std::string(kLogPrefix) + "request refused, not sent by LinkFerry";
    m_services.log(line);
    request->reply({HelperReply::Status::refused, line});
    return;
  }
  // The two decoders look at the host, so a "handler" URL is never a plan and a "run" URL never
  // a handler change.
  if (const auto change = HelperProtocol::handlerRequest(*url)) {
    setHandler(change->scheme, change->bundleID, request);
    return;
  }
  if (const auto plan = HelperProtocol::plan(*url)) {
    try {
      m_services.validatePlan(*plan);
    } catch (const HelperPolicy::Rejection& rejection) {
      const std::string line = std::string(kLogPrefix) + "plan refused: " + rejection.description();
      m_services.log(line);
      request->reply({HelperReply::Status::refused, line});
      return;
    }
    startPlan(*plan, std::move(request));
    return;
  }
  request->reply({HelperReply::Status::refused, "not a LinkFerry request"});
}

void HelperDelegate::startPlan(const LaunchPlan& plan, std::shared_ptr<HelperRequest> request) {
  LaunchRunner& runner = m_services.runner;
  HelperScheduler& scheduler = m_services.scheduler;
  HelperAlerts& alerts = m_services.alerts;
  scheduler.background([plan, request, &runner, &scheduler, &alerts] {
    std::string lastError;
    // Only the top-level fallbacks are walked; theirs are not.
    for (std::size_t attempt = 0; attempt <= plan.fallbacks.size(); ++attempt) {
      const LaunchPlan& current = attempt == 0 ? plan : plan.fallbacks[attempt - 1];
      try {
        runner.run(current);
        request->reply({HelperReply::Status::done, {}});
        return;
      } catch (const std::exception& error) {
        lastError = error.what();
      } catch (...) {
        lastError = "unknown error";
      }
    }
    request->reply({HelperReply::Status::failed, lastError});
    scheduler.onMain([&alerts, lastError] { alerts.alert(tr(kOpenFailedTitle), lastError); });
  });
}

void HelperDelegate::setHandler(const std::string& scheme, const std::string& identifier,
                                const std::shared_ptr<HelperRequest>& request) {
  std::vector<std::string> declaring;
  if (const auto probe = URL::parse(scheme + ":x")) {
    declaring = m_services.workspace.applicationsToOpen(*probe);
  }
  try {
    HelperPolicy::validateHandler(scheme, identifier, declaring, m_services.ownApplication);
  } catch (const HelperPolicy::Rejection& rejection) {
    const std::string line =
        std::string(kLogPrefix) + "handler change refused: " + rejection.description();
    m_services.log(line);
    request->reply({HelperReply::Status::refused, line});
    return;
  }
  const auto location = m_services.workspace.applicationLocation(identifier);
  if (!location) {
    request->reply({HelperReply::Status::refused, "not an installed app: " + identifier});
    return;
  }
  try {
    m_services.workspace.setDefaultApplication(*location, scheme);
  } catch (const std::exception& error) {
    request->reply({HelperReply::Status::failed, error.what()});
    m_services.alerts.alert(tr(kHandlerFailedTitle), error.what());
    return;
  }
  request->reply({HelperReply::Status::done, {}});
}

}  // namespace linkferry
