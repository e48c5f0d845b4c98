#include "PickerView.h"

#include <gdk/x11/gdkx.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <giomm/desktopappinfo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ctime>

#include "KeyTable.h"
#include "LinkText.h"
#include "foundation/DisplayText.h"
#include "foundation/Text.h"
#include "rules/RuleAuthoring.h"
#include "safety/ReadableLink.h"

namespace linkferry::picker {

namespace {

// The longest part of the link after its host that is shown before it is shortened.
constexpr std::size_t kLinkRest = 56;

// How far each further picker is moved from one that is already where it would go.
constexpr int kCascadeStep = 32;

// Where the middle of the first row is guessed to be, from the window's top, before it is laid out.
constexpr int kFirstRowEstimate = 72;

// The longest link in the link's tooltip, scope title and note shown before they are shortened.
constexpr std::size_t kTooltip = 1024;
constexpr std::size_t kScopeTitle = 40;
constexpr std::size_t kLongNote = 400;

Glib::ustring escaped(const std::string& text) { return Glib::Markup::escape_text(text); }

// A label that breaks its lines where it must beyond about `characters`, so that no text makes
// the window much wider than its usual width.
Gtk::Label* wrapping(Gtk::Label* label, int characters = 80) {
  label->set_wrap(true);
  label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
  label->set_max_width_chars(characters);
  return label;
}

Gtk::Label* label(const std::string& text, const char* cssClass = nullptr) {
  auto* result = Gtk::make_managed<Gtk::Label>(text);
  result->set_xalign(0);
  if (cssClass) result->add_css_class(cssClass);
  return result;
}

// A letter on a coloured disc (ARGB colours), the way a profile shows itself in its browser.
Gtk::Widget* avatarDisc(const ProfileAvatar& avatar) {
  if (avatar.imagePath) {
    auto* picture = Gtk::make_managed<Gtk::Image>(*avatar.imagePath);
    picture->set_pixel_size(18);
    picture->add_css_class("avatar");
    return picture;
  }
  auto* area = Gtk::make_managed<Gtk::DrawingArea>();
  area->set_content_width(18);
  area->set_content_height(18);
  area->set_valign(Gtk::Align::CENTER);
  area->set_draw_func([avatar, area](const Cairo::RefPtr<Cairo::Context>& cairo, int width,
                                     int height) {
    auto channel = [](std::uint32_t argb, int shift) { return ((argb >> shift) & 0xFF) / 255.0; };
    cairo->arc(width / 2.0, height / 2.0, std::min(width, height) / 2.0, 0, 2 * M_PI);
    cairo->set_source_rgba(channel(avatar.fill, 16), channel(avatar.fill, 8),
                           channel(avatar.fill, 0), channel(avatar.fill, 24));
    cairo->fill();
    auto layout = area->create_pango_layout(avatar.initial);
    Pango::FontDescription font("Sans Bold 8");
    layout->set_font_description(font);
    int textWidth = 0, textHeight = 0;
    layout->get_pixel_size(textWidth, textHeight);
    cairo->move_to((width - textWidth) / 2.0, (height - textHeight) / 2.0);
    cairo->set_source_rgba(channel(avatar.text, 16), channel(avatar.text, 8),
                           channel(avatar.text, 0), channel(avatar.text, 24));
    layout->show_in_cairo_context(cairo);
  });
  return area;
}

// Shows the browser's icon from its desktop entry (the browser id is the desktop file id on
// Linux), else the theme's generic browser icon.
void setBrowserIcon(Gtk::Image& image, const std::string& browser) {
  Glib::RefPtr<Gio::DesktopAppInfo> info;
  if (!browser.empty() && browser.find('/') == std::string::npos) {
    info = Gio::DesktopAppInfo::create(browser + ".desktop");
  }
  if (info && info->get_icon()) {
    image.set(info->get_icon());
  } else {
    image.set_from_icon_name("web-browser");
  }
}

// "Open bücher.de with…": the host as ReadableLink shows it, so a window list or a switcher names
// the link's site the way the link's line does.
std::string windowTitle(const URL& url) {
  const std::optional<std::string> host = url.percentEncodedHost();
  if (!host || host->empty()) return "Open link with…";
  return "Open " + DisplayText::escaped(shortenedInMiddle(ReadableLink::host(*host).shown, 48)) +
         " with…";
}

// "bücher.de (xn--bcher-kva.de)", each an isolated piece: a right-to-left name keeps to itself.
std::string internationalName(const PickerRequest& request) {
  const std::optional<std::string> host = request.url.percentEncodedHost();
  const ReadableLink::Host shown = ReadableLink::host(host.value_or(""));
  if (shown.ascii) {
    return isolated(shown.shown, LinkText::kMaxHost) + " (" + isolated(*shown.ascii, LinkText::kMaxHost) + ")";
  }
  // A notice that does not come from the link's own host: its excerpt says what it is.
  std::vector<std::string> excerpts;
  for (const LinkSafety::Finding& finding : request.safety) excerpts.push_back(isolated(finding.excerpt, 96));
  return Text::join(excerpts, "; ");
}

// The longest note and the most lines of it shown; a note may quote a browser's error output.
constexpr std::size_t kMaxNoteLines = 8;

// The note's own lines kept (a browser's error output comes in lines), each escaped: no control
// reaches the window, and a line break is one only where the note has one.
std::string noteText(const std::string& note) {
  std::vector<std::string> lines;
  const std::string shortened = shortenedInMiddle(note, kLongNote);
  for (std::string_view line : Text::split(shortened, '\n')) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (lines.size() == kMaxNoteLines) {
      lines.back() += " …";
      break;
    }
    lines.push_back(DisplayText::escaped(line));
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return Text::join(lines, "\n");
}

// The keys, spelled out: what each does. "1–9, 0" name the badges of the rows there are.
Glib::ustring legend(bool remembering, std::int64_t rows) {
  // Each entry held together by no-break spaces.
  const auto key = [](const char* keys, std::string what) {
    std::string::size_type blank;
    while ((blank = what.find(' ')) != std::string::npos) what.replace(blank, 1, "\u00A0");
    return std::string("<b>") + keys + "</b>:\u00A0" + what;
  };
  const char* digits = rows >= 10 ? "1–9, 0" : rows > 1 ? "1–" : "1";
  std::string numbers = digits;
  if (rows > 1 && rows < 10) numbers += std::to_string(rows);
  std::vector<std::string> entries{key(numbers.c_str(), "open"), key("Enter", "open selected"),
                                   key("↑↓", "select"), key("Shift", "private window")};
  if (remembering) {
    entries.push_back(key("Alt", "open and remember"));
    entries.push_back(key("Tab", "remember how"));
    entries.push_back(key("←→", "change it"));
  }
  entries.push_back(key("Esc", "cancel"));
  // Two lines broken by hand: a label that wraps would be measured for every width the window
  // tries, on the way to its first frame.
  const std::size_t half = (entries.size() + 1) / 2;
  return Text::join({entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(half)}, "   ") +
         "\n" + Text::join({entries.begin() + static_cast<std::ptrdiff_t>(half), entries.end()}, "   ");
}

std::int64_t monotonicMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

bool tracing() {
  static const bool enabled = !Glib::getenv("LINKFERRY_PICKER_TRACE").empty();
  return enabled;
}

}  // namespace

PickerView::PickerView(PickerProtocol::Input input, Finished finished, bool iconsLater)
    : m_input(std::move(input)), m_finished(std::move(finished)), m_iconsLater(iconsLater) {
  set_title(windowTitle(m_input.request.url));
  set_decorated(false);
  set_resizable(false);
  add_css_class("linkferry-picker");

  auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
  content->add_css_class("content");
  content->append(*buildHeader());
  m_grid.add_css_class("rows");
  m_grid.set_column_spacing(6);
  m_grid.set_row_spacing(2);
  m_grid.set_column_homogeneous(true);
  for (std::size_t i = 0; i < m_input.request.candidates.size(); ++i) buildRow(i);
  const std::int64_t total = static_cast<std::int64_t>(m_rows.size());
  if (total > std::max<std::int64_t>(m_input.visibleCount, 1)) {
    m_moreRow = std::make_unique<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    m_moreRow->add_css_class("row");
    m_moreRow->add_css_class("more");
    m_moreLabel = label("", "more-label");
    m_moreLabel->set_hexpand(true);
    m_moreRow->append(*m_moreLabel);
    auto click = Gtk::GestureClick::create();
    click->signal_released().connect([this](int, double, double) {
      m_expanded = true;
      layoutRows();
    });
    m_moreRow->add_controller(click);
  }
  layoutRows();
  content->append(m_grid);
  content->append(*buildFooter());
  set_child(*content);

  m_keys = Gtk::EventControllerKey::create();
  m_keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  m_keys->signal_key_pressed().connect(sigc::mem_fun(*this, &PickerView::onKey), false);
  add_controller(m_keys);
  signal_close_request().connect(
      [this] {
        finish({});
        return false;
      },
      false);
  signal_realize().connect([this] {
    markAsDialog();
    placeEstimated();
    // After GTK's own layout handler, which was connected when the window was realized.
    if (GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(gobj()))) {
      g_signal_connect_after(clock, "layout", G_CALLBACK(&PickerView::afterFirstLayout), this);
    }
  });
  if (tracing() || m_iconsLater) {
    signal_map().connect([this] {
      GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(gobj()));
      if (clock) g_signal_connect(clock, "after-paint", G_CALLBACK(&PickerView::afterFirstPaint), this);
    });
  }
  showSelection();
}

