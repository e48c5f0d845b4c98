#include "WarmWindow.h"

#include <unistd.h>

#include <gtkmm.h>
// After gtkmm: Xlib's macros break its headers.
#include <gdk/x11/gdkx.h>

#include <array>
#include <cerrno>
#include <iostream>
#include <optional>
#include <string>

#include "PickerProtocol.h"
#include "PickerView.h"

namespace linkferry::picker::WarmWindow {

namespace {

// What the warm-up window shows: the usual parts of a request (a warning, a note, the remember
// controls, rows with icons and an avatar), so that each of them has been built and laid out once.
constexpr const char* kWarmUpInput = R"({
  "id": "00000000-0000-4000-8000-000000000000",
  "url": "https://www.example.com/warm-up?x=1",
  "note": "warm-up",
  "safety": [{"code": "lookalike", "label": "warm-up", "excerpt": "example", "kind": "domain"}],
  "candidates": [
    {"target": {"browser": "firefox-esr"}, "weight": 1,
     "reasons": [{"stage": "history", "detail": "warm-up"}],
     "label": "Firefox", "avatar": {"initial": "W", "fill": 4282549140, "text": 4294967295}},
    {"target": {"browser": "chromium", "privateMode": true}, "weight": 0, "reasons": [],
     "label": "Chromium"}],
  "window": {"scopes": [{"id": "domain", "title": "example.com"},
                        {"id": "pattern", "title": "URLs matching a pattern",
                         "pattern": "^https://"}],
             "durations": [{"count": 1, "unit": "hour", "title": "1 hour"}]}
})";

// Builds, realizes and lays out a window without showing it.
void warmUp() {
  auto* view = new PickerView(PickerProtocol::Input::parse(kWarmUpInput, "warm-up"),
                              [](const PickerProtocol::Answer&) {});
  gtk_widget_realize(GTK_WIDGET(view->gobj()));
  int minimum = 0, natural = 0, ignored = 0;
  view->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, ignored, ignored);
  view->measure(Gtk::Orientation::VERTICAL, natural, minimum, natural, ignored, ignored);
  // The window waits for its first layout on the frame clock, which it never gets here.
  if (GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view->gobj()))) {
    g_signal_handlers_disconnect_by_data(clock, view);
  }
  // Kept, hidden, for the life of this one-click process: tearing down a realized window that
  // has never been shown leaves GTK a layout to run on it.
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// The click's focus token in the form this display takes: the startup notification id on X11,
// the activation token on Wayland (either where only one was given).
std::optional<std::string> focusToken(const PickerProtocol::WarmRequest& request) {
  const bool x11 = GDK_IS_X11_DISPLAY(gdk_display_get_default());
  const std::array<const char*, 2> names =
      x11 ? std::array<const char*, 2>{"DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN"}
          : std::array<const char*, 2>{"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"};
  for (const char* name : names) {
    auto found = request.focus.find(name);
    if (found != request.focus.end() && !found->second.empty()) return found->second;
  }
  return std::nullopt;
}

}  // namespace

int run() {
  warmUp();
  std::cout << PickerProtocol::kWarmReady << std::endl;

  std::string received;
  bool ended = false;
  while (received.find('\n') == std::string::npos) {
    char bytes[16384];
    const ssize_t got = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ended = true;
      break;
    }
    received.append(bytes, static_cast<std::size_t>(got));
  }
  if (ended) return 0;

  std::optional<PickerProtocol::WarmRequest> request;
  try {
    request =
        PickerProtocol::WarmRequest::parse(received.substr(0, received.find('\n')), "the request");
  } catch (const std::exception& error) {
    std::cerr << "linkferry-picker: " << error.what() << '\n';
    return 1;
  }
  bool done = false;
  auto* view = new PickerView(
      std::move(request->input),
      [&done](const PickerProtocol::Answer& answer) {
        std::cout << Json::encodeCompact(answer.toJson()) << std::endl;
        done = true;
      },
      /*iconsLater=*/true);
  if (std::optional<std::string> token = focusToken(*request)) {
    gtk_window_set_startup_id(GTK_WINDOW(view->gobj()), token->c_str());
  }
  view->present();
  while (!done) g_main_context_iteration(nullptr, TRUE);
  return 0;
}

}  // namespace linkferry::picker::WarmWindow
