#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/Dates.h"

namespace linkferry {

// One row of a browser's history: a visited URL with its last visit and the browser's visit count.
struct HistoryRecord {
  std::string url;  // as stored; empty when the column is null
  Date lastVisit;
  std::int64_t visitCount = 0;

  bool operator==(const HistoryRecord&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::HistoryRecord> {
  std::size_t operator()(const linkferry::HistoryRecord& record) const noexcept {
    std::size_t hash = std::hash<std::string>()(record.url);
    hash ^= std::hash<double>()(record.lastVisit.secondsSince1970) + 0x9e3779b97f4a7c15ull +
            (hash << 6) + (hash >> 2);
    hash ^= std::hash<std::int64_t>()(record.visitCount) + 0x9e3779b97f4a7c15ull + (hash << 6) +
            (hash >> 2);
    return hash;
  }
};