Gtk::Widget* PickerView::buildHeader() {
  const PickerRequest& request = m_input.request;
  auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
  header->add_css_class("header");
  if (!request.safety.empty()) header->append(*buildBand());
  // Each piece of the link is isolated, so that no direction of one reorders another; the
  // pieces are already short, and a line too long for the window wraps.
  const LinkText link = LinkText::of(request.url, kLinkRest);
  const std::size_t whole = std::max(LinkText::kMaxHost, kLinkRest);
  auto* url = wrapping(label("", "link"), 96);
  // A line broken inside the host must not look like a "-" in it.
  url->set_markup("<span insert_hyphens=\"false\"><span alpha=\"55%\">" +
                  escaped(isolated(link.lead, whole)) + "</span><b>" +
                  escaped(isolated(link.host, whole)) + "</b><span alpha=\"70%\">" +
                  escaped(isolated(link.rest, whole)) + "</span></span>");
  url->set_tooltip_text(DisplayText::escaped(shortenedInMiddle(request.url.absoluteString(), kTooltip)));
  url->set_selectable(false);
  header->append(*url);
  if (request.expandedFrom) {
    header->append(*wrapping(
        label("expanded from " + isolated(request.expandedFrom->absoluteString(), 64), "detail")));
  }
  if (request.trackersRemovedFrom) {
    header->append(*label("trackers removed", "detail"));
  }
  if (request.sourceApp) {
    header->append(*wrapping(label(sourceLine(*request.sourceApp, request.sourceWindow), "detail")));
  }
  if (request.note) {
    auto* note = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    note->add_css_class("note");
    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name("dialog-information-symbolic");
    icon->set_valign(Gtk::Align::START);
    note->append(*icon);
    auto* text = wrapping(label(noteText(*request.note)));
    text->set_hexpand(true);
    note->append(*text);
    header->append(*note);
  }
  return header;
}

