#include "router/RouterResult.h"

#include "foundation/Overloaded.h"

namespace linkferry {

Uuid RouterResult::id() const {
  return std::visit(Overloaded{[](const Opened& opened) { return opened.id; },
                               [](const Ignored& ignored) { return ignored.id; },
                               [](const Pick& pick) { return pick.request.id; }},
                    m_value);
}

}  // namespace linkferry
