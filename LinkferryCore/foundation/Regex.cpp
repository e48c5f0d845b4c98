#include "foundation/Regex.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>
#include <unicode/utypes.h>

namespace linkferry {

namespace {

// A search that runs longer than this many of ICU's time units (roughly milliseconds) fails as
// "no match". User patterns such as "(a+)+$" backtrack exponentially; without a bound one of them
// would hang routing for good. Real link patterns finish in microseconds.
constexpr int32_t kSearchTimeLimit = 250;

// The cache keeps this many of the most recently compiled patterns alive, dropping the oldest one
// at a time; beyond those it finds every pattern that a holder (a loaded rule set) keeps alive.
constexpr std::size_t kRecentCapacity = 1024;

icu::UnicodeString unicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string utf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

uint32_t flags(Regex::Options options) {
  switch (options) {
    case Regex::Options::none:
      return 0;
    case Regex::Options::caseInsensitive:
      return UREGEX_CASE_INSENSITIVE;
  }
  return 0;
}

// Checks a replacement template the way ICU reads it, so that a malformed template is refused
// even when the text has no match (ICU itself notices only while substituting): "$" must be
// followed by the number of an existing group or "{name}" of a named one; "\" escapes the next
// character.
bool isValidTemplate(const icu::RegexPattern& pattern, const icu::UnicodeString& replacement) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> probe(pattern.matcher(status));
  if (U_FAILURE(status)) return false;
  const int32_t groups = probe->groupCount();
  const int32_t length = replacement.length();
  for (int32_t i = 0; i < length;) {
    const UChar32 c = replacement.char32At(i);
    i += U16_LENGTH(c);
    if (c == '\\') {
      if (i < length) i += U16_LENGTH(replacement.char32At(i));
      continue;
    }
    if (c != '$') continue;
    if (i >= length) return false;
    const UChar32 next = replacement.char32At(i);
    if (next == '{') {
      const int32_t close = replacement.indexOf(u'}', i);
      if (close < 0) return false;
      icu::UnicodeString name = replacement.tempSubStringBetween(i + 1, close);
      status = U_ZERO_ERROR;
      pattern.groupNumberFromName(name, status);
      if (U_FAILURE(status)) return false;
      i = close + 1;
      continue;
    }
    if (!u_isdigit(next) || u_charDigitValue(next) > groups) return false;
    i += U16_LENGTH(next);
  }
  return true;
}

// Looked up by string_view, so a hit costs no allocation.
struct PatternHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view pattern) const noexcept {
    return std::hash<std::string_view>()(pattern);
  }
};

// A pattern's entry: the compiled pattern as long as anyone holds it, or the mark of a pattern
// that does not compile.
struct CacheEntry {
  std::weak_ptr<const Regex> regex;
  bool invalid = false;
};

using PatternTable = std::unordered_map<std::string, CacheEntry, PatternHash, std::equal_to<>>;

struct Cache {
  std::mutex mutex;
  PatternTable entries[2];  // one table per Options value
  // The most recently compiled patterns, held so that callers that keep nothing still hit; a ring
  // whose oldest entry is replaced.
  std::vector<std::shared_ptr<const Regex>> recent =
      std::vector<std::shared_ptr<const Regex>>(kRecentCapacity);
  std::size_t nextRecent = 0;
  // Entries whose pattern nobody holds any more are dropped once a table has doubled since the
  // last sweep, so the tables stay within twice the patterns alive (amortised constant time).
  std::size_t sweepAt[2] = {2 * kRecentCapacity, 2 * kRecentCapacity};

  void keep(std::shared_ptr<const Regex> regex) {
    recent[nextRecent] = std::move(regex);
    nextRecent = (nextRecent + 1) % recent.size();
  }

  void sweepIfGrown(int table) {
    PatternTable& entries = this->entries[table];
    if (entries.size() < sweepAt[table]) return;
    std::erase_if(entries, [](const auto& entry) {
      return entry.second.invalid || entry.second.regex.expired();
    });
    sweepAt[table] = std::max(2 * entries.size(), 2 * kRecentCapacity);
  }
};

}  // namespace