// Danger in red: "This link looks dangerous" and one line per finding. A notice (an
// international name and nothing else) in a calm blue: the name in its own letters with its ASCII
// form beside it, the one the browser will ask the network for.
Gtk::Widget* PickerView::buildBand() {
  const PickerRequest& request = m_input.request;
  const bool danger = LinkSafety::worst(request.safety) != LinkSafety::Finding::Severity::notice;
  auto* band = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
  band->add_css_class(danger ? "warning" : "notice");
  auto* icon = Gtk::make_managed<Gtk::Image>();
  icon->set_from_icon_name(danger ? "dialog-warning-symbolic" : "dialog-information-symbolic");
  icon->set_pixel_size(danger ? 22 : 18);
  icon->set_valign(Gtk::Align::START);
  band->append(*icon);
  auto* lines = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
  if (danger) {
    lines->append(*label("This link looks dangerous", "warning-title"));
    for (const LinkSafety::Finding& finding : request.safety) {
      auto* line = label("");
      line->set_markup("<b>" + escaped(DisplayText::escaped(finding.label)) + "</b>  " +
                       escaped(isolated(finding.excerpt, 48)));
      lines->append(*wrapping(line));
    }
  } else {
    auto* line = label("");
    line->set_markup("<b>International name:</b>  " + escaped(internationalName(request)));
    lines->append(*wrapping(line));
  }
  band->append(*lines);
  return band;
}

Gtk::Widget* PickerView::buildRow(std::size_t index) {
  const Candidate& candidate = m_input.request.candidates[index];
  // Not managed: the rows leave the grid and come back when it is laid out again.
  m_rows.push_back(std::make_unique<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10));
  Gtk::Box* row = m_rows.back().get();
  row->add_css_class("row");
  auto* badge = label(PickerKeys::badge(static_cast<std::int64_t>(index)).value_or(""), "badge");
  badge->set_xalign(0.5);
  badge->set_valign(Gtk::Align::CENTER);
  if (!PickerKeys::badge(static_cast<std::int64_t>(index))) badge->add_css_class("empty");
  row->append(*badge);
  auto* icon = Gtk::make_managed<Gtk::Image>();
  // The size is the row's either way, so an icon filled in later moves nothing.
  icon->set_pixel_size(28);
  if (m_iconsLater) {
    m_pendingIcons.emplace_back(icon, candidate.target.browser);
  } else {
    setBrowserIcon(*icon, candidate.target.browser);
  }
  row->append(*icon);
  auto* text = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
  text->set_valign(Gtk::Align::CENTER);
  text->set_hexpand(true);
  auto* title = label(DisplayText::escaped(m_input.labels[index]), "title");
  title->set_ellipsize(Pango::EllipsizeMode::END);
  text->append(*title);
  std::vector<std::string> reasons;
  for (const Reason& reason : candidate.reasons) reasons.push_back(DisplayText::escaped(reason.detail));
  if (!reasons.empty()) {
    auto* subtitle = label(Text::join(reasons, " · "), "subtitle");
    subtitle->set_ellipsize(Pango::EllipsizeMode::END);
    text->append(*subtitle);
  }
  row->append(*text);
  if (index < m_input.avatars.size() && m_input.avatars[index]) {
    row->append(*avatarDisc(*m_input.avatars[index]));
  }
  if (candidate.target.privateMode) {
    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name("security-high-symbolic");
    icon->add_css_class("dim");
    row->append(*icon);
  }
  auto click = Gtk::GestureClick::create();
  click->signal_released().connect([this, index, click = click.get()](int, double, double) {
    const PickerModifiers modifiers =
        KeyTable::modifiers(static_cast<unsigned>(click->get_current_event_state()));
    choose(static_cast<std::int64_t>(index), modifiers.contains(PickerModifiers::option()),
           modifiers.contains(PickerModifiers::shift()));
  });
  row->add_controller(click);
  return row;
}

