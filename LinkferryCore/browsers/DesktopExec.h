#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The `Exec` key of a desktop entry (as the freedesktop.org desktop entry rules define it).
namespace linkferry::DesktopExec {

// The command split into arguments. Outside quotes, spaces and tabs separate arguments; a double
// quote opens a quoted part, inside which a backslash takes the next character literally and a
// double quote closes it (an empty quoted part is still an argument). Arguments that are exactly
// a field code ("%u", "%U", "%f", ...) or a flatpak forwarding marker ("@@", "@@u", "@@f",
// "--file-forwarding") are dropped, and "%%" becomes "%" in the rest. A field code inside a
// longer argument stays as written. A quote left open makes the whole command invalid: the
// result is then empty, like that of an empty command.
std::vector<std::string> arguments(std::string_view exec);

// Decides whether a path names an executable file.
using ExecutablePredicate = std::function<bool(const std::string& path)>;

// The default program search path when the caller supplies none.
inline constexpr const char* kDefaultSearchPath = "/usr/local/bin:/usr/bin:/bin";

// An absolute `program` unchanged; otherwise the first "<folder>/<program>" of the non-empty
// folders of `searchPath` (or of kDefaultSearchPath when absent) for which `isExecutable` holds;
// when none does, `program` unchanged.
std::string resolve(const std::string& program, const std::optional<std::string>& searchPath,
                    const ExecutablePredicate& isExecutable);

}  // namespace linkferry::DesktopExec
