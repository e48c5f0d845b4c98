// Writes the files an installed LinkFerry puts in the desktop's shared folders:
//   GenerateDesktopFiles <bindir> <output folder>
// linkferry.desktop (the router's desktop entry), linkferry.socket and linkferry.service (the
// systemd user units), each for the programs in <bindir>. They come from the functions
// `linkferry install` writes the user's own copies with, so the two never disagree.
#include <exception>
#include <filesystem>
#include <iostream>

#include "DesktopIntegration.h"
#include "UserUnits.h"
#include "foundation/Files.h"

using namespace linkferry;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: GenerateDesktopFiles <bindir> <output folder>\n";
    return 1;
  }
  const std::filesystem::path bindir = argv[1];
  const std::filesystem::path output = argv[2];
  try {
    // The package installs linkferry-open with linkferry, so the entry runs it directly.
    Files::writeAtomically(
        output / DesktopIntegration::kDesktopFileName,
        DesktopIntegration::desktopEntryText({(bindir / "linkferry-open").string()},
                                             DesktopIntegration::kIconName));
    Files::writeAtomically(output / "linkferry.socket", UserUnits::socketUnitText());
    Files::writeAtomically(output / "linkferry.service",
                           UserUnits::serviceUnitText(bindir / "linkferry"));
  } catch (const std::exception& error) {
    std::cerr << "GenerateDesktopFiles: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
