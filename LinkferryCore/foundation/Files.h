#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

// The only way persistent files are written, and the only way the user's and the browsers' files
// are read. Failures are std::system_error whose what() names the file: "cannot write /a/b.json:
// Permission denied", "cannot read /a/b.json: not a regular file".
namespace linkferry::Files {

inline constexpr std::uint64_t kMegabyte = 1024 * 1024;
// What a reader accepts unless it says otherwise: far above any settings, rules or browser
// index file, far below what would exhaust memory.
inline constexpr std::uint64_t kDefaultReadLimit = 16 * kMegabyte;

// A file that exists but is refused by `read`: not a regular file (code EINVAL), larger than the
// reader's limit (EFBIG), or a symbolic link that points to nothing (ENOENT). what() is
// "cannot read <path>: <problem>".
class ReadError : public std::system_error {
 public:
  ReadError(std::errc code, const std::filesystem::path& path, const std::string& problem);
  const char* what() const noexcept override { return m_message.c_str(); }

 private:
  std::string m_message;
};

// How long `writeAtomically` waits for the disk.
enum class Durability {
  // The new content and its name are on disk when the call returns (fsync of the file and of its
  // folder): for what the user wrote.
  synced,
  // After a crash or a power cut the file holds the old or the new content, but the newest
  // replace may be missing: for a file rewritten on every event, such as a log, where waiting
  // for the disk each time would cost far more than the write. The wait is skipped only where
  // the file system itself writes a file's data before the rename that replaces an existing file
  // with it becomes durable (ext4 in its default ordered mode, whose "auto_da_alloc" does exactly
  // that); a file that is new, or lives anywhere else, is synced as above.
  ordered,
};

// Writes `bytes` so that `path` holds either the old or the new content at every moment, even
// when the process is killed: the content goes to an unnamed file in the same folder (O_TMPFILE),
// is flushed to disk (see Durability) and only then named and renamed over `path`. Where the file
// system has no unnamed files, a named temporary ".<name>.tmp-<pid>-XXXXXX" is used; every save
// removes the temporaries of the same file that a dead writer left. Missing parent folders are
// created. A `path` that is a symbolic link is written through: its final target is replaced and
// the link stays. An existing file keeps its permissions and a new one gets 0644, unless `mode`
// is given: then the file has that mode whether it is new or not (0600 for a file that holds the
// user's browsing, so that one written earlier with wider permissions is narrowed too). On
// failure the old file is left as it was.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes,
                     Durability durability = Durability::synced,
                     std::optional<unsigned> mode = std::nullopt);
// The same for content given in pieces, written one after another without joining them first.
void writeAtomically(const std::filesystem::path& path, std::span<const std::string_view> pieces,
                     Durability durability = Durability::synced,
                     std::optional<unsigned> mode = std::nullopt);

// A file as `append` left it: which file (a replaced file is another inode) and its size.
struct AppendedFile {
  std::uint64_t device = 0, inode = 0, size = 0;
};

// Appends `bytes` to the file at `path` with one write, creating it (mode 0600, missing parent
// folders too) when there is none. A file longer than `from` bytes is first cut back to `from`:
// what lies beyond is the unfinished line of a writer that died, which the caller's reader
// ignores. A short write is cut back as well, so the file never ends in part of `bytes`. With
// Durability::ordered the call does not wait for the disk where the file system writes appended
// data before the size that exposes it (ext4 in its default ordered mode, as for
// writeAtomically): after a crash the file then ends after some earlier append, never in bytes
// that were not written; elsewhere, and with `synced`, the data and a new file's name are
// flushed. A symbolic link is not followed. Throws std::system_error ("cannot write <path>: ...").
AppendedFile append(const std::filesystem::path& path, std::string_view bytes, std::uint64_t from,
                    Durability durability = Durability::synced);

// The whole file, read without ever blocking on it: a FIFO, a device or a folder is refused as
// "not a regular file", a file above `limit` bytes as "larger than N MB" (checked before reading
// and again while reading, for a file that grows). Throws std::system_error ("cannot read
// <path>: <reason>"); ReadError for the refusals above.
std::string read(const std::filesystem::path& path, std::uint64_t limit = kDefaultReadLimit);
// As `read`, or nothing when no file exists at `path`. A symbolic link to a missing file is not
// "no file": it throws ReadError ("symbolic link to a missing file").
std::optional<std::string> readIfExists(const std::filesystem::path& path,
                                        std::uint64_t limit = kDefaultReadLimit);
// The end of a file that only grows between reads (a journal), from byte `from` on (or from its
// end, when it is shorter now), and which file that was: read as `readIfExists` reads, with
// `limit` on the whole file.
struct FileTail {
  std::string bytes;
  std::uint64_t device = 0, inode = 0;
  std::uint64_t size = 0;  // `from` (clamped) plus the bytes read
};
std::optional<FileTail> readTailIfExists(const std::filesystem::path& path, std::uint64_t from,
                                         std::uint64_t limit = kDefaultReadLimit);
// Whether `path` is a regular file this process may open for reading; never blocks.
bool isReadableRegularFile(const std::filesystem::path& path) noexcept;

// An exclusive advisory lock (flock) on "<path>.lock" beside `path`, created 0600 (with its
// folder) when missing and held until the lock is destroyed: writers of one file that each take
// it read, change and write the file one at a time. Throws std::system_error naming the lock
// file when it cannot be opened.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const std::filesystem::path& path);
  ~ExclusiveLock();
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  int m_fd = -1;
};

// The home folder: $HOME when set and absolute, else the user database entry's.
std::filesystem::path home();
// "~" and "~/..." expanded to `home`; other paths unchanged.
std::filesystem::path expandTilde(std::string_view path, const std::filesystem::path& home);

}  // namespace linkferry::Files
