#pragma once

#include <cstdint>
#include <optional>

#include "settings/PickerModel.h"

// The picker's keys as PickerKeys understands them: GDK key values become the key codes of
// PickerKeys::command, GDK modifier masks become PickerModifiers. No display is needed.
namespace linkferry::picker::KeyTable {

// The key code for a GDK key value without Shift applied (so Shift+1 is still "1"): the digit row,
// the keypad digits (with Num Lock on or off), Return and keypad Enter, Escape and the arrows.
// Nothing for any other key.
std::optional<std::uint16_t> keyCode(unsigned keyval);

// Alt is the option modifier, Shift is shift; other modifiers are not the picker's.
PickerModifiers modifiers(unsigned gdkModifierMask);

}  // namespace linkferry::picker::KeyTable
