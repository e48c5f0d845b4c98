#include "router/PickerRequest.h"

#include <string_view>
#include <utility>

#include "rules/TargetLabel.h"

namespace linkferry {

namespace {

URL readURL(const JsonReader& json) {
  std::optional<URL> url = URL::parse(json.string());
  if (!url || !url->scheme()) json.fail("not a link with a scheme");
  return *url;
}

std::optional<std::string> optionalString(const JsonReader& json, std::string_view key) {
  if (auto member = json.optional(key)) return member->string();
  return std::nullopt;
}

std::optional<URL> optionalURL(const JsonReader& json, std::string_view key) {
  if (auto member = json.optional(key)) return readURL(*member);
  return std::nullopt;
}

}  // namespace

JsonValue PickerRequest::toJson(const BrowserCatalog* catalog) const {
  JsonValue json = JsonValue::object();
  json["id"] = id.string();
  json["url"] = url.absoluteString();
  if (sourceApp) json["sourceApp"] = *sourceApp;
  if (sourceWindow) json["sourceWindow"] = *sourceWindow;
  JsonValue list = JsonValue::array();
  for (const Candidate& candidate : candidates) {
    JsonValue item = {{"target", candidate.target.toJson()}, {"weight", candidate.weight}};
    JsonValue reasons = JsonValue::array();
    for (const Reason& reason : candidate.reasons) {
      reasons.push_back({{"stage", reason.stage}, {"detail", reason.detail}});
    }
    item["reasons"] = std::move(reasons);
    if (catalog) item["label"] = TargetLabel::text(candidate.target, *catalog);
    list.push_back(std::move(item));
  }
  json["candidates"] = std::move(list);
  if (note) json["note"] = *note;
  JsonValue findings = JsonValue::array();
  for (const LinkSafety::Finding& finding : safety) findings.push_back(finding.toJson());
  json["safety"] = std::move(findings);
  if (expandedFrom) json["expandedFrom"] = expandedFrom->absoluteString();
  if (trackersRemovedFrom) json["trackersRemovedFrom"] = trackersRemovedFrom->absoluteString();
  return json;
}

PickerRequest PickerRequest::fromJson(const JsonReader& json) {
  const JsonReader idJson = json["id"];
  std::optional<Uuid> id = Uuid::parse(idJson.string());
  if (!id) idJson.fail("not a UUID");
  PickerRequest request{*id, readURL(json["url"]), {}, {}, {}, {}, {}, {}, {}};
  request.sourceApp = optionalString(json, "sourceApp");
  request.sourceWindow = optionalString(json, "sourceWindow");
  for (const JsonReader& item : json["candidates"].elements()) {
    Candidate candidate{BrowserTarget::fromJson(item["target"]), item["weight"].number(), {}};
    if (auto reasons = item.optional("reasons")) {
      for (const JsonReader& reason : reasons->elements()) {
        candidate.reasons.push_back(Reason{reason["stage"].string(), reason["detail"].string()});
      }
    }
    request.candidates.push_back(std::move(candidate));
  }
  request.note = optionalString(json, "note");
  if (auto findings = json.optional("safety")) {
    for (const JsonReader& item : findings->elements()) {
      const JsonReader kindJson = item["kind"];
      std::optional<LinkSafety::Finding::Kind> kind = LinkSafety::kindFromString(kindJson.string());
      if (!kind) kindJson.fail("expected \"xss\" or \"domain\"");
      const std::string code = item["code"].string();
      // Written before findings had a severity: the code's own.
      LinkSafety::Finding::Severity severity = LinkSafety::severityOf(code);
      if (auto severityJson = item.optional("severity")) {
        std::optional<LinkSafety::Finding::Severity> read =
            LinkSafety::severityFromString(severityJson->string());
        if (!read) severityJson->fail("expected \"notice\" or \"danger\"");
        severity = *read;
      }
      request.safety.push_back(LinkSafety::Finding{code, item["label"].string(),
                                                   item["excerpt"].string(), *kind, severity});
    }
  }
  request.expandedFrom = optionalURL(json, "expandedFrom");
  request.trackersRemovedFrom = optionalURL(json, "trackersRemovedFrom");
  return request;
}

}  // namespace linkferry