Gtk::Widget* PickerView::buildFooter() {
  auto* footer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
  footer->add_css_class("footer");
  if (!m_input.scopes.empty()) {
    auto* remember = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    remember->append(*label("Alt remembers", "caption"));
    std::vector<Glib::ustring> scopes;
    // A scope's title names the host or the window: shortened and escaped like the link.
    for (const PickerProtocol::ScopeChoice& scope : m_input.scopes) {
      scopes.push_back(DisplayText::escaped(shortenedInMiddle(scope.title, kScopeTitle)));
    }
    m_scopes = Gtk::make_managed<Gtk::DropDown>(scopes);
    m_scopes->set_selected(static_cast<guint>(m_input.defaultScope));
    m_scopes->set_hexpand(true);
    m_scopes->set_focusable(false);
    m_scopes->add_css_class("active");
    m_stepped = m_scopes;
    remember->append(*m_scopes);
    std::vector<Glib::ustring> durations{"for good"};
    for (const RememberDuration& duration : m_input.durations) {
      durations.push_back("for " + duration.title());
    }
    m_durations = Gtk::make_managed<Gtk::DropDown>(durations);
    m_durations->set_focusable(false);
    remember->append(*m_durations);
    footer->append(*remember);
    for (const PickerProtocol::ScopeChoice& scope : m_input.scopes) {
      if (scope.id != "pattern" || !scope.pattern) continue;
      m_pattern = Gtk::make_managed<Gtk::Entry>();
      m_pattern->add_css_class("pattern");
      m_pattern->set_text(*scope.pattern);
      m_pattern->set_placeholder_text("regular expression searched in the link");
      m_pattern->signal_changed().connect([this] { checkPattern(); });
      m_pattern->set_visible(patternSelected());
      footer->append(*m_pattern);
      m_scopes->property_selected().signal_changed().connect(
          [this] { m_pattern->set_visible(patternSelected()); });
      checkPattern();
    }
  }
  auto* hints = label("", "hints");
  hints->set_markup(legend(m_scopes != nullptr, shownCount()));
  hints->set_xalign(0.5);
  hints->set_justify(Gtk::Justification::CENTER);
  footer->append(*hints);
  return footer;
}

std::int64_t PickerView::shownCount() const {
  const auto total = static_cast<std::int64_t>(m_rows.size());
  if (m_expanded || !m_moreRow) return total;
  return std::min(total, m_input.visibleCount);
}

std::int64_t PickerView::hiddenCount() const {
  return static_cast<std::int64_t>(m_rows.size()) - shownCount();
}

// Rows fill the columns top to bottom, so moving down goes through them in reading order.
void PickerView::layoutRows() {
  for (const auto& row : m_rows) {
    if (row->get_parent()) m_grid.remove(*row);
  }
  if (m_moreRow && m_moreRow->get_parent()) m_grid.remove(*m_moreRow);
  const std::int64_t shown = shownCount();
  const std::int64_t columns = PickerKeys::columns(m_input.columns, shown);
  const std::int64_t perColumn = (shown + columns - 1) / columns;
  for (std::int64_t i = 0; i < shown; ++i) {
    m_grid.attach(*m_rows[static_cast<std::size_t>(i)], static_cast<int>(i / perColumn),
                  static_cast<int>(i % perColumn));
  }
  if (m_moreRow && hiddenCount() > 0) {
    m_moreLabel->set_text(std::to_string(hiddenCount()) + " more…");
    m_grid.attach(*m_moreRow, 0, static_cast<int>(perColumn), static_cast<int>(columns), 1);
  }
  set_default_size(columns == 1 ? 460 : static_cast<int>(300 * columns), -1);
}

void PickerView::showSelection() {
  for (std::size_t i = 0; i < m_rows.size(); ++i) {
    if (static_cast<std::int64_t>(i) == m_selected) {
      m_rows[i]->add_css_class("selected");
    } else {
      m_rows[i]->remove_css_class("selected");
    }
  }
}

bool PickerView::patternSelected() const {
  return m_scopes && m_scopes->get_selected() < m_input.scopes.size() &&
         m_input.scopes[m_scopes->get_selected()].id == "pattern";
}

