// Loads arbitrary bytes as a settings file. Only the load error may be thrown, and whatever loads
// must save and load back equal.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "foundation/Json.h"
#include "settings/AlternativeBrowser.h"
#include "settings/AppSettings.h"

using namespace linkferry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  AppSettings settings;
  try {
    settings = AppSettings::decode(text, "settings.json");
  } catch (const JsonError&) {
    return 0;
  }
  settings.orderedTargets(settings.targetOrder);
  AlternativeBrowser::decide(ModifierKeys{15}, settings);
  if (AppSettings::decode(settings.encode(), "saved") != settings) __builtin_trap();
  return 0;
}
