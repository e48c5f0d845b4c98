#include "foundation/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <system_error>
#include <vector>

namespace linkferry::Files {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(int error, const std::string& verb, const fs::path& path) {
  throw std::system_error(error, std::generic_category(), "cannot " + verb + " " + path.string());
}

// Closes the descriptor and removes the named temporary file unless released.
struct TemporaryFile {
  int fd = -1;
  std::string path;
  ~TemporaryFile() {
    if (fd >= 0) ::close(fd);
    if (!path.empty()) ::unlink(path.c_str());
  }
};

struct Descriptor {
  int fd;
  ~Descriptor() { ::close(fd); }
};

// Writes the pieces one after another, up to IOV_MAX of them per system call.
void writeAll(int fd, std::span<const std::string_view> pieces, const fs::path& path) {
  std::size_t next = 0;    // the first piece not written whole
  std::size_t offset = 0;  // how much of it is written
  while (next < pieces.size()) {
    iovec batch[IOV_MAX];
    int count = 0;
    for (std::size_t i = next; i < pieces.size() && count < IOV_MAX; ++i) {
      const std::string_view piece = i == next ? pieces[i].substr(offset) : pieces[i];
      if (!piece.empty()) batch[count++] = iovec{const_cast<char*>(piece.data()), piece.size()};
    }
    if (count == 0) return;
    ssize_t written = ::writev(fd, batch, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      fail(errno, "write", path);
    }
    auto remaining = static_cast<std::size_t>(written);
    while (next < pieces.size() && remaining >= pieces[next].size() - offset) {
      remaining -= pieces[next].size() - offset;
      ++next;
      offset = 0;
    }
    offset += remaining;
  }
}

// Makes a new or renamed name in `folder` durable (best effort: the data is synced already).
void syncFolder(const fs::path& folder) {
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
}

// Whether the file system on `device` makes a file's data durable before a rename that replaces
// another file with it: ext4 does so ("auto_da_alloc") unless mounted "noauto_da_alloc" or
// "data=writeback". Such a mount also writes appended data before the size that exposes it
// (ordered data mode), which `append` relies on; "noauto_da_alloc" alone would not break that,
// but answering false for it only costs a wait. Read once per device from /proc/self/mountinfo;
// unknown is false.
bool writesDataBeforeReplacingRename(dev_t device) {
  static std::mutex mutex;
  static auto& known = *new std::map<dev_t, bool>();
  std::lock_guard guard(mutex);
  if (auto found = known.find(device); found != known.end()) return found->second;
  bool ordered = false;
  std::ifstream mounts("/proc/self/mountinfo");
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  for (std::string line; std::getline(mounts, line);) {
    // "36 35 98:0 /root /mountpoint options [optional fields] - type source superoptions"
    std::istringstream fields(line);
    std::string id, parent, numbers;
    fields >> id >> parent >> numbers;
    if (numbers != wanted) continue;
    std::string field;
    while (fields >> field && field != "-") {
    }
    std::string type, source, options;
    fields >> type >> source >> options;
    options = "," + options + ",";
    ordered = type == "ext4" && options.find(",noauto_da_alloc,") == std::string::npos &&
              options.find(",data=writeback,") == std::string::npos;
    break;
  }
  known.emplace(device, ordered);
  return ordered;
}

// The file a chain of symbolic links ends at (relative targets resolved against the link's
// folder), so that saving over a link managed elsewhere updates what it points to; `path` itself
// when it is no link. The end need not exist.
fs::path finalTarget(const fs::path& path) {
  fs::path current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    std::error_code error;
    fs::path target = fs::read_symlink(current, error);
    if (error) fail(error.value(), "write", path);
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  fail(ELOOP, "write", path);
}

// ".<name>.tmp-": every temporary of <name> starts so; the writer's process id follows.
std::string temporaryPrefix(const fs::path& target) {
  std::string prefix = ".";  // appended piecewise: GCC 12 warns falsely about operator+ at -O3
  prefix.append(target.filename().string()).append(".tmp-");
  return prefix;
}

// Removes the temporaries of `target` whose writer is gone: its process no longer exists and
// nobody holds the lock every writer takes on its temporary. A writer that was killed between
// naming its file and renaming it leaves one; without this it would stay forever.
void removeStaleTemporaries(const fs::path& folder, const fs::path& target) {
  const std::string prefix = temporaryPrefix(target);
  DIR* listing = ::opendir(folder.c_str());
  if (!listing) return;
  const int folderFd = ::dirfd(listing);
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name.substr(0, prefix.size()) != prefix) continue;
    const std::string_view rest = name.substr(prefix.size());
    long pid = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (error != std::errc() || end == rest.data() || pid <= 0 || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    const int fd = ::openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(folderFd, entry->d_name, 0);
    ::close(fd);
  }
  ::closedir(listing);
}

