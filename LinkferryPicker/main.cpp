// `linkferry-picker`: reads one picker request (JSON, see PickerProtocol::Input) on standard input,
// shows it in a window and writes the user's answer (PickerProtocol::Answer) as one line of JSON
// on standard output. Exit status 0 with an answer (a choice or a cancel), 1 when the request
// cannot be read or has nothing to choose from, 2 when no window can be shown.
#include <gtkmm.h>
#include <gtkmm/init.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "PickerProtocol.h"
#include "PickerView.h"
#include "Style.h"

int main() {
  using namespace linkferry;
  std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  std::optional<PickerProtocol::Input> input;
  try {
    input = PickerProtocol::Input::parse(text, "standard input");
  } catch (const std::exception& error) {
    std::cerr << "linkferry-picker: " << error.what() << '\n';
    return 1;
  }
  // A small window shown once for a moment draws sooner in software than through OpenGL, whose
  // context and shaders cost more at start than the whole window takes to draw. GSK_RENDERER set
  // by the user still wins.
  g_setenv("GSK_RENDERER", "cairo", FALSE);
  if (!gtk_init_check()) {
    std::cerr << "linkferry-picker: cannot open a display\n";
    return 2;
  }
  Gtk::init_gtkmm_internals();
  picker::Style::apply();

  bool done = false;
  auto* view = new picker::PickerView(std::move(*input), [&done](const PickerProtocol::Answer& answer) {
    std::cout << Json::encodeCompact(answer.toJson()) << std::endl;
    done = true;
  });
  view->present();
  while (!done) g_main_context_iteration(nullptr, TRUE);
  // The answer is out; the process ends without tearing the window down.
  std::_Exit(0);
}
