#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "foundation/Json.h"

namespace linkferry {

// Which build of LinkFerry a process runs: the release version, the program's path and its build
// id. A client and the service it talks to compare these, so that a service left running by
// another build or version (an upgrade, a rebuilt build folder) is replaced instead of used.
//
// The build id is the ELF GNU build-id note the linker writes (hexadecimal); a program without
// one is told apart by its file's size and modification time ("<bytes>-<nanoseconds>").
struct ProgramIdentity {
  std::string version;
  std::string path;
  std::string buildId;

  bool operator==(const ProgramIdentity&) const = default;

  // The running program: its build id read from its own loaded program headers, so it stays
  // that of the code running even after the file was replaced (the path then loses the kernel's
  // " (deleted)"). Computed once; never fails (an unreadable part is empty).
  static const ProgramIdentity& current();
  // The program file at `path` (made canonical), as it would be when started: its build id read
  // from the file's note segments, the version of this build (a program beside this one is of
  // the same release). The build id is empty when the file cannot be read.
  static ProgramIdentity ofProgram(const std::filesystem::path& path);

  // The keys a "status" answer carries: "version", "program", "buildId".
  void addTo(JsonValue& object) const;
  // The identity in a "status" answer; nothing when it carries none (a service older than these
  // keys) or a key is not a string.
  static std::optional<ProgramIdentity> from(const JsonValue& object);

  // "linkferry 0.1.0 at /usr/bin/linkferry (build 0123456789ab)", for messages.
  std::string description() const;
};

}  // namespace linkferry
