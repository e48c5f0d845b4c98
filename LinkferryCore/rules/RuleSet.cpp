#include "rules/RuleSet.h"

#include <algorithm>

#include "foundation/Files.h"
#include "foundation/Regex.h"
#include "routing/LinkRequest.h"
#include "routing/RouteTarget.h"
#include "routing/RoutingContext.h"
#include "rules/RuleEvaluator.h"
#include "rules/RuleIndex.h"
#include "rules/RuleSetCheck.h"
#include "rules/RuleSetError.h"

namespace linkferry {
namespace {

// A rule file cut into its top level with an empty `rules` array, and the text of each element
// of that array.
struct Pieces {
  std::string skeleton;
  std::vector<std::string_view> rules;
  // Offsets of the array's "[" and "]" in the text.
  std::size_t open = 0;
  std::size_t close = 0;
};

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isAllBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), isBlank);
}

// Cuts the text of a rule file at the elements of its top-level "rules" array, following strings
// and nesting only (the pieces are parsed afterwards). Nothing when the text has a shape this
// cutting does not vouch for: no object at the top, a byte order mark, "rules" missing, written
// with escapes or given twice, a value that is no array, an empty element, very deep nesting.
std::optional<Pieces> cut(std::string_view text) {
  constexpr int kDeepest = 256;  // well within what the JSON reader accepts
  int depth = 0;
  bool inString = false, escaped = false;
  std::size_t stringStart = 0;
  bool keyNext = false;    // inside the top-level object, the next string is a key
  bool rulesNext = false;  // the value of "rules" comes next
  int rulesKeys = 0;
  std::optional<std::size_t> open, close;
  std::vector<std::size_t> commas;
  bool started = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        escaped = true;
        ++i;
      } else if (c == '"') {
        inString = false;
        if (depth == 1 && keyNext) {
          if (escaped) return std::nullopt;
          rulesNext = text.substr(stringStart + 1, i - stringStart - 1) == "rules";
          rulesKeys += rulesNext;
          keyNext = false;
        }
      }
      continue;
    }
    if (isBlank(c) || (c == ':' && depth == 1)) continue;
    if (!started) {
      if (c != '{') return std::nullopt;
      started = true;
    } else if (depth == 1 && rulesNext) {
      if (c != '[') return std::nullopt;
      open = i;
      rulesNext = false;
    }
    switch (c) {
      case '"':
        inString = true;
        escaped = false;
        stringStart = i;
        break;
      case '{':
      case '[':
        if (++depth > kDeepest) return std::nullopt;
        if (depth == 1) keyNext = true;
        break;
      case '}':
      case ']':
        if (depth == 2 && open && !close) close = i;
        if (--depth < 0) return std::nullopt;
        break;
      case ',':
        if (depth == 1) keyNext = true;
        if (depth == 2 && open && !close) commas.push_back(i);
        break;
      default:
        break;
    }
  }
  if (rulesKeys != 1 || !open || !close || text[*close] != ']') return std::nullopt;
  Pieces pieces;
  pieces.open = *open;
  pieces.close = *close;
  pieces.skeleton = std::string(text.substr(0, *open + 1)) + std::string(text.substr(*close));
  std::vector<std::size_t> bounds{*open};
  bounds.insert(bounds.end(), commas.begin(), commas.end());
  bounds.push_back(*close);
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    std::string_view piece = text.substr(bounds[k] + 1, bounds[k + 1] - bounds[k] - 1);
    if (bounds.size() == 2 && isAllBlank(piece)) break;  // "[ ]"
    // The reader would skip a byte order mark at the start of a piece, not inside the file.
    if (isAllBlank(piece) || piece.front() == '\xEF') return std::nullopt;
    pieces.rules.push_back(piece);
  }
  return pieces;
}