// A fresh name for a temporary of `target`, unique within this process; the caller retries on
// EEXIST (a dead process with the same id may have left one).
std::string temporaryName(const fs::path& folder, const fs::path& target) {
  static std::atomic<std::uint64_t> counter{0};
  std::string name = temporaryPrefix(target);
  name.append(std::to_string(::getpid())).append("-").append(std::to_string(++counter));
  return (folder / name).string();
}

// Gives the unnamed file `fd` a temporary name in `folder`. Linking an O_TMPFILE file by its
// descriptor needs /proc (or, without it, the privilege AT_EMPTY_PATH asks for).
bool nameUnnamedFile(int fd, const fs::path& folder, const fs::path& target, std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = temporaryName(folder, target);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
        (errno != EEXIST &&
         ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)) {
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

std::string sizeText(std::uint64_t bytes) {
  if (bytes % kMegabyte == 0) return std::to_string(bytes / kMegabyte) + " MB";
  if (bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

ReadError::ReadError(std::errc code, const fs::path& path, const std::string& problem)
    : std::system_error(std::make_error_code(code), problem),
      m_message("cannot read " + path.string() + ": " + problem) {}

void writeAtomically(const fs::path& path, std::string_view bytes, Durability durability,
                     std::optional<unsigned> mode) {
  writeAtomically(path, std::span<const std::string_view>(&bytes, 1), durability, mode);
}

void writeAtomically(const fs::path& requested, std::span<const std::string_view> pieces,
                     Durability durability, std::optional<unsigned> requestedMode) {
  const fs::path path = finalTarget(requested);
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) fail(error.value(), "create folder", folder);
  removeStaleTemporaries(folder, path);

  // A new file gets the usual permissions, an existing one keeps its own.
  struct stat existing {};
  mode_t mode = 0644;
  const bool replacing = ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  if (replacing) mode = existing.st_mode & 07777;
  if (requestedMode) mode = static_cast<mode_t>(*requestedMode & 07777);
  const bool synced = durability == Durability::synced || !replacing ||
                      !writesDataBeforeReplacingRename(existing.st_dev);

  TemporaryFile temporary;
  // An unnamed file vanishes with the process that writes it, whenever that is killed.
  temporary.fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  const bool unnamed = temporary.fd >= 0;
  for (int attempt = 0; !unnamed && temporary.fd < 0 && attempt < 100; ++attempt) {
    temporary.path = temporaryName(folder, path);
    temporary.fd =
        ::open(temporary.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (temporary.fd < 0) {
      const int saved = errno;
      temporary.path.clear();
      if (saved != EEXIST) fail(saved, "write", path);
    }
  }
  if (temporary.fd < 0) fail(EEXIST, "write", path);
  // Held until the rename: a named temporary that is locked belongs to a live writer.
  ::flock(temporary.fd, LOCK_EX);
  ::fchmod(temporary.fd, mode);

  writeAll(temporary.fd, pieces, path);
  if (synced && ::fsync(temporary.fd) != 0) fail(errno, "write", path);
  if (unnamed && !nameUnnamedFile(temporary.fd, folder, path, temporary.path)) {
    const int saved = errno;
    temporary.path.clear();
    fail(saved, "write", path);
  }
  // The name exists for the moment between here and the rename; a writer killed just then leaves
  // it to the next save's removeStaleTemporaries.
  if (::rename(temporary.path.c_str(), path.c_str()) != 0) fail(errno, "write", path);
  temporary.path.clear();
  const int closed = ::close(temporary.fd);
  temporary.fd = -1;
  if (closed != 0) fail(errno, "write", path);

  // Make the rename itself durable.
  if (synced) syncFolder(folder);
}

AppendedFile append(const fs::path& path, std::string_view bytes, std::uint64_t from,
                    Durability durability) {
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) fail(error.value(), "create folder", folder);

  bool created = false;
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                0600);
    created = fd >= 0;
  }
  if (fd < 0) fail(errno, "write", path);
  const Descriptor descriptor{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0) fail(errno, "write", path);
  if (!S_ISREG(status.st_mode)) fail(EINVAL, "write", path);
  auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > from) {
    if (::ftruncate(fd, static_cast<off_t>(from)) != 0) fail(errno, "write", path);
    size = from;
  }

  // One write: a reader holding the same lock sees all of the bytes or, after a crash, none.
  ssize_t written;
  do {
    written = ::write(fd, bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0 || static_cast<std::size_t>(written) != bytes.size()) {
    const int saved = written < 0 ? errno : ENOSPC;
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      // Nothing more to do: the reader ignores an unfinished last line.
    }
    fail(saved, "write", path);
  }
  const bool synced = durability == Durability::synced ||
                      !writesDataBeforeReplacingRename(status.st_dev);
  if (synced) {
    if (::fdatasync(fd) != 0) fail(errno, "write", path);
    if (created) syncFolder(folder);
  }
  return AppendedFile{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino), size + bytes.size()};
}

