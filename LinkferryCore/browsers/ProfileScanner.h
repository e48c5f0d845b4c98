#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "browsers/BrowserDefinition.h"
#include "browsers/BrowserProfile.h"
#include "browsers/FirefoxContainer.h"
#include "foundation/Json.h"

// Reads the profiles and containers a browser keeps in its own data folder. Everything here is
// best effort: a missing, unreadable or malformed file gives fewer or no results, never an error
// or an exception. Safe to call from any thread.
namespace linkferry::ProfileScanner {

// Chromium's profiles, from "Local State" (`profile.info_cache`) in the user data folder and
// each profile's "Preferences": "Default" first, then "Profile N" by N, then the rest by name.
// Keys that cannot be a folder name of the data folder ("", ".", "..", anything with "/") are
// left out.
std::vector<BrowserProfile> chromium(const std::filesystem::path& userDataDir);

// Firefox's profiles from "profiles.ini" in the profiles root, in file order, each with its
// containers. A profile's id and name are its `Name`.
std::vector<BrowserProfile> firefox(const std::filesystem::path& dataDir);

// The folder of the profile Firefox starts when no profile is named: the default of the
// installation when profiles.ini has exactly one "[Install…]" section, else the profile marked
// "Default=1". Nothing when profiles.ini cannot be read or names none.
std::optional<std::filesystem::path> firefoxDefaultProfile(const std::filesystem::path& dataDir);

// The containers of a Firefox profile from its "containers.json", in file order; private
// (internal) identities are left out.
std::vector<FirefoxContainer> containers(const std::filesystem::path& profileDir);

// `primary` (when given) followed by the e-mails of `account_info` in the profile's
// "Preferences" that contain "@", without repeats compared regardless of letter case.
std::vector<std::string> googleAccounts(const std::filesystem::path& profileDir,
                                        const std::optional<std::string>& primary);

// The profile picture: the file named by `gaia_picture_file_name` of the profile's info object,
// else "Google Profile Picture.png", whichever is a readable file in the profile folder first.
// Names holding "/" are never followed.
std::optional<std::string> chromiumPicture(const std::filesystem::path& profileDir,
                                           const JsonValue* info);

// True only when the browser's index file ("Local State" for Chromium, "profiles.ini" for
// Firefox) is in its data folder but may not be read (permission denied), so its profiles are
// unknown rather than absent. A data folder that may not even be searched counts as blocked.
// Every other case, including an ordinary missing file, is false.
bool isDataBlocked(const BrowserDefinition& definition);

}  // namespace linkferry::ProfileScanner
