#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The only way persistent files are written, and the usual ways they are read.
// Failures are std::system_error whose what() names the file: "cannot write /a/b.json: Permission
// denied".
namespace linkferry::Files {

// Writes `bytes` to a temporary file in the same folder, flushes it to disk and renames it over
// `path`, creating missing parent folders first. Either the old or the new content is on disk at
// every moment; on failure the old file is left as it was and the temporary file removed.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes);

// The whole file. Throws std::system_error ("cannot read <path>: <reason>").
std::string read(const std::filesystem::path& path);
// The whole file, or nothing when it does not exist; other failures throw as `read`.
std::optional<std::string> readIfExists(const std::filesystem::path& path);

// The home folder: $HOME when set and absolute, else the user database entry's.
std::filesystem::path home();
// "~" and "~/..." expanded to `home`; other paths unchanged.
std::filesystem::path expandTilde(std::string_view path, const std::filesystem::path& home);

}  // namespace linkferry::Files
