#pragma once

#include <cstdint>

#include "foundation/Dates.h"

namespace linkferry {

// How recently and how often one browser target visited one site.
struct HistoryStat {
  Date lastVisit;           // the latest visit of any of the site's URLs
  std::int64_t visits = 0;  // the sum of the browser's visit counts of those URLs

  bool operator==(const HistoryStat&) const = default;
};

}  // namespace linkferry
