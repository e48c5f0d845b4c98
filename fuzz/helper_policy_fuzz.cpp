// Arbitrary bytes through the helper's decoding and both policies: as a whole request URL, and
// as plan JSON carried in a "run" request. Nothing may crash or leak; a policy either accepts or
// throws its Rejection, never anything else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/Base64.h"
#include "foundation/URL.h"
#include "launching/HelperPolicy.h"
#include "launching/HelperProtocol.h"
#include "launching/LinuxHelperPolicy.h"

namespace {

using namespace linkferry;

const LinuxHelperPolicy::Installed& installed() {
  static const auto& value = *new LinuxHelperPolicy::Installed{
      {"chromium", "org.gnome.Evolution"},
      {{"chromium", "/usr/bin/chromium", {}},
       {"com.brave.Browser", "/usr/bin/flatpak", {"run", "com.brave.Browser"}}},
      {"/usr/bin/evolution"}};
  return value;
}

void validateBoth(const LaunchPlan& plan) {
  try {
    HelperPolicy::validate(
        plan, [](const std::string& path) { return path.ends_with(".app"); }, "/Users/ann");
  } catch (const HelperPolicy::Rejection&) {
  }
  try {
    LinuxHelperPolicy::validate(plan, installed(), "/home/ann");
  } catch (const HelperPolicy::Rejection&) {
  }
}

void exercise(const std::string& text) {
  const auto url = URL::parse(text);
  if (!url) return;
  if (const auto plan = HelperProtocol::plan(*url)) validateBoth(*plan);
  if (const auto change = HelperProtocol::handlerRequest(*url)) {
    try {
      HelperPolicy::validateHandler(change->scheme, change->bundleID, {change->bundleID});
    } catch (const HelperPolicy::Rejection&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  exercise(bytes);
  exercise("linkferry-helper://run?plan=" + Base64::encodeURLUnpadded(bytes));
  return 0;
}