// A UTF-8 text as UTF-16 for ICU, with the byte offset of every UTF-16 index so that results
// come back as offsets into the caller's string. Ill-formed UTF-8 becomes U+FFFD, which still
// maps onto the bytes it replaced.
struct Regex::Subject::Prepared {
  icu::UnicodeString text;
  std::vector<std::size_t> offsets;  // empty when the text is ASCII: index == offset
  std::size_t size = 0;

  explicit Prepared(std::string_view utf8) : size(utf8.size()) {
    const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
      text = unicode(utf8);
      return;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    offsets.reserve(utf8.size() + 1);
    for (int32_t index = 0; index < length;) {
      const int32_t start = index;
      UChar32 c;
      U8_NEXT(bytes, index, length, c);
      if (c < 0) c = 0xFFFD;
      text.append(c);
      offsets.push_back(static_cast<std::size_t>(start));
      if (U16_LENGTH(c) == 2) offsets.push_back(static_cast<std::size_t>(start));
    }
    offsets.push_back(utf8.size());
  }

  std::size_t byteOffset(int32_t index) const {
    if (index < 0) return 0;
    if (offsets.empty()) return std::min(static_cast<std::size_t>(index), size);
    return offsets[std::min(static_cast<std::size_t>(index), offsets.size() - 1)];
  }
};

Regex::Subject::Subject(std::string_view utf8) : m_prepared(std::make_unique<Prepared>(utf8)) {}
Regex::Subject::~Subject() = default;
Regex::Subject::Subject(Subject&&) noexcept = default;
Regex::Subject& Regex::Subject::operator=(Subject&&) noexcept = default;

struct Regex::Compiled {
  std::unique_ptr<icu::RegexPattern> pattern;
  // One matcher kept between searches: creating one costs more than a typical link search.
  // Whoever finds the slot empty (a search running at the same time) makes a fresh one.
  mutable std::atomic<icu::RegexMatcher*> idle = nullptr;

  Compiled() = default;
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;
  ~Compiled() { delete idle.load(); }

  // A matcher lent for one search, given back when the lease ends; ICU patterns may be shared
  // between threads, matchers may not.
  class Lease {
   public:
    Lease(const Compiled& owner, std::unique_ptr<icu::RegexMatcher> matcher)
        : m_owner(owner), m_matcher(std::move(matcher)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
      if (m_matcher) m_owner.giveBack(std::move(m_matcher));
    }
    explicit operator bool() const { return m_matcher != nullptr; }
    icu::RegexMatcher* operator->() const { return m_matcher.get(); }

   private:
    const Compiled& m_owner;
    std::unique_ptr<icu::RegexMatcher> m_matcher;
  };

  // A matcher over `text`, which must outlive the lease.
  Lease matcher(const icu::UnicodeString& text) const {
    std::unique_ptr<icu::RegexMatcher> lent(idle.exchange(nullptr));
    if (lent) {
      lent->reset(text);
      return Lease(*this, std::move(lent));
    }
    UErrorCode status = U_ZERO_ERROR;
    lent.reset(pattern->matcher(text, status));
    if (U_FAILURE(status)) return Lease(*this, nullptr);
    lent->setTimeLimit(kSearchTimeLimit, status);
    return Lease(*this, std::move(lent));
  }

 private:
  void giveBack(std::unique_ptr<icu::RegexMatcher> matcher) const {
    // Let go of the searched text, which is about to end.
    static const auto& nothing = *new icu::UnicodeString;
    matcher->reset(nothing);
    icu::RegexMatcher* expected = nullptr;
    if (idle.compare_exchange_strong(expected, matcher.get())) matcher.release();
  }
};

Regex::Regex(std::string pattern, std::shared_ptr<const Compiled> compiled)
    : m_pattern(std::move(pattern)), m_compiled(std::move(compiled)) {}

std::optional<Regex> Regex::compile(std::string_view pattern, Options options) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError where{};
  std::unique_ptr<icu::RegexPattern> compiled(
      icu::RegexPattern::compile(unicode(pattern), flags(options), where, status));
  if (U_FAILURE(status) || !compiled) return std::nullopt;
  auto holder = std::make_shared<Compiled>();
  holder->pattern = std::move(compiled);
  return Regex(std::string(pattern), std::move(holder));
}

