#include "Style.h"

#include <gtkmm.h>

namespace linkferry::picker::Style {

namespace {

constexpr const char* kStyleSheet = R"css(
window.linkferry-picker {
  border-radius: 12px;
  border: 1px solid alpha(currentColor, 0.18);
}
.content { padding: 16px 14px 10px 14px; }
.header { margin: 0 4px 12px 4px; }
.link { font-size: 1.08em; margin-bottom: 2px; }
.detail { font-size: 0.86em; opacity: 0.62; }
.note {
  margin-top: 6px; padding: 7px 10px; border-radius: 7px;
  background: alpha(#e5a50a, 0.16); border: 1px solid alpha(#e5a50a, 0.5);
}
.warning {
  margin-bottom: 10px; padding: 10px 12px; border-radius: 8px;
  background: #c01c28; color: white;
}
.warning-title { font-weight: bold; font-size: 1.05em; }
.notice {
  margin-bottom: 10px; padding: 8px 12px; border-radius: 8px;
  background: alpha(#3584e4, 0.16); border: 1px solid alpha(#3584e4, 0.45);
}
.rows { margin: 0 0 8px 0; }
.row {
  padding: 6px 10px 6px 8px; border-radius: 8px; min-height: 34px;
}
.row:hover { background: alpha(currentColor, 0.06); }
.row.selected { background: @theme_selected_bg_color; color: @theme_selected_fg_color; }
.row.selected .subtitle { opacity: 0.85; }
.row.more { min-height: 26px; }
.more-label { opacity: 0.7; font-style: italic; padding-left: 34px; }
.badge {
  min-width: 20px; min-height: 20px; border-radius: 6px;
  font-weight: bold; font-size: 0.9em; font-feature-settings: "tnum";
  background: alpha(currentColor, 0.1);
}
.badge.empty { background: none; }
.row.selected .badge { background: alpha(@theme_selected_fg_color, 0.25); }
.title { font-weight: 600; }
.subtitle { font-size: 0.84em; opacity: 0.65; }
.dim { opacity: 0.6; }
.footer { margin: 4px 4px 0 4px; padding-top: 10px; border-top: 1px solid alpha(currentColor, 0.12); }
.caption { opacity: 0.75; }
dropdown.active > button { box-shadow: inset 0 0 0 2px alpha(@theme_selected_bg_color, 0.8); }
entry.pattern { font-family: monospace; font-size: 0.9em; }
entry.pattern.error { color: #e01b24; border-color: #e01b24; }
.hints { font-size: 0.82em; opacity: 0.7; }
)css";

bool desktopPrefersDark() {
  auto source = Gio::SettingsSchemaSource::get_default();
  if (!source) return false;
  auto schema = source->lookup("org.gnome.desktop.interface", true);
  if (!schema || !schema->has_key("color-scheme")) return false;
  return Gio::Settings::create("org.gnome.desktop.interface")->get_string("color-scheme") ==
         "prefer-dark";
}

}  // namespace

void apply() {
  auto display = Gdk::Display::get_default();
  if (desktopPrefersDark()) {
    Gtk::Settings::get_for_display(display)->property_gtk_application_prefer_dark_theme() = true;
  }
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(kStyleSheet);
  Gtk::StyleContext::add_provider_for_display(display, provider,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace linkferry::picker::Style
