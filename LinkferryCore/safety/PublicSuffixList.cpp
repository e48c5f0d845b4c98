#include "safety/PublicSuffixList.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "foundation/Resources.h"
#include "foundation/Text.h"
#include "safety/Punycode.h"

namespace linkferry {
namespace {

enum Flag : std::uint8_t { kRule = 1, kWildcard = 2, kException = 4 };

// FNV-1a over the bytes of a text taken from its end towards its start, so that the hash of every
// suffix of a host falls out of one right-to-left pass, one label at a time.
constexpr std::uint64_t kHashSeed = 0xcbf29ce484222325ull;
constexpr std::uint64_t kHashPrime = 0x100000001b3ull;

inline std::uint64_t hashBackward(std::uint64_t hash, const char* begin, const char* end) {
  while (end != begin) {
    --end;
    hash = (hash ^ static_cast<unsigned char>(*end)) * kHashPrime;
  }
  return hash;
}

inline std::size_t slotIndex(std::uint64_t hash, std::size_t mask) {
  return static_cast<std::size_t>(hash ^ (hash >> 31)) & mask;
}

// The newline characters that end a line of the list: LF, VT, FF, CR, NEL, LS and PS.
std::size_t newlineLength(std::string_view text, std::size_t i) {
  switch (text[i]) {
    case '\n':
    case '\v':
    case '\f':
    case '\r':
      return 1;
    case '\xC2':
      return i + 1 < text.size() && text[i + 1] == '\x85' ? 2 : 0;
    case '\xE2':
      return i + 2 < text.size() && text[i + 1] == '\x80' &&
                     (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')
                 ? 3
                 : 0;
    default:
      return 0;
  }
}

void sortUnique(std::vector<std::string>& strings) {
  std::sort(strings.begin(), strings.end());
  strings.erase(std::unique(strings.begin(), strings.end()), strings.end());
}

bool isASCII(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The ASCII ("xn--") forms of the international rules of a set: the published list writes them in
// Unicode, while browsers and most links carry hosts in ASCII.
std::vector<std::string> asciiForms(const std::vector<std::string>& set) {
  std::vector<std::string> forms;
  for (const std::string& rule : set) {
    if (isASCII(rule)) continue;
    if (auto ascii = Punycode::toASCIIHost(rule); ascii && *ascii != rule) {
      forms.push_back(std::move(*ascii));
    }
  }
  return forms;
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

}  // namespace

// Every rule of the three sets, and every shorter suffix of one at a label boundary, is a node
// of one open-addressing table keyed by the text's backward hash. A node's flags say which sets
// hold it; a node without flags only records that some longer rule ends with it, so a
// right-to-left walk over a host can stop at the first suffix that is no node: no rule can
// match further left. An international rule is a node under its Unicode form and under its
// ASCII form, so a host matches in either form.
struct PublicSuffixList::Table {
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;  // 0 marks an empty slot: no node is empty
    std::uint8_t flags = 0;
  };

  std::vector<std::string> rules, wildcards, exceptions;
  std::string arena;  // the rules of the three sets, one after another; nodes point into it
  std::vector<Slot> slots;
  std::size_t mask = 0;

  Table(std::vector<std::string> ruleSet, std::vector<std::string> wildcardSet,
        std::vector<std::string> exceptionSet)
      : rules(std::move(ruleSet)),
        wildcards(std::move(wildcardSet)),
        exceptions(std::move(exceptionSet)) {
    sortUnique(rules);
    sortUnique(wildcards);
    sortUnique(exceptions);
    const std::vector<std::string> asciiRules = asciiForms(rules);
    const std::vector<std::string> asciiWildcards = asciiForms(wildcards);
    const std::vector<std::string> asciiExceptions = asciiForms(exceptions);

    std::size_t nodeBound = 0;
    std::size_t bytes = 0;
    const std::vector<std::string>* sets[] = {&rules,      &wildcards,      &exceptions,
                                              &asciiRules, &asciiWildcards, &asciiExceptions};
    for (const std::vector<std::string>* set : sets) {
      for (const std::string& rule : *set) {
        nodeBound += 1 + static_cast<std::size_t>(std::count(rule.begin(), rule.end(), '.'));
        bytes += rule.size();
      }
    }
    std::size_t capacity = 16;
    while (capacity < nodeBound * 2) capacity *= 2;
    slots.resize(capacity);
    mask = capacity - 1;
    arena.reserve(bytes);

    auto addAll = [this](const std::vector<std::string>& set, std::uint8_t flag) {
      for (const std::string& rule : set) {
        if (rule.empty()) continue;
        auto offset = static_cast<std::uint32_t>(arena.size());
        arena += rule;
        add(offset, static_cast<std::uint32_t>(rule.size()), flag);
        for (std::size_t dot = rule.find('.'); dot != std::string::npos;
             dot = rule.find('.', dot + 1)) {
          auto start = static_cast<std::uint32_t>(dot + 1);
          add(offset + start, static_cast<std::uint32_t>(rule.size()) - start, 0);
        }
      }
    };
    addAll(rules, kRule);
    addAll(wildcards, kWildcard);
    addAll(exceptions, kException);
    addAll(asciiRules, kRule);
    addAll(asciiWildcards, kWildcard);
    addAll(asciiExceptions, kException);
  }

  void add(std::uint32_t offset, std::uint32_t length, std::uint8_t flags) {
    if (length == 0) return;
    const char* text = arena.data() + offset;
    std::uint64_t hash = hashBackward(kHashSeed, text, text + length);
    for (std::size_t i = slotIndex(hash, mask);; i = (i + 1) & mask) {
      Slot& slot = slots[i];
      if (slot.length == 0) {
        slot = Slot{hash, offset, length, flags};
        return;
      }
      if (slot.hash == hash && slot.length == length &&
          std::memcmp(arena.data() + slot.offset, text, length) == 0) {
        slot.flags |= flags;
        return;
      }
    }
  }

  const Slot* find(std::uint64_t hash, std::string_view text) const {
    for (std::size_t i = slotIndex(hash, mask);; i = (i + 1) & mask) {
      const Slot& slot = slots[i];
      if (slot.length == 0) return nullptr;
      if (slot.hash == hash && slot.length == text.size() &&
          std::memcmp(arena.data() + slot.offset, text.data(), text.size()) == 0) {
        return &slot;
      }
    }
  }
};

PublicSuffixList::PublicSuffixList()
    : m_table(std::make_shared<const Table>(std::vector<std::string>{}, std::vector<std::string>{},
                                            std::vector<std::string>{})) {}

PublicSuffixList::PublicSuffixList(std::string_view contents) {
  std::vector<std::string> rules, wildcards, exceptions;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= contents.size();) {
    std::size_t newline = i < contents.size() ? newlineLength(contents, i) : 1;
    if (newline == 0) {
      ++i;
      continue;
    }
    std::string_view line = Text::trimmed(contents.substr(start, i - start));
    i += newline;
    start = i;
    if (line.empty() || Text::startsWith(line, "//")) continue;
    std::string token = Text::lowercased(line.substr(0, line.find_first_of(" \t")));
    if (Text::startsWith(token, "!")) {
      exceptions.push_back(token.substr(1));
    } else if (Text::startsWith(token, "*.")) {
      wildcards.push_back(token.substr(2));
    } else {
      rules.push_back(std::move(token));
    }
  }
  m_table =
      std::make_shared<const Table>(std::move(rules), std::move(wildcards), std::move(exceptions));
}

const PublicSuffixList& PublicSuffixList::shared() {
  // Never destroyed: a lookup may still run on a detached thread while the program exits.
  static const PublicSuffixList& list = *[] {
    std::optional<std::string_view> contents = Resources::find("public_suffix_list.dat");
    return contents ? new PublicSuffixList(*contents) : new PublicSuffixList();
  }();
  return list;
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
  const Table& table = *m_table;
  std::size_t matchStart = std::string_view::npos;
  bool matchIsException = false;
  bool previousIsWildcard = false;  // the suffix one label shorter is a wildcard rule
  std::uint64_t hash = kHashSeed;
  std::size_t end = name.size();  // the end of the label being added
  while (true) {
    std::size_t dot = name.rfind('.', end - 1);
    std::size_t labelStart = dot == std::string_view::npos ? 0 : dot + 1;
    hash = hashBackward(hash, name.data() + labelStart, name.data() + end);
    const Table::Slot* node = table.find(hash, name.substr(labelStart));
    std::uint8_t flags = node ? node->flags : 0;
    if (flags & kException) {
      matchStart = labelStart, matchIsException = true;
    } else if ((flags & kRule) || previousIsWildcard) {
      matchStart = labelStart, matchIsException = false;
    }
    if (!node || labelStart == 0) break;
    previousIsWildcard = flags & kWildcard;
    hash = (hash ^ static_cast<unsigned char>('.')) * kHashPrime;
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

const std::vector<std::string>& PublicSuffixList::rules() const {
  return m_table->rules;
}
const std::vector<std::string>& PublicSuffixList::wildcards() const {
  return m_table->wildcards;
}
const std::vector<std::string>& PublicSuffixList::exceptions() const {
  return m_table->exceptions;
}

bool PublicSuffixList::operator==(const PublicSuffixList& other) const {
  return rules() == other.rules() && wildcards() == other.wildcards() &&
         exceptions() == other.exceptions();
}

}  // namespace linkferry