std::optional<FileTail> readTailIfExists(const fs::path& path, std::uint64_t from,
                                         std::uint64_t limit) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int saved = errno;
    if (saved != ENOENT) fail(saved, "read", path);
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      throw ReadError(std::errc::no_such_file_or_directory, path,
                      "symbolic link to a missing file");
    }
    return std::nullopt;
  }
  const Descriptor descriptor{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0) fail(errno, "read", path);
  if (!S_ISREG(status.st_mode)) {
    throw ReadError(std::errc::invalid_argument, path, "not a regular file");
  }
  const auto tooLarge = [&] {
    throw ReadError(std::errc::file_too_large, path, "larger than " + sizeText(limit));
  };
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > limit) tooLarge();
  from = std::min(from, size);
  if (from > 0 && ::lseek(fd, static_cast<off_t>(from), SEEK_SET) < 0) fail(errno, "read", path);

  FileTail tail{std::string(), static_cast<std::uint64_t>(status.st_dev),
                static_cast<std::uint64_t>(status.st_ino), from};
  std::string& content = tail.bytes;
  content.reserve(static_cast<std::size_t>(size - from));
  std::vector<char> buffer(64 * 1024);
  while (true) {
    // One byte beyond the limit tells a file that grew past it from one that ends there.
    const std::uint64_t room = limit - from - content.size();
    const std::uint64_t wanted = room >= buffer.size() ? buffer.size() : room + 1;
    const ssize_t count = ::read(fd, buffer.data(), static_cast<std::size_t>(wanted));
    if (count < 0) {
      if (errno == EINTR) continue;
      fail(errno, "read", path);
    }
    if (count == 0) break;
    content.append(buffer.data(), static_cast<std::size_t>(count));
    if (from + content.size() > limit) tooLarge();
  }
  tail.size = from + content.size();
  return tail;
}

std::optional<std::string> readIfExists(const fs::path& path, std::uint64_t limit) {
  std::optional<FileTail> tail = readTailIfExists(path, 0, limit);
  if (!tail) return std::nullopt;
  return std::move(tail->bytes);
}

std::string read(const fs::path& path, std::uint64_t limit) {
  std::optional<std::string> content = readIfExists(path, limit);
  if (!content) fail(ENOENT, "read", path);
  return std::move(*content);
}

bool isReadableRegularFile(const fs::path& path) noexcept {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  const Descriptor descriptor{fd};
  struct stat status {};
  return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
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

ExclusiveLock::ExclusiveLock(const std::filesystem::path& path) {
  const fs::path lock = path.string() + ".lock";
  std::error_code ignored;  // a folder that cannot be made shows in the open below
  fs::create_directories(lock.parent_path(), ignored);
  m_fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (m_fd < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot open " + lock.string());
  }
  while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

ExclusiveLock::~ExclusiveLock() {
  ::close(m_fd);  // closing releases the lock
}

}  // namespace linkferry::Files