bool PickerView::editingPattern() {
  if (!m_pattern || !m_pattern->get_visible()) return false;
  const Gtk::Widget* focus = get_focus();
  return focus && (focus == m_pattern || focus->is_ancestor(*m_pattern));
}

void PickerView::nextStop(int direction) {
  // The stops in order; the pattern's is where the keys go into its entry.
  std::vector<Gtk::Widget*> stops{m_scopes};
  if (m_pattern && m_pattern->get_visible()) stops.push_back(m_pattern);
  stops.push_back(m_durations);
  const Gtk::Widget* current = m_stepped;
  if (editingPattern()) current = m_pattern;
  const auto at = static_cast<int>(std::find(stops.begin(), stops.end(), current) - stops.begin());
  const int count = static_cast<int>(stops.size());
  Gtk::Widget* next = stops[static_cast<std::size_t>(((at + direction) % count + count) % count)];
  if (next == m_pattern) {
    // Leaving the entry with Escape or Return comes back to the scope it belongs to.
    m_stepped = m_scopes;
    m_pattern->grab_focus();
  } else {
    unset_focus();
    m_stepped = static_cast<Gtk::DropDown*>(next);
  }
  showStop();
}

void PickerView::showStop() {
  for (Gtk::DropDown* dropDown : {m_scopes, m_durations}) {
    if (dropDown == m_stepped && !editingPattern()) {
      dropDown->add_css_class("active");
    } else {
      dropDown->remove_css_class("active");
    }
  }
}

void PickerView::checkPattern() {
  if (RuleAuthoring::isValidRegex(std::string(m_pattern->get_text()))) {
    m_pattern->remove_css_class("error");
    m_pattern->set_tooltip_text("Alt remembers for links this expression finds; Tab to edit");
  } else {
    m_pattern->add_css_class("error");
    m_pattern->set_tooltip_text("Not a valid regular expression: nothing would be remembered");
  }
}

bool PickerView::onKey(guint keyval, guint keycode, Gdk::ModifierType state) {
  // Tab and Shift+Tab go round the ways a choice is remembered: the scope, its pattern when
  // that is shown, and the duration.
  if ((keyval == GDK_KEY_Tab || keyval == GDK_KEY_ISO_Left_Tab) && m_scopes) {
    const bool back = keyval == GDK_KEY_ISO_Left_Tab ||
                      (state & Gdk::ModifierType::SHIFT_MASK) == Gdk::ModifierType::SHIFT_MASK;
    nextStop(back ? -1 : +1);
    return true;
  }
  // What is typed into the pattern goes there; Escape or Return hands the keys back to the
  // picker, and Alt keys choose and remember right away.
  if (editingPattern() && (state & Gdk::ModifierType::ALT_MASK) != Gdk::ModifierType::ALT_MASK) {
    if (keyval != GDK_KEY_Escape && keyval != GDK_KEY_Return && keyval != GDK_KEY_KP_Enter) {
      return false;
    }
    unset_focus();
    showStop();
    return true;
  }
  // Shift changes what a key types ("1" becomes "!"); the picker reads the key itself.
  unsigned base = keyval;
  GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(m_keys->gobj()));
  guint translated = 0;
  const auto unshifted =
      static_cast<GdkModifierType>(static_cast<unsigned>(state) & ~GDK_SHIFT_MASK);
  if (event && gdk_display_translate_key(gdk_event_get_display(event), keycode, unshifted,
                                         static_cast<int>(gdk_key_event_get_layout(event)),
                                         &translated, nullptr, nullptr, nullptr)) {
    base = translated;
  }
  const std::optional<std::uint16_t> code = KeyTable::keyCode(base);
  if (!code) return false;
  if (tracing() && !m_keySeen) {
    m_keySeen = true;
    std::fprintf(stderr, "key %lld\n", static_cast<long long>(monotonicMicroseconds()));
  }
  const PickerCommand command =
      PickerKeys::command(*code, KeyTable::modifiers(static_cast<unsigned>(state)), m_selected,
                          shownCount());
  if (command.isPass()) return false;
  perform(command);
  return true;
}

void PickerView::perform(const PickerCommand& command) {
  if (const auto* chosen = command.asChoose()) {
    choose(chosen->index, chosen->makeRule, chosen->privateMode);
  } else if (const auto* move = command.asMove()) {
    const auto [selected, expand] =
        PickerKeys::move(m_selected, move->rows, shownCount(), hiddenCount());
    if (expand) {
      m_expanded = true;
      layoutRows();
    }
    m_selected = selected;
    showSelection();
  } else if (const auto* scope = command.asScope()) {
    // Left and right step the scope, or the duration once Tab has gone there.
    if (m_stepped) {
      const auto count = static_cast<std::int64_t>(m_stepped->get_model()->get_n_items());
      const std::int64_t next = std::clamp<std::int64_t>(
          static_cast<std::int64_t>(m_stepped->get_selected()) + scope->step, 0, count - 1);
      m_stepped->set_selected(static_cast<guint>(next));
    }
  } else if (command.isCancel()) {
    finish({});
    close();
  }
}