// Decodes a well-formed rule file one rule at a time, so that no document of the whole file is
// built: the work stays in step with the rule count however long the file. Nothing when the text
// is not cut cleanly or anything in it fails to decode; the whole-document decoding then reports
// the error exactly (which error comes first, at which line and key).
std::optional<RuleSet> decodeInPieces(std::string_view text, std::string_view fileName) {
  std::optional<Pieces> pieces = cut(text);
  if (!pieces) return std::nullopt;
  const std::string file(fileName);
  try {
    const JsonValue skeleton = Json::parse(pieces->skeleton, fileName);
    RuleSet set = RuleSet::fromJson(JsonReader(skeleton, file));
    if (!set.rules.empty()) return std::nullopt;
    set.rules.reserve(pieces->rules.size());
    for (std::size_t i = 0; i < pieces->rules.size(); ++i) {
      const JsonValue rule = Json::parse(pieces->rules[i], fileName);
      set.rules.push_back(
          Rule::fromJson(JsonReader(rule, file, "rules[" + std::to_string(i) + "]")));
    }
    set.compilePatterns();
    return set;
  } catch (const JsonError&) {
    return std::nullopt;
  } catch (const RuleSetError&) {
    return std::nullopt;
  }
}

std::string_view leadingBlanks(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size() && isBlank(text[end])) ++end;
  return text.substr(0, end);
}

std::string_view trailingBlanks(std::string_view text) {
  std::size_t begin = text.size();
  while (begin > 0 && isBlank(text[begin - 1])) --begin;
  return text.substr(begin);
}

// A new rule as the file writes its neighbours: pretty-printed and indented by what follows the
// last line break of `lead`, or on one line when `lead` holds no line break.
std::string ruleText(const Rule& rule, std::string_view lead) {
  const std::size_t lineBreak = lead.rfind('\n');
  if (lineBreak == std::string_view::npos) return Json::encodeCompact(rule.toJson());
  const std::string indent(lead.substr(lineBreak + 1));
  std::string pretty = Json::encodePretty(rule.toJson());
  while (!pretty.empty() && isBlank(pretty.back())) pretty.pop_back();
  std::string text;
  for (char c : pretty) {
    text += c;
    if (c == '\n') text += indent;
  }
  return text;
}

}  // namespace

std::string RuleSetWarning::text() const {
  return path.empty() ? message : path + ": " + message;
}

RuleSet RuleSet::load(const std::filesystem::path& file, LoadNotes* notes) {
  std::optional<std::string> text = Files::readIfExists(file);
  if (!text) return RuleSet{};
  return decode(*text, file.string(), notes);
}

RuleSet RuleSet::decode(std::string_view text, std::string_view fileName, LoadNotes* notes) {
  // Notes need the whole document.
  if (!notes) {
    if (std::optional<RuleSet> set = decodeInPieces(text, fileName)) return std::move(*set);
  }
  JsonValue document = Json::parse(text, fileName);
  RuleSet set = fromJson(JsonReader(document, std::string(fileName)));
  if (notes) {
    // Decoding succeeded, so the document has the shape the walk below relies on.
    notes->fileExists = true;
    notes->unreadKeys = RuleSetCheck::unreadKeys(document);
    notes->hasStoredId.clear();
    for (const JsonValue& rule : document["rules"]) {
      notes->hasStoredId.push_back(rule.contains("id") && !rule["id"].is_null());
    }
  }
  return set;
}

void RuleSet::save(const std::filesystem::path& file) const {
  Files::writeAtomically(file, encode());
}

std::string RuleSet::encode() const {
  return Json::encodePretty(toJson());
}

std::string RuleSet::encodeEditing(std::string_view text, const RuleSet& stored) const {
  std::optional<Pieces> pieces = cut(text);
  if (!pieces || pieces->rules.size() != stored.rules.size() || version != stored.version) {
    return encode();
  }
  // Which stored rule each of ours is, in the stored order; a rule found nowhere after the last
  // kept one is new.
  std::vector<std::optional<std::size_t>> kept;
  std::size_t next = 0;
  for (const Rule& rule : rules) {
    std::optional<std::size_t> found;
    for (std::size_t k = next; k < stored.rules.size(); ++k) {
      if (stored.rules[k] == rule) {
        found = k;
        break;
      }
    }
    if (found) next = *found + 1;
    kept.push_back(found);
  }

  // Each piece is the blanks before an element, the element and, for the last, the blanks before
  // "]". A new rule takes the first element's lead; in an empty array, a line of its own indented
  // one step beyond the line of "[".
  std::string_view lead, closing;
  std::string ownLead, ownClosing;
  if (!pieces->rules.empty()) {
    lead = leadingBlanks(pieces->rules.front());
    closing = trailingBlanks(pieces->rules.back());
  } else {
    const std::size_t lineStart = text.rfind('\n', pieces->open);
    if (lineStart != std::string_view::npos) {
      const std::string_view indent = leadingBlanks(text.substr(lineStart + 1));
      ownLead = "\n" + std::string(indent) + "  ";
      ownClosing = "\n" + std::string(indent);
      lead = ownLead;
      closing = ownClosing;
    }
  }
  std::string edited(text.substr(0, pieces->open + 1));
  for (std::size_t j = 0; j < rules.size(); ++j) {
    if (j > 0) edited += ',';
    if (kept[j]) {
      std::string_view piece = pieces->rules[*kept[j]];
      if (*kept[j] + 1 == pieces->rules.size()) piece.remove_suffix(trailingBlanks(piece).size());
      edited += piece;
    } else {
      edited += lead;
      edited += ruleText(rules[j], lead);
    }
  }
  if (!rules.empty()) edited += closing;
  edited += text.substr(pieces->close);
  return edited;
}

