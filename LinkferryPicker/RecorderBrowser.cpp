// A stand-in browser for measuring a click: appends "<CLOCK_MONOTONIC microseconds> <link>" to
// the file named by PICKER_RECORDER_FILE as the first thing it does, then exits 0 (a browser
// that handed the link to its running instance).
#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const char* path = std::getenv("PICKER_RECORDER_FILE");
  if (!path) return 0;
  std::FILE* file = std::fopen(path, "a");
  if (!file) return 0;
  std::fprintf(file, "%lld %s\n", static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000,
               argc > 1 ? argv[argc - 1] : "");
  std::fclose(file);
  return 0;
}