void PickerView::choose(std::int64_t index, bool makeRule, bool privateMode) {
  PickerProtocol::Answer answer;
  answer.choose = PickerCommand::Choose{index, makeRule, privateMode};
  if (makeRule && m_scopes) {
    answer.scope = m_input.scopes[m_scopes->get_selected()].id;
    if (patternSelected() && m_pattern) {
      // An expression that does not compile would make no rule: the window stays for a fix.
      const std::string pattern = m_pattern->get_text();
      if (!RuleAuthoring::isValidRegex(pattern)) {
        error_bell();
        m_pattern->grab_focus_without_selecting();
        return;
      }
      answer.pattern = pattern;
    }
    const guint duration = m_durations->get_selected();
    if (duration > 0 && duration <= m_input.durations.size()) {
      answer.duration = m_input.durations[duration - 1];
    }
  }
  finish(answer);
  close();
}

void PickerView::afterFirstPaint(GdkFrameClock* clock, gpointer self) {
  g_signal_handlers_disconnect_by_func(clock, reinterpret_cast<gpointer>(&afterFirstPaint), self);
  auto* view = static_cast<PickerView*>(self);
  if (!view->m_pendingIcons.empty()) {
    Glib::signal_idle().connect_once([view] { view->fillIcons(); });
  }
  if (!tracing()) return;
  std::fprintf(stderr, "shown %lld\n", static_cast<long long>(monotonicMicroseconds()));
  GtkNative* native = GTK_NATIVE(view->gobj());
  GdkSurface* surface = gtk_native_get_surface(native);
  if (surface && GDK_IS_X11_SURFACE(surface)) {
    std::fprintf(stderr, "window %lu\n", gdk_x11_surface_get_xid(surface));
  }
  if (GskRenderer* renderer = gtk_native_get_renderer(native)) {
    std::fprintf(stderr, "renderer %s\n", G_OBJECT_TYPE_NAME(renderer));
  }
  // Asked only now, so that asking never adds a probe to the start it reports on: where OpenGL
  // is switched off the answer is at hand, elsewhere the display has made its context already.
  GError* glError = nullptr;
  if (gdk_display_prepare_gl(gtk_widget_get_display(GTK_WIDGET(view->gobj())), &glError)) {
    std::fprintf(stderr, "gl on\n");
  } else {
    std::fprintf(stderr, "gl off: %s\n", glError ? glError->message : "");
    g_clear_error(&glError);
  }
  double offsetX = 0, offsetY = 0;
  gtk_native_get_surface_transform(native, &offsetX, &offsetY);
  for (std::size_t i = 0; i < view->m_rows.size(); ++i) {
    graphene_rect_t bounds;
    if (!view->m_rows[i]->get_parent() ||
        !gtk_widget_compute_bounds(GTK_WIDGET(view->m_rows[i]->gobj()), GTK_WIDGET(view->gobj()),
                                   &bounds)) {
      continue;
    }
    std::fprintf(stderr, "row %zu %d %d %d %d\n", i, static_cast<int>(bounds.origin.x + offsetX),
                 static_cast<int>(bounds.origin.y + offsetY), static_cast<int>(bounds.size.width),
                 static_cast<int>(bounds.size.height));
  }
  std::fprintf(stderr, "ready\n");
}

void PickerView::fillIcons() {
  for (auto& [image, browser] : m_pendingIcons) setBrowserIcon(*image, browser);
  m_pendingIcons.clear();
  // The whole window, not only the icons: what an icon draws beyond its own bounds (a shadow)
  // would otherwise be left out.
  queue_draw();
  if (!tracing()) return;
  if (GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(gobj()))) {
    g_signal_connect(clock, "after-paint", G_CALLBACK(&PickerView::afterIconsPaint), this);
  }
}

void PickerView::afterIconsPaint(GdkFrameClock* clock, gpointer self) {
  g_signal_handlers_disconnect_by_func(clock, reinterpret_cast<gpointer>(&afterIconsPaint), self);
  std::fprintf(stderr, "icons %lld\n", static_cast<long long>(monotonicMicroseconds()));
}

void PickerView::finish(const PickerProtocol::Answer& answer) {
  if (m_done) return;
  m_done = true;
  m_finished(answer);
}