std::optional<std::string> Regex::compileError(std::string_view pattern, Options options) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError where{};
  std::unique_ptr<icu::RegexPattern> compiled(
      icu::RegexPattern::compile(unicode(pattern), flags(options), where, status));
  if (U_SUCCESS(status) && compiled) return std::nullopt;
  return std::string(u_errorName(status));
}

std::shared_ptr<const Regex> Regex::cached(std::string_view pattern, Options options) {
  // Never destroyed: threads left running at exit (timed-out stages) may still search.
  static Cache& cache = *new Cache;
  const int table = options == Options::none ? 0 : 1;
  auto& entries = cache.entries[table];
  {
    std::lock_guard lock(cache.mutex);
    if (const auto found = entries.find(pattern); found != entries.end()) {
      if (found->second.invalid) return nullptr;
      if (auto alive = found->second.regex.lock()) return alive;
    }
  }
  // Compiled outside the lock; two threads racing on a new pattern both compile, one wins.
  std::shared_ptr<const Regex> made;
  if (auto compiled = compile(pattern, options)) made = std::make_shared<const Regex>(*compiled);
  std::lock_guard lock(cache.mutex);
  auto [entry, added] = entries.try_emplace(std::string(pattern));
  if (!added) {
    if (entry->second.invalid) return nullptr;
    if (auto alive = entry->second.regex.lock()) return alive;  // the racing thread won
  }
  entry->second = CacheEntry{made, made == nullptr};
  if (made) cache.keep(made);
  cache.sweepIfGrown(table);
  return made;
}

bool Regex::matches(std::string_view text) const {
  return matches(Subject(text));
}

bool Regex::matches(const Subject& subject) const {
  auto matcher = m_compiled->matcher(subject.m_prepared->text);
  if (!matcher) return false;
  UErrorCode status = U_ZERO_ERROR;
  const bool found = matcher->find(0, status);
  return found && U_SUCCESS(status);
}

std::optional<Regex::Match> Regex::firstMatch(std::string_view text) const {
  return firstMatch(Subject(text));
}

std::optional<Regex::Match> Regex::firstMatch(const Subject& subject) const {
  const Subject::Prepared& prepared = *subject.m_prepared;
  auto matcher = m_compiled->matcher(prepared.text);
  if (!matcher) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  if (!matcher->find(0, status) || U_FAILURE(status)) return std::nullopt;
  Match match;
  match.range = {prepared.byteOffset(matcher->start(status)),
                 prepared.byteOffset(matcher->end(status))};
  const int32_t groups = matcher->groupCount();
  match.groups.reserve(static_cast<std::size_t>(groups));
  for (int32_t group = 1; group <= groups; ++group) {
    const int32_t begin = matcher->start(group, status);
    const int32_t end = matcher->end(group, status);
    if (U_FAILURE(status) || begin < 0) {
      match.groups.emplace_back(std::nullopt);
      status = U_ZERO_ERROR;
      continue;
    }
    match.groups.emplace_back(Range{prepared.byteOffset(begin), prepared.byteOffset(end)});
  }
  if (U_FAILURE(status)) return std::nullopt;
  return match;
}

std::optional<std::string> Regex::replacingAll(std::string_view text,
                                               std::string_view replacement) const {
  const icu::UnicodeString pattern = unicode(replacement);
  if (!isValidTemplate(*m_compiled->pattern, pattern)) return std::nullopt;
  const icu::UnicodeString subject = unicode(text);
  auto matcher = m_compiled->matcher(subject);
  if (!matcher) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString result = matcher->replaceAll(pattern, status);
  if (U_FAILURE(status)) return std::nullopt;
  return utf8(result);
}

std::string Regex::escaped(std::string_view text) {
  // Inside \Q...\E everything is literal except the sequence "\E" itself, which is closed,
  // written escaped, and reopened.
  std::string out = "\\Q";
  std::size_t start = 0;
  for (std::size_t found = text.find("\\E"); found != std::string_view::npos;
       found = text.find("\\E", start)) {
    out.append(text.substr(start, found - start));
    out.append("\\E\\\\E\\Q");
    start = found + 2;
  }
  out.append(text.substr(start));
  out.append("\\E");
  return out;
}

}  // namespace linkferry
