// `linkferry-picker`: reads one picker request (JSON, see PickerProtocol::Input) on standard input,
// shows it in a window and writes the user's answer (PickerProtocol::Answer) as one line of JSON
// on standard output. Exit status 0 with an answer (a choice or a cancel), 1 when the request
// cannot be read or has nothing to choose from, 2 when no window can be shown.
// `linkferry-picker --warm`: the window the service keeps ready (WarmWindow); the request comes
// after GTK has started.
#include <fcntl.h>
#include <unistd.h>

#include <gtkmm.h>
#include <gtkmm/init.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "PickerProtocol.h"
#include "PickerView.h"
#include "Rendering.h"
#include "Style.h"
#include "WarmWindow.h"

int main(int argc, char** argv) {
  using namespace linkferry;
  const bool warm = argc == 2 && std::string_view(argv[1]) == "--warm";
  if (argc > 1 && !warm) {
    std::cerr << "usage: linkferry-picker [--warm] < request.json\n";
    return 1;
  }
  // LINKFERRY_PICKER_TRACE naming a file (an absolute path) sends the trace, with everything else
  // written to standard error, there: `linkferry` keeps the window's standard error until it
  // ends, so a measurement of a whole click finds the trace in the file as it is written.
  if (const char* trace = std::getenv("LINKFERRY_PICKER_TRACE"); trace && trace[0] == '/') {
    const int file = ::open(trace, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (file >= 0) {
      ::dup2(file, STDERR_FILENO);
      ::close(file);
    }
  }
  std::optional<PickerProtocol::Input> input;
  if (!warm) {
    std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    try {
      input = PickerProtocol::Input::parse(text, "standard input");
    } catch (const std::exception& error) {
      std::cerr << "linkferry-picker: " << error.what() << '\n';
      return 1;
    }
  }
  picker::Rendering::chooseSoftware();
  // Whatever the file is called: window managers and compositors know the window by it.
  g_set_prgname(picker::kProgramName);
  if (!gtk_init_check()) {
    std::cerr << "linkferry-picker: cannot open a display\n";
    return 2;
  }
  Gtk::init_gtkmm_internals();
  picker::Style::apply();
  if (warm) std::_Exit(picker::WarmWindow::run());

  bool done = false;
  auto* view =
      new picker::PickerView(std::move(*input), [&done](const PickerProtocol::Answer& answer) {
        std::cout << Json::encodeCompact(answer.toJson()) << std::endl;
        done = true;
      });
  view->present();
  while (!done) g_main_context_iteration(nullptr, TRUE);
  // The answer is out; the process ends without tearing the window down.
  std::_Exit(0);
}