// The work area (the monitor less the desktop's panels) of the monitor under the pointer, and
// the pointer; nothing where the program cannot know them (outside X11).
std::optional<PickerView::Screen> PickerView::screen() {
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(gobj()));
  if (!GDK_IS_X11_DISPLAY(display)) return std::nullopt;
  Display* xdisplay = gdk_x11_display_get_xdisplay(display);
  ::Window root = 0, child = 0;
  int windowX = 0, windowY = 0;
  unsigned mask = 0;
  Screen result;
  if (!XQueryPointer(xdisplay, DefaultRootWindow(xdisplay), &root, &child, &result.pointerX,
                     &result.pointerY, &windowX, &windowY, &mask)) {
    return std::nullopt;
  }
  result.area = {0, 0, DisplayWidth(xdisplay, DefaultScreen(xdisplay)),
                 DisplayHeight(xdisplay, DefaultScreen(xdisplay))};
  GListModel* monitors = gdk_display_get_monitors(display);
  for (guint i = 0; i < g_list_model_get_n_items(monitors); ++i) {
    auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(monitors, i));
    GdkRectangle geometry{};
    gdk_monitor_get_geometry(monitor, &geometry);
    const bool under = result.pointerX >= geometry.x &&
                       result.pointerX < geometry.x + geometry.width &&
                       result.pointerY >= geometry.y && result.pointerY < geometry.y + geometry.height;
    if (under) {
      GdkRectangle workArea = geometry;
      if (GDK_IS_X11_MONITOR(monitor)) gdk_x11_monitor_get_workarea(monitor, &workArea);
      result.area = workArea.width > 0 && workArea.height > 0 ? workArea : geometry;
    }
    g_object_unref(monitor);
    if (under) break;
  }
  return result;
}

// A tiling window manager floats a dialog and tiles a normal window. GTK 4 calls a window a
// dialog on X11 only when it is modal or transient for another of its own, which the picker
// never is, and has no call to say so otherwise; the property is set on the X window before it
// is mapped, where the window manager reads it. On Wayland the picker is a toplevel like any
// other: xdg-shell has no window type, and compositors float it by its app id
// ("linkferry-picker") when the user's rules say so.
void PickerView::markAsDialog() {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(gobj()));
  if (!surface || !GDK_IS_X11_SURFACE(surface)) return;
  GdkDisplay* display = gdk_surface_get_display(surface);
  Display* xdisplay = gdk_x11_display_get_xdisplay(display);
  const Atom type = gdk_x11_get_xatom_by_name_for_display(display, "_NET_WM_WINDOW_TYPE");
  const Atom dialog = gdk_x11_get_xatom_by_name_for_display(display, "_NET_WM_WINDOW_TYPE_DIALOG");
  XChangeProperty(xdisplay, gdk_x11_surface_get_xid(surface), type, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&dialog), 1);
}

namespace {

// The picker's top-left corner on the screen when `window` is a mapped picker window.
std::optional<std::pair<int, int>> pickerCorner(Display* xdisplay, ::Window window) {
  XClassHint hint{};
  if (!XGetClassHint(xdisplay, window, &hint)) return std::nullopt;
  const bool picker = hint.res_name && std::string_view(hint.res_name) == kProgramName;
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  XWindowAttributes attributes{};
  if (!picker || !XGetWindowAttributes(xdisplay, window, &attributes) ||
      attributes.map_state != IsViewable) {
    return std::nullopt;
  }
  int x = 0, y = 0;
  ::Window ignored = 0;
  if (!XTranslateCoordinates(xdisplay, window, DefaultRootWindow(xdisplay), 0, 0, &x, &y, &ignored)) {
    return std::nullopt;
  }
  return std::pair{x, y};
}

}  // namespace

// The top-left corners of the other pickers shown on this screen: X windows of the class
// "linkferry-picker" that are mapped (a warm window waiting out of sight is not). The window
// manager's list of the windows it manages (_NET_CLIENT_LIST) is read when there is one; without
// a window manager the top-level windows are the root's children. Looked up once per window.
const std::vector<std::pair<int, int>>& PickerView::otherPickers() {
  if (m_otherPickers) return *m_otherPickers;
  m_otherPickers.emplace();
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(gobj()));
  if (!surface || !GDK_IS_X11_SURFACE(surface)) return *m_otherPickers;
  GdkDisplay* display = gdk_surface_get_display(surface);
  Display* xdisplay = gdk_x11_display_get_xdisplay(display);
  const ::Window self = gdk_x11_surface_get_xid(surface);
  const ::Window root = DefaultRootWindow(xdisplay);

  // A window may go away while it is looked at: its error is expected, not fatal.
  gdk_x11_display_error_trap_push(display);
  std::vector<::Window> windows;
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const Atom clients = gdk_x11_get_xatom_by_name_for_display(display, "_NET_CLIENT_LIST");
  if (XGetWindowProperty(xdisplay, root, clients, 0, 4096, False, XA_WINDOW, &type, &format,
                         &count, &after, &data) == Success &&
      type == XA_WINDOW && format == 32 && data) {
    const auto* list = reinterpret_cast<const unsigned long*>(data);
    windows.assign(list, list + count);
  } else {
    ::Window rootReturn = 0, parentReturn = 0;
    ::Window* children = nullptr;
    unsigned childCount = 0;
    if (XQueryTree(xdisplay, root, &rootReturn, &parentReturn, &children, &childCount) && children) {
      windows.assign(children, children + childCount);
    }
    if (children) XFree(children);
  }
  if (data) XFree(data);
  for (const ::Window window : windows) {
    if (window == self) continue;
    if (std::optional<std::pair<int, int>> corner = pickerCorner(xdisplay, window)) {
      m_otherPickers->push_back(*corner);
    }
  }
  gdk_x11_display_error_trap_pop_ignored(display);
  return *m_otherPickers;
}

