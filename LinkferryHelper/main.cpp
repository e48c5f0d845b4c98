// linkferry-helper: runs plans and handler changes for LinkFerry on request, through its Unix
// socket, and exits by itself when idle.
#include "LinuxFront.h"

int main(int argc, char** argv) {
  return linkferry::LinuxHelper::main(argc, argv);
}
