#include "QuickOpen.h"

int main(int argc, char** argv) { return linkferry::QuickOpen::run(argc, argv); }