// X11 lets a program place its window: with pickerAtCursor the middle of the first row, the one
// Return opens, goes under the pointer, else the window is centred across the work area under the
// pointer and a third of the way down; either way it stays in that work area. Elsewhere the
// compositor places it. `anchor` is where the middle of the first row is in the window.
void PickerView::placeOnScreen(int width, int height, int anchorX, int anchorY) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(gobj()));
  const std::optional<Screen> found = screen();
  if (!surface || !found) return;
  const GdkRectangle& area = found->area;
  int x = area.x + (area.width - width) / 2;
  int y = area.y + (area.height - height) / 3;
  if (m_input.atCursor) {
    x = found->pointerX - anchorX;
    y = found->pointerY - anchorY;
  }
  const auto clamped = [&](int& left, int& top) {
    left = std::clamp(left, area.x, std::max(area.x, area.x + area.width - width));
    top = std::clamp(top, area.y, std::max(area.y, area.y + area.height - height));
  };
  clamped(x, y);
  // Several pickers at once (links clicked one after another) would cover one another exactly:
  // each further one steps down and to the right of a picker already there, the way windows
  // cascade, and starts again from the work area's corner where the steps leave it.
  const std::vector<std::pair<int, int>>& others = otherPickers();
  const auto near = [&](int left, int top) -> const std::pair<int, int>* {
    for (const std::pair<int, int>& corner : others) {
      if (std::abs(corner.first - left) < kCascadeStep && std::abs(corner.second - top) < kCascadeStep) {
        return &corner;
      }
    }
    return nullptr;
  };
  for (int step = 0; step < 16; ++step) {
    const std::pair<int, int>* corner = near(x, y);
    if (!corner) break;
    x = corner->first + kCascadeStep;
    y = corner->second + kCascadeStep;
    if (x + width > area.x + area.width || y + height > area.y + area.height) {
      x = area.x + (step + 1) * kCascadeStep / 4;
      y = area.y + (step + 1) * kCascadeStep / 4;
    }
    clamped(x, y);
  }
  Display* xdisplay = gdk_x11_display_get_xdisplay(gtk_widget_get_display(GTK_WIDGET(gobj())));
  XMoveWindow(xdisplay, gdk_x11_surface_get_xid(surface), x, y);
}

// Before the window is mapped its size is not settled (the default width, for one, is applied
// when it is shown), so it is placed on an estimate then and again once laid out, before its first
// frame is drawn. A window wider than the work area is narrowed to it, its long lines wrapping.
void PickerView::placeEstimated() {
  int minimum = 0, width = 0, height = 0, ignored = 0;
  measure(Gtk::Orientation::HORIZONTAL, -1, minimum, width, ignored, ignored);
  int defaultWidth = 0, defaultHeight = 0;
  get_default_size(defaultWidth, defaultHeight);
  width = std::max(width, defaultWidth);
  if (const std::optional<Screen> found = screen(); found && width > found->area.width) {
    width = std::max(minimum, found->area.width);
    set_default_size(width, defaultHeight);
  }
  measure(Gtk::Orientation::VERTICAL, width, minimum, height, ignored, ignored);
  placeOnScreen(width, height, width / 2, std::min(height, kFirstRowEstimate));
}

void PickerView::afterFirstLayout(GdkFrameClock* clock, gpointer self) {
  g_signal_handlers_disconnect_by_func(clock, reinterpret_cast<gpointer>(&afterFirstLayout), self);
  auto* view = static_cast<PickerView*>(self);
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(view->gobj()));
  if (!surface) return;
  const int width = gdk_surface_get_width(surface);
  const int height = gdk_surface_get_height(surface);
  double offsetX = 0, offsetY = 0;
  gtk_native_get_surface_transform(GTK_NATIVE(view->gobj()), &offsetX, &offsetY);
  graphene_rect_t first;
  if (view->m_rows.empty() || !gtk_widget_compute_bounds(GTK_WIDGET(view->m_rows.front()->gobj()),
                                                         GTK_WIDGET(view->gobj()), &first)) {
    graphene_rect_init(&first, 0, 0, static_cast<float>(width), 0);
  }
  view->placeOnScreen(
      width, height, static_cast<int>(std::lround(offsetX + first.origin.x + first.size.width / 2)),
      static_cast<int>(std::lround(offsetY + first.origin.y + first.size.height / 2)));
}

}  // namespace linkferry::picker
