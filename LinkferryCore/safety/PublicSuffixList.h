#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linkferry {

// The Public Suffix List (the published format: one rule per line, "//" comments, "*." wildcard
// rules, "!" exception rules) and the registrable domain of a host. This is the one place that
// decides what "the same site" means: rules, the signal index and site information all ask it.
//
// A list is an immutable value; copies share their tables. Lookups are safe from any thread.
class PublicSuffixList {
 public:
  // The empty list: every host falls back to the default rule (the last label is the suffix).
  PublicSuffixList();
  // Parses the text of a list. Never fails: lines that are no rule are skipped.
  explicit PublicSuffixList(std::string_view contents);

  // The list compiled into the program (resources/public_suffix_list.dat), its table built when
  // the program was built: the first lookup costs no more than any other.
  static const PublicSuffixList& shared();

  // The compiled-in list without its private section: only the suffixes the registries delegate,
  // so "example.github.io" reduces to "github.io", the name the registry actually knows. Parsed
  // on the first call.
  static const PublicSuffixList& icannShared();

  // The text of a list up to its "===END ICANN DOMAINS===" line (the whole text without one).
  static std::string_view icannSection(std::string_view contents);

  // The registrable domain of a host, the public suffix plus one label: "example.co.uk" for
  // "a.b.example.co.uk". The host is lower-cased and one trailing "." dropped. An IP address is
  // returned as it is; a single label that is no rule, a host that is itself a public suffix, an
  // empty host and a host with an empty label have none. Labels are compared as given, in the
  // form the host arrived in: an international rule matches in its Unicode form ("trøna.no") and
  // in its ASCII form ("xn--trna-woa.no"), and the answer keeps the host's form.
  std::optional<std::string> registrableDomain(std::string_view host) const;

  // The key sites are compared by: the registrable domain of the host's ASCII form, lower-cased
  // ("xn--bcher-kva.de" for "www.Bücher.de" and for "www.xn--bcher-kva.de"). Everything that
  // decides whether two hosts are the same site (the signal index, the decision stages, rule
  // authoring) uses this rather than `registrableDomain`. Nothing where `registrableDomain` gives
  // nothing or the host has no ASCII form.
  std::optional<std::string> siteKey(std::string_view host) const;

  // True for any text holding ":" (every IPv6 form) and for four "."-separated decimal numbers
  // from 0 to 255 ("192.168.0.1").
  static bool isIPAddress(std::string_view text);

  // Whether `suffix` is a plain rule as the list writes it (lower-cased; the ASCII form of an
  // international rule is not one).
  bool isRule(std::string_view suffix) const;

  // The rules as parsed, lower-cased and sorted: plain rules, wildcard rules without their "*.",
  // exception rules without their "!". Made on the first call; lookups never need them.
  const std::vector<std::string>& rules() const;
  const std::vector<std::string>& wildcards() const;
  const std::vector<std::string>& exceptions() const;

  bool operator==(const PublicSuffixList& other) const;

 private:
  struct Table;
  std::shared_ptr<const Table> m_table;
};

}  // namespace linkferry
