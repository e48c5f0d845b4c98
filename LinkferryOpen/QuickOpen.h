#pragma once

#include <optional>
#include <string>
#include <vector>

// `linkferry-open`: the program the desktop runs for a clicked link. It takes the arguments of
// `linkferry open` and, in the usual case (one link, a running service), hands the click to the
// service and prints the outcome itself; it loads nothing but the C library for that, so a click
// costs little more than starting any process. Every other case runs `linkferry open` (beside
// this program) with the same arguments: another data folder's service or none, several links,
// options it does not know, --help, a link the service refuses. Without a terminal, the service
// may show the picker in the window it keeps ready and answer with the user's choice applied;
// when it asks for the picker instead, `linkferry open --service-picker` takes over to show it.
namespace linkferry::QuickOpen {

// The arguments this program handles itself.
struct Arguments {
  std::string link;
  bool dryRun = false;
  bool pick = false;
  bool json = false;
  std::optional<std::string> sourceApp;
};

// The arguments after the program's name, when they are the case this program handles; nothing
// when `linkferry open` must take them. A word without a scheme that names an existing file is
// that file's `file:` link.
std::optional<Arguments> parse(const std::vector<std::string>& arguments);

// Runs the program; returns the exit status unless it replaced itself with `linkferry open`.
int run(int argc, char** argv);

}  // namespace linkferry::QuickOpen
