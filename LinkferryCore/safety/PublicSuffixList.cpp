#include "safety/PublicSuffixList.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "foundation/Resources.h"
#include "foundation/Text.h"
#include "safety/PublicSuffixTable.h"
#include "safety/Punycode.h"

namespace linkferry {
namespace {

using PublicSuffixTable::kException;
using PublicSuffixTable::kRule;
using PublicSuffixTable::kWildcard;

bool isASCII(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool isDecimalOctet(std::string_view part) {
  if (part.empty()) return false;
  unsigned value = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 255) return false;
  }
  return true;
}

std::vector<std::string> texts(const PublicSuffixTable::View& view,
                               std::span<const PublicSuffixTable::Piece> pieces) {
  std::vector<std::string> result;
  result.reserve(pieces.size());
  for (PublicSuffixTable::Piece piece : pieces) {
    result.emplace_back(PublicSuffixTable::text(view, piece));
  }
  return result;
}

bool sameTexts(const PublicSuffixTable::View& a, std::span<const PublicSuffixTable::Piece> first,
               const PublicSuffixTable::View& b, std::span<const PublicSuffixTable::Piece> second) {
  return std::ranges::equal(
      first, second, {},
      [&](PublicSuffixTable::Piece piece) { return PublicSuffixTable::text(a, piece); },
      [&](PublicSuffixTable::Piece piece) { return PublicSuffixTable::text(b, piece); });
}

}  // namespace

// A table that owns its storage, or none for the compiled-in one. The rules as strings are made
// only when asked for: lookups never need them.
struct PublicSuffixList::Table {
  PublicSuffixTable::Storage storage;
  PublicSuffixTable::View view;

  explicit Table(PublicSuffixTable::Storage parsed)
      : storage(std::move(parsed)), view(storage.view()) {}
  explicit Table(const PublicSuffixTable::View& compiled) : view(compiled) {}

  struct Strings {
    std::vector<std::string> rules, wildcards, exceptions;
  };
  const Strings& strings() const {
    std::call_once(m_once, [this] {
      m_strings = Strings{texts(view, view.rules), texts(view, view.wildcards),
                          texts(view, view.exceptions)};
    });
    return m_strings;
  }

 private:
  mutable std::once_flag m_once;
  mutable Strings m_strings;
};

PublicSuffixList::PublicSuffixList()
    : m_table(std::make_shared<const Table>(PublicSuffixTable::parse(""))) {}

PublicSuffixList::PublicSuffixList(std::string_view contents)
    : m_table(std::make_shared<const Table>(PublicSuffixTable::parse(contents))) {}

const PublicSuffixList& PublicSuffixList::shared() {
  // Never destroyed: a lookup may still run on a detached thread while the program exits. The
  // table was built from resources/public_suffix_list.dat when the program was built.
  static const PublicSuffixList& list = *[] {
    auto* compiled = new PublicSuffixList();
    compiled->m_table = std::make_shared<const Table>(PublicSuffixTable::compiled);
    return compiled;
  }();
  return list;
}

const PublicSuffixList& PublicSuffixList::icannShared() {
  // Never destroyed, like `shared()`.
  static const PublicSuffixList& list = *[] {
    std::string_view contents = Resources::find("public_suffix_list.dat").value_or("");
    return new PublicSuffixList(icannSection(contents));
  }();
  return list;
}

std::string_view PublicSuffixList::icannSection(std::string_view contents) {
  std::size_t end = contents.find("===END ICANN DOMAINS===");
  return end == std::string_view::npos ? contents : contents.substr(0, end);
}

