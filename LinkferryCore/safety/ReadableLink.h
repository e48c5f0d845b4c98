#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/URL.h"

// A link written for a person to read, in a window, a terminal or a log line: an international
// host in its Unicode form ("bücher.de", not "xn--bcher-kva.de" or "b%C3%BCcher.de") unless that
// form deceives, and the escapes of characters beyond ASCII in the rest written as those
// characters. What it returns is for reading only: it is never parsed or opened again, and it
// still carries controls as they are (show it through DisplayText::escaped).
namespace linkferry::ReadableLink {

// A host as it is shown.
struct Host {
  // The Unicode form of an international name whose findings (DomainSafety::inspectHost) are all
  // notices; otherwise the ASCII form of an international name, never its Unicode form alone;
  // the host as written when it is no international name (its letter case kept) or has no
  // forms (an IP literal, a malformed "xn--" label).
  std::string shown;
  // The ASCII form when `shown` is the Unicode one: where it matters, it stands beside it.
  std::optional<std::string> ascii;
  // The Unicode form when it deceives (a look-alike, mixed alphabets, symbols or invisible
  // characters): `shown` is the ASCII form then, and this may stand beside it, marked as such.
  std::optional<std::string> deceptiveUnicode;

  bool isInternational() const { return ascii.has_value() || deceptiveUnicode.has_value(); }
  bool operator==(const Host&) const = default;
};

// `host` may be percent-encoded, as a link writes it. An empty host comes back empty.
Host host(std::string_view host);

// A link in three pieces, as it reads from left to right.
struct Pieces {
  std::string lead;  // "https://" and any user information with its "@"; empty without a host
  std::string host;  // Host::shown; empty for a link without a host
  std::string rest;  // ":port", path, query and fragment; the whole link when it has no host
};

// The pieces of `url`: its absolute string with the host replaced by the shown one and the
// escapes of the rest and of the user information made readable
// (DisplayText::readablePercentEncoding).
Pieces pieces(const URL& url);

// The pieces joined: "https://bücher.de/straße?q=ü" for
// "https://xn--bcher-kva.de/stra%C3%9Fe?q=%C3%BC".
std::string text(const URL& url);

}  // namespace linkferry::ReadableLink
