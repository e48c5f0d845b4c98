#pragma once

#include <optional>
#include <string>
#include <vector>

#include "browsers/BrowserCatalog.h"
#include "foundation/Json.h"
#include "foundation/URL.h"
#include "foundation/Uuid.h"
#include "routing/Candidate.h"
#include "safety/LinkSafety.h"

namespace linkferry {

// What the user is asked to choose for one link: handed to the picker window (or printed by
// `linkferry open` when there is none) and answered through Router::choose or Router::cancel
// with the same `id`.
struct PickerRequest {
  Uuid id;  // the decision-log entry of this link
  URL url;  // the prepared link to open
  std::optional<std::string> sourceApp;
  std::optional<std::string> sourceWindow;
  // In display order: the pipeline's suggestions first, then every other visible target.
  std::vector<Candidate> candidates;
  // A message shown above the list (after a failed launch).
  std::optional<std::string> note;
  // Link-safety findings; empty when none or not checked.
  std::vector<LinkSafety::Finding> safety;
  // The short link this link was expanded from.
  std::optional<URL> expandedFrom;
  // The link as it was before its tracking parameters were removed.
  std::optional<URL> trackersRemovedFrom;

  // {"id", "url", "sourceApp", "sourceWindow", "candidates": [{"target", "weight", "reasons":
  // [{"stage", "detail"}]}], "note", "safety", "expandedFrom", "trackersRemovedFrom"}; absent
  // optionals are left out. With a catalog each candidate also carries "label"
  // (TargetLabel::text) for a window that has no catalog of its own.
  JsonValue toJson(const BrowserCatalog* catalog = nullptr) const;
  // The reverse of toJson ("label" is not read). Throws JsonError naming the key path.
  static PickerRequest fromJson(const JsonReader& json);

  bool operator==(const PickerRequest&) const = default;
};

}  // namespace linkferry
