#include "safety/ReadableLink.h"

#include <algorithm>

#include "foundation/DisplayText.h"
#include "safety/DomainSafety.h"

namespace linkferry::ReadableLink {

Host host(std::string_view host) {
  Host result{std::string(host), std::nullopt, std::nullopt};
  const std::optional<DomainSafety::HostForms> forms = DomainSafety::forms(host);
  if (!forms || !forms->isInternational()) {
    // Escapes of a host that is no international name stay: they are what the link says.
    return result;
  }
  const std::vector<LinkSafety::Finding> findings = DomainSafety::inspectHost(host);
  if (LinkSafety::worst(findings) == LinkSafety::Finding::Severity::danger) {
    result.shown = forms->ascii;
    result.deceptiveUnicode = forms->unicode;
  } else {
    result.shown = forms->unicode;
    result.ascii = forms->ascii;
  }
  return result;
}

Pieces pieces(const URL& url) {
  const std::string text = url.absoluteString();
  Pieces result;
  const std::size_t authority = text.find("://");
  if (authority == std::string::npos || !url.host()) {
    result.rest = DisplayText::readablePercentEncoding(text);
    return result;
  }
  const std::size_t hostStart = authority + 3;
  const std::size_t authorityEnd = std::min(text.find_first_of("/?#", hostStart), text.size());
  const std::string_view authorityText(text.data() + hostStart, authorityEnd - hostStart);
  // The user information ends at the last "@" of the authority; a port follows the last ":"
  // outside brackets.
  const std::size_t at = authorityText.rfind('@');
  const std::size_t hostBegin = at == std::string_view::npos ? 0 : at + 1;
  std::size_t hostEnd = authorityText.size();
  const std::size_t colon = authorityText.rfind(':');
  const std::size_t bracket = authorityText.rfind(']');
  if (colon != std::string_view::npos && colon >= hostBegin &&
      (bracket == std::string_view::npos || colon > bracket)) {
    hostEnd = colon;
  }
  result.lead = DisplayText::readablePercentEncoding(
      std::string_view(text).substr(0, hostStart + hostBegin));
  result.host = host(authorityText.substr(hostBegin, hostEnd - hostBegin)).shown;
  result.rest = DisplayText::readablePercentEncoding(std::string_view(text).substr(hostStart + hostEnd));
  return result;
}

std::string text(const URL& url) {
  Pieces parts = pieces(url);
  return parts.lead + parts.host + parts.rest;
}

}  // namespace linkferry::ReadableLink
