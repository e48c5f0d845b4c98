#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The command line of a running browser, so that a browser instance started with its own user
// data folder can be told apart from the default one.
namespace linkferry::ProcessInspector {

// The arguments of process `pid`, the program name first; nothing when the process does not
// exist, cannot be inspected, or has no command line (a kernel thread, a zombie). On Linux they
// come from /proc/<pid>/cmdline. Invalid UTF-8 is repaired. Never throws.
std::optional<std::vector<std::string>> arguments(int pid);

// The argument area returned by macOS's KERN_PROCARGS2: a 32-bit argument count in host byte
// order, the executable path, NUL padding, then NUL-terminated arguments. Nothing when the buffer
// is shorter than the count or holds fewer arguments than it announces.
std::optional<std::vector<std::string>> parseProcArgs2(std::string_view bytes);

// The NUL-separated arguments of /proc/<pid>/cmdline; nothing for empty contents.
std::optional<std::vector<std::string>> parseProcCmdline(std::string_view bytes);

// The folder given with "--user-data-dir=PATH" or "--user-data-dir PATH", whichever comes first,
// passed through `expand`; nothing when there is none (or the flag is the last argument).
std::optional<std::string> userDataDir(const std::vector<std::string>& arguments);

// The profile a browser's command line names, the first such argument deciding:
// - `folder`: Firefox's "-profile PATH" (also "--profile", "=PATH"), passed through `expand`;
// - `name`: Firefox's "-P NAME" (also "--P", "-p", "=NAME"), or Chromium's
//   "--profile-directory=NAME" (also as two arguments), which names the profile's folder.
// Firefox reads its options without regard to case. A flag without a value (the last argument,
// or "-P" followed by another option, which opens Firefox's profile manager) names nothing.
struct ProfileArgument {
  std::optional<std::string> folder;
  std::optional<std::string> name;
  bool operator==(const ProfileArgument&) const = default;
};
ProfileArgument profileArgument(const std::vector<std::string>& arguments);

// The path with a leading "~" expanded to the home folder, then standardized: "." and ".."
// components and repeated or trailing "/" removed.
std::string expand(std::string_view path);

}  // namespace linkferry::ProcessInspector
