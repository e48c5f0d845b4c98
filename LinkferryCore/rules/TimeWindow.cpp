#include "rules/TimeWindow.h"

#include <algorithm>

#include "foundation/Text.h"

namespace linkferry {

std::optional<int> TimeWindow::minutes(std::string_view text) {
  std::vector<std::string_view> pieces;
  for (std::string_view piece : Text::split(text, ':')) {
    if (!piece.empty()) pieces.push_back(piece);
  }
  if (pieces.size() != 2) return std::nullopt;
  auto hour = Text::parseInteger(pieces[0]);
  auto minute = Text::parseInteger(pieces[1]);
  if (!hour || !minute) return std::nullopt;
  if (*hour < 0 || *hour > 23 || *minute < 0 || *minute > 59) return std::nullopt;
  return static_cast<int>(*hour * 60 + *minute);
}

bool TimeWindow::contains(Date date, const Calendar& calendar) const {
  auto from = minutes(start);
  auto until = minutes(end);
  if (!from || !until) return false;

  int now = calendar.hour(date) * 60 + calendar.minute(date);
  // The calendar counts Sunday = 1 ... Saturday = 7; windows count Monday = 1 ... Sunday = 7.
  std::int64_t today = ((calendar.weekday(date) + 5) % 7) + 1;
  auto onDay = [this](std::int64_t day) {
    return !days || std::find(days->begin(), days->end(), day) != days->end();
  };

  if (*until < *from) {
    if (now >= *from) return onDay(today);
    if (now < *until) return onDay(today == 1 ? 7 : today - 1);
    return false;
  }
  return onDay(today) && *from <= now && now < *until;
}

JsonValue TimeWindow::toJson() const {
  JsonValue json = JsonValue::object();
  json["start"] = start;
  json["end"] = end;
  if (days) json["days"] = *days;
  return json;
}

TimeWindow TimeWindow::fromJson(const JsonReader& json) {
  TimeWindow window;
  if (auto days = json.optional("days")) {
    window.days.emplace();
    for (const JsonReader& day : days->elements()) window.days->push_back(day.integer());
  }
  window.start = json["start"].string();
  window.end = json["end"].string();
  return window;
}

}  // namespace linkferry
