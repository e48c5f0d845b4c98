#include "safety/PublicSuffixTable.h"

#include <algorithm>
#include <cstring>

#include "foundation/Text.h"
#include "safety/Punycode.h"

namespace linkferry::PublicSuffixTable {
namespace {

inline std::size_t slotIndex(std::uint64_t hash, std::size_t mask) {
  return static_cast<std::size_t>(hash ^ (hash >> 31)) & mask;
}

inline std::uint32_t tagOf(std::uint64_t hash) {
  return static_cast<std::uint32_t>(hash >> 32);
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

class Builder {
 public:
  Builder(std::size_t nodeBound, std::size_t bytes) {
    std::size_t capacity = 16;
    while (capacity < nodeBound * 2) capacity *= 2;
    m_storage.slots.resize(capacity);
    m_storage.arena.reserve(bytes);
  }

  // Adds the rules of a set, each a node with `flag`, and their shorter suffixes; lists them in
  // `pieces` unless that is null.
  void addAll(const std::vector<std::string>& set, std::uint8_t flag,
              std::vector<Piece> Storage::*pieces) {
    for (const std::string& rule : set) {
      auto offset = static_cast<std::uint32_t>(m_storage.arena.size());
      auto length = static_cast<std::uint32_t>(rule.size());
      m_storage.arena += rule;
      if (pieces) (m_storage.*pieces).push_back(Piece{offset, length});
      if (rule.empty()) continue;
      add(offset, length, flag);
      for (std::size_t dot = rule.find('.'); dot != std::string::npos;
           dot = rule.find('.', dot + 1)) {
        auto start = static_cast<std::uint32_t>(dot + 1);
        add(offset + start, length - start, 0);
      }
    }
  }

  // The table in the fewest slots that keep it at most two thirds full: the bound it was built
  // with counts every suffix of every rule, most of which are shared.
  Storage finish() && {
    std::vector<Slot> nodes;
    for (const Slot& slot : m_storage.slots) {
      if (slot.length != 0) nodes.push_back(slot);
    }
    std::size_t capacity = 16;
    while (capacity * 2 < nodes.size() * 3) capacity *= 2;
    m_storage.slots.assign(capacity, Slot{});
    const std::size_t mask = capacity - 1;
    for (const Slot& node : nodes) {
      const char* text = m_storage.arena.data() + node.offset;
      const std::uint64_t hash = hashBackward(kHashSeed, text, text + node.length);
      std::size_t i = slotIndex(hash, mask);
      while (m_storage.slots[i].length != 0) i = (i + 1) & mask;
      m_storage.slots[i] = node;
    }
    return std::move(m_storage);
  }

 private:
  Storage m_storage;

  void add(std::uint32_t offset, std::uint32_t length, std::uint8_t flags) {
    std::vector<Slot>& slots = m_storage.slots;
    const std::size_t mask = slots.size() - 1;
    const char* text = m_storage.arena.data() + offset;
    const std::uint64_t hash = hashBackward(kHashSeed, text, text + length);
    for (std::size_t i = slotIndex(hash, mask);; i = (i + 1) & mask) {
      Slot& slot = slots[i];
      if (slot.length == 0) {
        slot = Slot{tagOf(hash), offset, length, flags};
        return;
      }
      if (slot.tag == tagOf(hash) && slot.length == length &&
          std::memcmp(m_storage.arena.data() + slot.offset, text, length) == 0) {
        slot.flags |= flags;
        return;
      }
    }
  }
};

}  // namespace

Storage parse(std::string_view contents) {
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
  Builder builder(nodeBound, bytes);
  builder.addAll(rules, kRule, &Storage::rules);
  builder.addAll(wildcards, kWildcard, &Storage::wildcards);
  builder.addAll(exceptions, kException, &Storage::exceptions);
  builder.addAll(asciiRules, kRule, nullptr);
  builder.addAll(asciiWildcards, kWildcard, nullptr);
  builder.addAll(asciiExceptions, kException, nullptr);
  return std::move(builder).finish();
}

const Slot* find(const View& table, std::uint64_t hash, std::string_view text) {
  const std::size_t mask = table.slots.size() - 1;
  for (std::size_t i = slotIndex(hash, mask);; i = (i + 1) & mask) {
    const Slot& slot = table.slots[i];
    if (slot.length == 0) return nullptr;
    if (slot.tag == tagOf(hash) && slot.length == text.size() &&
        std::memcmp(table.arena.data() + slot.offset, text.data(), text.size()) == 0) {
      return &slot;
    }
  }
}

}  // namespace linkferry::PublicSuffixTable