std::optional<std::string> PublicSuffixList::registrableDomain(std::string_view host) const {
  // Lower-case once, on the stack for hosts of ordinary length; ICU only for non-ASCII text.
  char buffer[256];
  std::string heap;
  std::string_view name;
  if (!isASCII(host)) {
    heap = Text::lowercased(host);
    name = heap;
  } else {
    char* out = buffer;
    if (host.size() > sizeof buffer) {
      heap.resize(host.size());
      out = heap.data();
    }
    for (std::size_t i = 0; i < host.size(); ++i) {
      char c = host[i];
      out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    name = std::string_view(out, host.size());
  }

  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.empty()) return std::nullopt;
  if (isIPAddress(name)) return std::string(name);
  if (name.front() == '.' || name.back() == '.' || name.find("..") != std::string_view::npos) {
    return std::nullopt;
  }

  // Walk the suffixes from the shortest to the longest; the longest match wins. The position of
  // the best match is where its candidate (the labels from there to the end) begins.
  const PublicSuffixTable::View& table = m_table->view;
  std::size_t matchStart = std::string_view::npos;
  bool matchIsException = false;
  bool previousIsWildcard = false;  // the suffix one label shorter is a wildcard rule
  std::uint64_t hash = PublicSuffixTable::kHashSeed;
  std::size_t end = name.size();  // the end of the label being added
  while (true) {
    std::size_t dot = name.rfind('.', end - 1);
    std::size_t labelStart = dot == std::string_view::npos ? 0 : dot + 1;
    hash = PublicSuffixTable::hashBackward(hash, name.data() + labelStart, name.data() + end);
    const PublicSuffixTable::Slot* node =
        PublicSuffixTable::find(table, hash, name.substr(labelStart));
    std::uint8_t flags = node ? node->flags : 0;
    if (flags & kException) {
      matchStart = labelStart, matchIsException = true;
    } else if ((flags & kRule) || previousIsWildcard) {
      matchStart = labelStart, matchIsException = false;
    }
    if (!node || labelStart == 0) break;
    previousIsWildcard = flags & kWildcard;
    hash = (hash ^ static_cast<unsigned char>('.')) * PublicSuffixTable::kHashPrime;
    end = labelStart - 1;
  }

  if (matchStart == std::string_view::npos) {
    // The default rule: the last label is the public suffix.
    std::size_t lastDot = name.rfind('.');
    if (lastDot == std::string_view::npos) return std::nullopt;
    std::size_t dot = name.rfind('.', lastDot - 1);
    return std::string(name.substr(dot == std::string_view::npos ? 0 : dot + 1));
  }
  if (matchIsException) return std::string(name.substr(matchStart));
  if (matchStart == 0) return std::nullopt;
  std::size_t dot = name.rfind('.', matchStart - 2);
  return std::string(name.substr(dot == std::string_view::npos ? 0 : dot + 1));
}

std::optional<std::string> PublicSuffixList::siteKey(std::string_view host) const {
  if (isASCII(host)) return registrableDomain(host);  // lower-cased there
  // An ASCII form holds at least one byte per code point, and a DNS name at most 253 bytes: a
  // longer text has no ASCII form, and encoding it would only cost time.
  constexpr std::size_t kMaxUnicodeHost = 253 * 4;
  if (host.size() > kMaxUnicodeHost) return std::nullopt;
  std::optional<std::string> ascii = Punycode::toASCIIHost(host);
  if (!ascii) return std::nullopt;
  return registrableDomain(*ascii);
}

bool PublicSuffixList::isIPAddress(std::string_view text) {
  if (text.find(':') != std::string_view::npos) return true;
  int parts = 0;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = text.find('.', start);
    std::string_view part =
        text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (++parts > 4 || !isDecimalOctet(part)) return false;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

bool PublicSuffixList::isRule(std::string_view suffix) const {
  const PublicSuffixTable::View& view = m_table->view;
  auto found = std::ranges::lower_bound(
      view.rules, suffix, {},
      [&](PublicSuffixTable::Piece piece) { return PublicSuffixTable::text(view, piece); });
  return found != view.rules.end() && PublicSuffixTable::text(view, *found) == suffix;
}

const std::vector<std::string>& PublicSuffixList::rules() const {
  return m_table->strings().rules;
}
const std::vector<std::string>& PublicSuffixList::wildcards() const {
  return m_table->strings().wildcards;
}
const std::vector<std::string>& PublicSuffixList::exceptions() const {
  return m_table->strings().exceptions;
}

bool PublicSuffixList::operator==(const PublicSuffixList& other) const {
  const PublicSuffixTable::View& a = m_table->view;
  const PublicSuffixTable::View& b = other.m_table->view;
  return sameTexts(a, a.rules, b, b.rules) && sameTexts(a, a.wildcards, b, b.wildcards) &&
         sameTexts(a, a.exceptions, b, b.exceptions);
}

}  // namespace linkferry
