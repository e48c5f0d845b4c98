#include "foundation/Files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace linkferry::Files {
namespace {

[[noreturn]] void fail(int error, const std::string& verb, const std::filesystem::path& path) {
  throw std::system_error(error, std::generic_category(), "cannot " + verb + " " + path.string());
}

// Closes the descriptor and removes the temporary file unless released.
struct TemporaryFile {
  int fd = -1;
  std::string path;
  ~TemporaryFile() {
    if (fd >= 0) ::close(fd);
    if (!path.empty()) ::unlink(path.c_str());
  }
};

void writeAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      fail(errno, "write", path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void writeAtomically(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) fail(error.value(), "create folder", folder);

  TemporaryFile temporary;
  std::string name = ".";  // appended piecewise: GCC 12 warns falsely about operator+ at -O3
  name.append(path.filename().string()).append(".XXXXXX");
  temporary.path = (folder / name).string();
  temporary.fd = ::mkstemp(temporary.path.data());
  if (temporary.fd < 0) {
    int saved = errno;
    temporary.path.clear();
    fail(saved, "write", path);
  }
  // A new file gets the usual permissions, an existing one keeps its own.
  struct stat existing {};
  mode_t mode = 0644;
  if (::stat(path.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
  ::fchmod(temporary.fd, mode);

  writeAll(temporary.fd, bytes, path);
  if (::fsync(temporary.fd) != 0) fail(errno, "write", path);
  if (::close(temporary.fd) != 0) {
    temporary.fd = -1;
    fail(errno, "write", path);
  }
  temporary.fd = -1;
  if (::rename(temporary.path.c_str(), path.c_str()) != 0) fail(errno, "write", path);
  temporary.path.clear();

  // Make the rename itself durable.
  int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
}

std::optional<std::string> readIfExists(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    fail(errno, "read", path);
  }
  std::string content;
  std::vector<char> buffer(64 * 1024);
  while (true) {
    ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      fail(saved, "read", path);
    }
    if (count == 0) break;
    content.append(buffer.data(), static_cast<std::size_t>(count));
  }
  ::close(fd);
  return content;
}

std::string read(const std::filesystem::path& path) {
  std::optional<std::string> content = readIfExists(path);
  if (!content) fail(ENOENT, "read", path);
  return std::move(*content);
}

std::filesystem::path home() {
  if (const char* value = std::getenv("HOME"); value && value[0] == '/') return value;
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_dir && result->pw_dir[0] == '/') {
    return result->pw_dir;
  }
  return "/";
}

std::filesystem::path expandTilde(std::string_view path, const std::filesystem::path& home) {
  if (path == "~") return home;
  if (path.size() >= 2 && path[0] == '~' && path[1] == '/') return home / path.substr(2);
  return std::filesystem::path(path);
}

}  // namespace linkferry::Files
