// An empty GTK 4 window that reports, like the picker with LINKFERRY_PICKER_TRACE set, when its
// first frame is drawn ("shown") and when it receives its first key press ("key"), then quits:
// the baseline the picker's start-up is measured against.
#include <gtk/gtk.h>

#include <cstdio>
#include <ctime>

namespace {

long long monotonicMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

bool done = false;

void afterPaint(GdkFrameClock* clock, gpointer) {
  std::fprintf(stderr, "shown %lld\n", monotonicMicroseconds());
  g_signal_handlers_disconnect_by_func(clock, reinterpret_cast<gpointer>(&afterPaint), nullptr);
}

void mapped(GtkWidget* widget, gpointer) {
  g_signal_connect(gtk_widget_get_frame_clock(widget), "after-paint", G_CALLBACK(afterPaint), nullptr);
}

gboolean keyPressed(GtkEventControllerKey*, guint, guint, GdkModifierType, gpointer) {
  std::fprintf(stderr, "key %lld\n", monotonicMicroseconds());
  std::puts("{\"cancel\":true}");
  std::fflush(stdout);
  done = true;
  return TRUE;
}

}  // namespace

int main() {
  if (!gtk_init_check()) return 2;
  GtkWidget* window = gtk_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window), 460, 300);
  GtkEventController* keys = gtk_event_controller_key_new();
  g_signal_connect(keys, "key-pressed", G_CALLBACK(keyPressed), nullptr);
  gtk_widget_add_controller(window, keys);
  g_signal_connect(window, "map", G_CALLBACK(mapped), nullptr);
  gtk_window_present(GTK_WINDOW(window));
  while (!done) g_main_context_iteration(nullptr, TRUE);
  return 0;
}
