// Arbitrary bytes through the helper's request decoding: as a whole URL, as the payload of a
// "run" request, as plan JSON, and through both base64 decoders. Decoding must never throw or
// crash, and whatever decodes must come back unchanged from its own encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "foundation/Base64.h"
#include "foundation/Json.h"
#include "foundation/URL.h"
#include "launching/HelperProtocol.h"
#include "launching/LaunchPlan.h"

namespace {

using namespace linkferry;

void check(bool condition) {
  if (!condition) std::abort();
}

void exercisePlan(const LaunchPlan& plan) {
  (void)HelperProtocol::needsHelper(plan);
  (void)HelperProtocol::withoutHelper(plan);
  URL url = HelperProtocol::url(plan);  // decoded plans hold valid UTF-8 only
  check(HelperProtocol::plan(url) == plan);
  check(HelperProtocol::plan(*URL::parse(url.absoluteString())) == plan);
}

void exerciseURL(std::string_view text) {
  auto url = URL::parse(text);
  if (!url) return;
  if (auto plan = HelperProtocol::plan(*url)) exercisePlan(*plan);
  if (auto request = HelperProtocol::handlerRequest(*url)) {
    check(!request->bundleID.empty());
    auto again = HelperProtocol::handlerRequest(
        HelperProtocol::handlerURL(request->scheme, request->bundleID));
    check(again.has_value() && again->bundleID == request->bundleID);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  exerciseURL(bytes);
  exerciseURL("linkferry-helper://run?plan=" + std::string(bytes));
  exerciseURL("linkferry-helper://handler?" + std::string(bytes));

  if (auto document = Json::tryParse(bytes)) {
    try {
      exercisePlan(LaunchPlan::fromJson(JsonReader(*document, "plan")));
    } catch (const JsonError&) {
    }
  }

  // Strict decoders accept only canonical text, so encoding what they return gives it back.
  if (auto decoded = Base64::decode(bytes)) check(Base64::encode(*decoded) == bytes);
  if (auto decoded = Base64::decodeURLUnpadded(bytes)) {
    check(Base64::encodeURLUnpadded(*decoded) == bytes);
  }
  return 0;
}
