#pragma once

#include <gtkmm.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "PickerProtocol.h"

namespace linkferry::picker {

// The program's name, its X11 window class (WM_CLASS) and its Wayland app id alike.
inline constexpr const char* kProgramName = "linkferry-picker";

// The picker window: the link (ReadableLink), a band for its findings (red for danger, blue for a
// notice such as an international name), the request's note, one row per candidate, the ways to
// remember a choice and the keys spelled out. It is titled "Open <host> with…"; on X11 it is a
// dialog (_NET_WM_WINDOW_TYPE_DIALOG) of class kProgramName, placed by the program and stepped
// aside from other pickers already shown; on Wayland the compositor places it. Every key press goes through PickerKeys::command and PickerKeys::move (but
// those typed into the pattern entry, which Tab reaches; Alt keys still choose from there). Tab
// goes round the scope, the pattern and the duration, and left and right step the one it is on; the
// window calls `finished` exactly once, with the user's choice or a cancel (also when closed).
// With LINKFERRY_PICKER_TRACE set it writes to standard error, for measurements and tests:
// "shown <microseconds>" after its first frame (CLOCK_MONOTONIC), then "window <X11 id>",
// "renderer <GSK renderer type>", "gl on" or "gl off: <GDK's reason>" (whether the display could
// give it an OpenGL context), one "row <index> <x> <y> <width> <height>" per shown row (window
// coordinates) and "ready"; "icons <microseconds>" once icons left for later are drawn; and
// "key <microseconds>" at the first key it takes.
class PickerView : public Gtk::Window {
 public:
  using Finished = std::function<void(const PickerProtocol::Answer&)>;
  // With `iconsLater` the first frame shows the rows with room for the browsers' icons, which
  // are looked up (desktop entries, the icon theme's files) and drawn right after it.
  PickerView(PickerProtocol::Input input, Finished finished, bool iconsLater = false);

 private:
  Gtk::Widget* buildHeader();
  Gtk::Widget* buildBand();
  Gtk::Widget* buildRow(std::size_t index);
  Gtk::Widget* buildFooter();
  void layoutRows();
  void showSelection();
  std::int64_t shownCount() const;
  std::int64_t hiddenCount() const;

  bool onKey(guint keyval, guint keycode, Gdk::ModifierType state);
  void perform(const PickerCommand& command);
  void choose(std::int64_t index, bool makeRule, bool privateMode);
  void finish(const PickerProtocol::Answer& answer);
  struct Screen {
    GdkRectangle area{};
    int pointerX = 0, pointerY = 0;
  };
  std::optional<Screen> screen();
  void placeOnScreen(int width, int height, int anchorX, int anchorY);
  void markAsDialog();
  const std::vector<std::pair<int, int>>& otherPickers();
  void placeEstimated();
  static void afterFirstLayout(GdkFrameClock* clock, gpointer self);
  bool patternSelected() const;
  bool editingPattern();
  void checkPattern();
  void nextStop(int direction);
  void showStop();
  static void afterFirstPaint(GdkFrameClock* clock, gpointer self);
  void fillIcons();
  static void afterIconsPaint(GdkFrameClock* clock, gpointer self);

  PickerProtocol::Input m_input;
  Finished m_finished;
  const bool m_iconsLater;
  std::vector<std::pair<Gtk::Image*, std::string>> m_pendingIcons;  // with m_iconsLater
  bool m_done = false;
  bool m_expanded = false;
  bool m_keySeen = false;
  std::int64_t m_selected = 0;
  Glib::RefPtr<Gtk::EventControllerKey> m_keys;
  Gtk::Grid m_grid;
  std::vector<std::unique_ptr<Gtk::Box>> m_rows;
  std::unique_ptr<Gtk::Box> m_moreRow;
  Gtk::Label* m_moreLabel = nullptr;
  Gtk::DropDown* m_scopes = nullptr;
  Gtk::DropDown* m_durations = nullptr;
  Gtk::Entry* m_pattern = nullptr;  // the "pattern" scope's expression, shown while it is selected
  Gtk::DropDown* m_stepped = nullptr;  // what left and right step: m_scopes or m_durations
  std::optional<std::vector<std::pair<int, int>>> m_otherPickers;  // see otherPickers()
};

}  // namespace linkferry::picker
