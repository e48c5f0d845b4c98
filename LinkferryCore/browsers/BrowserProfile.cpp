#include "browsers/BrowserProfile.h"

#include "foundation/Text.h"

namespace linkferry {

std::optional<std::string> BrowserProfile::accountsText() const {
  if (!googleAccounts.empty()) return Text::join(googleAccounts, ", ");
  return email;
}

}  // namespace linkferry
