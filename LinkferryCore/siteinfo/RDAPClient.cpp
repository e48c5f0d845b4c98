#include "siteinfo/RDAPClient.h"

#include <sys/stat.h>

#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Text.h"
#include "foundation/URL.h"
#include "safety/DomainSafety.h"
#include "safety/PublicSuffixList.h"
#include "siteinfo/SiteInfoError.h"

namespace linkferry {
namespace {

constexpr const char* kAccept = "Accept: application/rdap+json, application/json";
// Far above IANA's file (~40 KB); a larger cache file is no bootstrap file.
constexpr std::uint64_t kCacheReadLimit = 4 * 1024 * 1024;

std::optional<Date> modificationDate(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return Date{static_cast<double>(info.st_mtim.tv_sec) +
              static_cast<double>(info.st_mtim.tv_nsec) / 1e9};
}

std::string withoutTrailingSlash(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

}  // namespace

RDAPBootstrap RDAPBootstrap::parse(std::string_view body) {
  std::optional<JsonValue> parsed = Json::tryParse(body);
  if (!parsed || !parsed->is_object()) throw SiteInfoError::invalidResponse();
  RDAPBootstrap result;
  auto services = parsed->find("services");
  if (services != parsed->end() && services->is_array()) {
    for (const JsonValue& entry : *services) {
      if (!entry.is_array() || entry.size() < 2) continue;
      if (!entry[0].is_array() || !entry[1].is_array()) continue;
      std::vector<std::string> urls;
      for (const JsonValue& url : entry[1]) {
        if (url.is_string() && URL::parse(url.get_ref<const std::string&>())) {
          urls.push_back(url.get<std::string>());
        }
      }
      for (const JsonValue& suffix : entry[0]) {
        if (!suffix.is_string()) continue;
        auto& list = result.servers[Text::asciiLowercased(suffix.get_ref<const std::string&>())];
        list.insert(list.end(), urls.begin(), urls.end());
      }
    }
  }
  if (result.servers.empty()) throw SiteInfoError::invalidResponse();
  return result;
}

std::optional<std::string> RDAPBootstrap::baseURL(std::string_view domain) const {
  std::string lower = Text::asciiLowercased(domain);
  std::vector<std::string> labels;
  for (std::string_view label : Text::split(lower, '.')) {
    if (!label.empty()) labels.emplace_back(label);
  }
  for (std::size_t start = 0; start < labels.size(); ++start) {
    std::string candidate;
    for (std::size_t i = start; i < labels.size(); ++i) {
      if (!candidate.empty()) candidate += '.';
      candidate += labels[i];
    }
    auto found = servers.find(candidate);
    if (found == servers.end() || found->second.empty()) continue;
    for (const std::string& url : found->second) {
      auto parsed = URL::parse(url);
      if (parsed && parsed->scheme() && Text::asciiLowercased(*parsed->scheme()) == "https") {
        return url;
      }
    }
    return found->second.front();
  }
  return std::nullopt;
}

RDAPClient::RDAPClient(std::filesystem::path cacheFile, const PublicSuffixList& psl, Fetch fetch)
    : m_cacheFile(std::move(cacheFile)), m_psl(&psl), m_fetch(std::move(fetch)) {}

std::string RDAPClient::registrableDomain(std::string_view host) const {
  std::optional<DomainSafety::HostForms> forms = DomainSafety::forms(host);
  if (!forms || forms->ascii.empty()) throw SiteInfoError::noHost();
  if (PublicSuffixList::isIPAddress(forms->ascii)) throw SiteInfoError::ipAddress(forms->ascii);
  std::optional<std::string> domain = m_psl->registrableDomain(forms->ascii);
  if (!domain) throw SiteInfoError::noRegistrableDomain(forms->unicode);
  return *domain;
}

Http::Response RDAPClient::get(const std::string& url) const {
  Http::Request request;
  request.url = url;
  request.timeout = kRequestTimeout;
  request.headers = {kAccept};
  return m_fetch(request);
}

RDAPBootstrap RDAPClient::bootstrap(Date now) const {
  std::optional<RDAPBootstrap> cached;
  if (!m_cacheFile.empty()) {
    try {
      if (auto text = Files::readIfExists(m_cacheFile, kCacheReadLimit)) {
        cached = RDAPBootstrap::parse(*text);
        std::optional<Date> modified = modificationDate(m_cacheFile);
        if (modified && now.secondsSince(*modified) < kCacheLifetime) return *cached;
      }
    } catch (...) {
      // An unreadable or broken cache is as good as none.
    }
  }
  try {
    Http::Response response = get(std::string(RDAPBootstrap::source));
    if (response.status != 200) throw SiteInfoError::http(response.status);
    RDAPBootstrap fresh = RDAPBootstrap::parse(response.body);
    if (!m_cacheFile.empty()) {
      try {
        std::filesystem::create_directories(m_cacheFile.parent_path());
        Files::writeAtomically(m_cacheFile, response.body);
      } catch (...) {
        // The next lookup downloads the file again.
      }
    }
    return fresh;
  } catch (...) {
    if (cached) return *cached;
    throw;
  }
}

DomainRegistration RDAPClient::lookup(std::string_view host) const {
  std::string domain = registrableDomain(host);
  RDAPBootstrap servers = bootstrap(Date::now());
  std::optional<std::string> base = servers.baseURL(domain);
  if (!base) {
    std::size_t dot = domain.rfind('.');
    throw SiteInfoError::noRDAP(dot == std::string::npos ? domain : domain.substr(dot + 1));
  }
  Http::Response response = get(withoutTrailingSlash(*base) + "/domain/" + domain);
  if (response.status == 404) throw SiteInfoError::notFound(domain);
  if (response.status != 200) throw SiteInfoError::http(response.status);
  DomainRegistration result = DomainRegistration::parse(response.body);
  if (result.domain.empty()) result.domain = domain;

  if (!result.registrantOrganization && result.registrarRecord) {
    try {
      Http::Response registrar = get(*result.registrarRecord);
      if (registrar.status == 200) result.merge(DomainRegistration::parse(registrar.body));
    } catch (...) {
      // The registry's answer stands on its own.
    }
  }
  return result;
}

}  // namespace linkferry
