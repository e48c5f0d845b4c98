// browsers.json on any bytes, decoded as BrowserCatalog::loadCustomDefinitions does: either a
// JsonError or definitions that encode and decode back to themselves.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "browsers/BrowserDefinition.h"
#include "foundation/Json.h"

namespace {

using namespace linkferry;

std::vector<BrowserDefinition> decode(std::string_view text) {
  const JsonValue document = Json::parse(text, "browsers.json");
  const JsonReader root(document, "browsers.json");
  if (!root.isArray()) root.fail("expected an array of browser definitions");
  std::vector<BrowserDefinition> definitions;
  for (const JsonReader& element : root.elements()) {
    definitions.push_back(BrowserDefinition::fromJson(element));
  }
  return definitions;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<BrowserDefinition> definitions;
  try {
    definitions = decode(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const JsonError&) {
    return 0;
  }
  JsonValue encoded = JsonValue::array();
  for (const auto& definition : definitions) encoded.push_back(definition.toJson());
  if (decode(Json::encodeCompact(encoded)) != definitions) __builtin_trap();
  return 0;
}
