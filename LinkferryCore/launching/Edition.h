#pragma once

#include <filesystem>

// Facts about the edition of the product this program belongs to.
namespace linkferry::Edition {

// True only for the sandboxed App Store edition of the main application; never in this tree,
// which builds the helper and the Linux programs.
inline constexpr bool isAppStore = false;

// The user's real home folder: the home field of the current user's account record (the user
// database entry of getuid()), because inside a sandbox the environment points at a container
// instead. When the record or its home field is missing: $HOME when set and not empty; failing
// that, the current folder. Never fails and never throws.
std::filesystem::path realHome() noexcept;

}  // namespace linkferry::Edition