JsonValue RuleSet::toJson() const {
  JsonValue list = JsonValue::array();
  for (const Rule& rule : rules) list.push_back(rule.toJson());
  JsonValue json = JsonValue::object();
  json["version"] = version;
  json["rules"] = std::move(list);
  return json;
}

RuleSet RuleSet::fromJson(const JsonReader& json) {
  // The version comes first: a newer file may use a grammar this one cannot read.
  std::int64_t version = json["version"].integer();
  if (version >= 2) throw RuleSetError::unsupportedVersion(version);
  RuleSet set{.version = version, .rules = {}};
  for (const JsonReader& rule : json["rules"].elements()) set.rules.push_back(Rule::fromJson(rule));
  set.compilePatterns();
  return set;
}

void RuleSet::compilePatterns() {
  auto held = std::make_shared<std::vector<std::shared_ptr<const Regex>>>();
  for (const Rule& rule : rules) {
    RuleEvaluator::collectPatterns(rule.match, *held);
    if (const auto* rewrite = rule.action.kind.asRewrite()) {
      if (auto regex = rewrite->rewrite.compiledPattern()) held->push_back(std::move(regex));
    }
  }
  compiledPatterns.held = std::move(held);
}

RuleSet RuleSet::removingExpired(Date now) const {
  RuleSet kept{.version = version, .rules = {}};
  for (const Rule& rule : rules) {
    if (!rule.isExpired(now)) kept.rules.push_back(rule);
  }
  return kept;
}

namespace {

// The first rule, among the positions `next` gives (ascending), that decides for `target`.
template <class Next>
std::optional<Rule> firstDeciding(const std::vector<Rule>& rules, const RouteTarget& target,
                                  const RuleEvaluator::Subject& subject, Next next) {
  const auto* open = std::get_if<RouteTarget::Open>(&target.value());
  const auto* app = std::get_if<RouteTarget::OpenInApp>(&target.value());
  if (!open && !app) return std::nullopt;
  while (const std::optional<std::size_t> position = next()) {
    const Rule& rule = rules[*position];
    if (!rule.isActive(subject.context().now)) continue;
    const auto* ruleOpen = rule.action.kind.asOpen();
    const auto* ruleApp = rule.action.kind.asOpenInApp();
    bool sendsThere = (open && ruleOpen && ruleOpen->target == open->target) ||
                      (app && ruleApp && ruleApp->bundleID == app->bundleID);
    if (sendsThere && RuleEvaluator::matches(rule.match, subject)) return rule;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Rule> RuleSet::decidingRule(const RouteTarget& target, const LinkRequest& request,
                                          const RoutingContext& context) const {
  RuleEvaluator::Subject subject(request, context);
  std::size_t following = 0;
  return firstDeciding(rules, target, subject, [&]() -> std::optional<std::size_t> {
    if (following >= rules.size()) return std::nullopt;
    return following++;
  });
}

std::optional<Rule> RuleSet::decidingRule(const RouteTarget& target, const LinkRequest& request,
                                          const RoutingContext& context,
                                          const RuleIndex& index) const {
  RuleEvaluator::Subject subject(request, context);
  RuleIndex::Candidates candidates = index.candidates(subject);
  return firstDeciding(rules, target, subject, [&] { return candidates.next(); });
}

}  // namespace linkferry
