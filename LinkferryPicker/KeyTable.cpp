#include "KeyTable.h"

#include <gdk/gdk.h>

namespace linkferry::picker::KeyTable {

namespace {

struct Entry {
  unsigned keyval;
  std::uint16_t keyCode;
};

// Keypad digits send KP_<n> with Num Lock on and the navigation names with it off; both are the
// same physical key.
constexpr Entry kTable[] = {
    {GDK_KEY_1, 18},         {GDK_KEY_2, 19},         {GDK_KEY_3, 20},
    {GDK_KEY_4, 21},         {GDK_KEY_5, 23},         {GDK_KEY_6, 22},
    {GDK_KEY_7, 26},         {GDK_KEY_8, 28},         {GDK_KEY_9, 25},
    {GDK_KEY_0, 29},         {GDK_KEY_KP_1, 83},      {GDK_KEY_KP_2, 84},
    {GDK_KEY_KP_3, 85},      {GDK_KEY_KP_4, 86},      {GDK_KEY_KP_5, 87},
    {GDK_KEY_KP_6, 88},      {GDK_KEY_KP_7, 89},      {GDK_KEY_KP_8, 91},
    {GDK_KEY_KP_9, 92},      {GDK_KEY_KP_0, 82},      {GDK_KEY_KP_End, 83},
    {GDK_KEY_KP_Down, 84},   {GDK_KEY_KP_Page_Down, 85}, {GDK_KEY_KP_Left, 86},
    {GDK_KEY_KP_Begin, 87},  {GDK_KEY_KP_Right, 88},  {GDK_KEY_KP_Home, 89},
    {GDK_KEY_KP_Up, 91},     {GDK_KEY_KP_Page_Up, 92}, {GDK_KEY_KP_Insert, 82},
    {GDK_KEY_Return, PickerKeys::kReturn},  {GDK_KEY_KP_Enter, PickerKeys::kKeypadEnter},
    {GDK_KEY_ISO_Enter, PickerKeys::kReturn}, {GDK_KEY_Escape, PickerKeys::kEscape},
    {GDK_KEY_Left, PickerKeys::kLeftArrow},  {GDK_KEY_Right, PickerKeys::kRightArrow},
    {GDK_KEY_Down, PickerKeys::kDownArrow},  {GDK_KEY_Up, PickerKeys::kUpArrow},
};

}  // namespace

std::optional<std::uint16_t> keyCode(unsigned keyval) {
  for (const Entry& entry : kTable) {
    if (entry.keyval == keyval) return entry.keyCode;
  }
  return std::nullopt;
}

PickerModifiers modifiers(unsigned gdkModifierMask) {
  PickerModifiers result;
  if (gdkModifierMask & GDK_ALT_MASK) result = result | PickerModifiers::option();
  if (gdkModifierMask & GDK_SHIFT_MASK) result = result | PickerModifiers::shift();
  return result;
}

}  // namespace linkferry::picker::KeyTable
