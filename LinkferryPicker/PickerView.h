#pragma once

#include <gtkmm.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "PickerProtocol.h"

namespace linkferry::picker {

// The picker window: the link, its warnings and notes, one row per candidate and the ways to
// remember a choice. Every key press goes through PickerKeys::command and PickerKeys::move; the
// window calls `finished` exactly once, with the user's choice or a cancel (also when closed).
class PickerView : public Gtk::Window {
 public:
  using Finished = std::function<void(const PickerProtocol::Answer&)>;
  PickerView(PickerProtocol::Input input, Finished finished);

 private:
  Gtk::Widget* buildHeader();
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
  void placeOnScreen();

  PickerProtocol::Input m_input;
  Finished m_finished;
  bool m_done = false;
  bool m_expanded = false;
  std::int64_t m_selected = 0;
  std::vector<Gtk::Box*> m_rows;
  Glib::RefPtr<Gtk::EventControllerKey> m_keys;
  Gtk::Grid m_grid;
  Gtk::Box* m_moreRow = nullptr;
  Gtk::Label* m_moreLabel = nullptr;
  Gtk::DropDown* m_scopes = nullptr;
  Gtk::DropDown* m_durations = nullptr;
};

}  // namespace linkferry::picker
