#include "ProgramIdentity.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#ifndef LINKFERRY_VERSION
#error "LINKFERRY_VERSION must name the release (CMake's project version)"
#endif

namespace linkferry {

namespace {

namespace fs = std::filesystem;

// A note segment larger than this is not a program's ordinary notes; it is not read.
constexpr std::size_t kMostNoteBytes = 64 * 1024;

std::size_t padded(std::size_t size, std::size_t alignment) {
  return (size + alignment - 1) / alignment * alignment;
}

// The GNU build-id in a note segment's bytes (ELF gABI note layout: header, name and description,
// each padded to the segment's alignment, 4 or 8), in hexadecimal; empty when there is none.
std::string buildIdInNotes(const unsigned char* notes, std::size_t size, std::size_t alignment) {
  alignment = alignment == 8 ? 8 : 4;
  std::size_t offset = 0;
  while (offset + sizeof(ElfW(Nhdr)) <= size) {
    ElfW(Nhdr) header;
    std::memcpy(&header, notes + offset, sizeof(header));
    const std::size_t name = offset + sizeof(header);
    const std::size_t description = name + padded(header.n_namesz, alignment);
    const std::size_t next = description + padded(header.n_descsz, alignment);
    if (description < name || next < description || description + header.n_descsz > size) break;
    if (header.n_type == NT_GNU_BUILD_ID && header.n_namesz == 4 &&
        std::memcmp(notes + name, "GNU", 4) == 0) {
      static constexpr char kDigits[] = "0123456789abcdef";
      std::string hex;
      for (std::size_t i = 0; i < header.n_descsz; ++i) {
        const unsigned char byte = notes[description + i];
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xf];
      }
      return hex;
    }
    offset = next;
  }
  return {};
}

// What tells a program without a build id apart: its file's size and modification time.
std::string fileStamp(const char* path) {
  struct stat status {};
  if (::stat(path, &status) != 0) return {};
  const long long nanoseconds =
      static_cast<long long>(status.st_mtim.tv_sec) * 1'000'000'000LL + status.st_mtim.tv_nsec;
  return std::to_string(status.st_size) + "-" + std::to_string(nanoseconds);
}

int mainProgramNotes(dl_phdr_info* info, std::size_t, void* data) {
  auto& found = *static_cast<std::string*>(data);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum && found.empty(); ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_NOTE || header.p_memsz > kMostNoteBytes) continue;
    found = buildIdInNotes(reinterpret_cast<const unsigned char*>(info->dlpi_addr + header.p_vaddr),
                           header.p_memsz, header.p_align);
  }
  return 1;  // the first object is the program itself; the libraries are not asked
}

// A program's start, read at once: the ELF header, the program headers and the notes sit in the
// first few hundred bytes of what our linkers write.
constexpr std::size_t kHeadBytes = 4096;

// `size` bytes at `offset` of the file, from `head` when they lie within it.
bool readAt(int descriptor, const std::string& head, void* into, std::size_t size,
            std::uint64_t offset) {
  if (offset <= head.size() && size <= head.size() - offset) {
    std::memcpy(into, head.data() + offset, size);
    return true;
  }
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(descriptor, static_cast<char*>(into) + done, size - done,
                                static_cast<off_t>(offset + done));
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// The GNU build-id of the ELF program of this machine's class in `path`; empty for anything else.
std::string buildIdOfFile(const fs::path& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return {};
  std::string head(kHeadBytes, '\0');
  const ssize_t got = ::pread(descriptor, head.data(), head.size(), 0);
  head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  std::string found;
  ElfW(Ehdr) header;
  if (readAt(descriptor, head, &header, sizeof(header), 0) &&
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
      header.e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) &&
      header.e_phentsize == sizeof(ElfW(Phdr))) {
    for (ElfW(Half) i = 0; i < header.e_phnum && found.empty(); ++i) {
      ElfW(Phdr) segment;
      if (!readAt(descriptor, head, &segment, sizeof(segment),
                  header.e_phoff + std::uint64_t{i} * sizeof(segment))) {
        break;
      }
      if (segment.p_type != PT_NOTE || segment.p_filesz > kMostNoteBytes) continue;
      std::vector<unsigned char> notes(segment.p_filesz);
      if (!readAt(descriptor, head, notes.data(), notes.size(), segment.p_offset)) break;
      found = buildIdInNotes(notes.data(), notes.size(), segment.p_align);
    }
  }
  ::close(descriptor);
  return found;
}

// The kernel's name for a program whose file was replaced or removed while it runs.
std::string withoutDeleted(std::string path) {
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
  return path;
}

}  // namespace

const ProgramIdentity& ProgramIdentity::current() {
  static const ProgramIdentity& identity = *new ProgramIdentity([] {
    ProgramIdentity self;
    self.version = LINKFERRY_VERSION;
    std::error_code error;
    self.path = withoutDeleted(fs::read_symlink("/proc/self/exe", error).string());
    dl_iterate_phdr(mainProgramNotes, &self.buildId);
    // /proc/self/exe is the running file even when its path now names another.
    if (self.buildId.empty()) self.buildId = fileStamp("/proc/self/exe");
    return self;
  }());
  return identity;
}

ProgramIdentity ProgramIdentity::ofProgram(const fs::path& path) {
  ProgramIdentity program;
  program.version = LINKFERRY_VERSION;
  std::error_code error;
  const fs::path canonical = fs::canonical(path, error);
  program.path = (error ? path : canonical).string();
  program.buildId = buildIdOfFile(program.path);
  if (program.buildId.empty()) program.buildId = fileStamp(program.path.c_str());
  return program;
}

void ProgramIdentity::addTo(JsonValue& object) const {
  object["version"] = version;
  object["program"] = path;
  object["buildId"] = buildId;
}

std::optional<ProgramIdentity> ProgramIdentity::from(const JsonValue& object) {
  if (!object.is_object()) return std::nullopt;
  ProgramIdentity identity;
  for (auto [key, field] :
       {std::pair{"version", &identity.version}, std::pair{"program", &identity.path},
        std::pair{"buildId", &identity.buildId}}) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    *field = found->get<std::string>();
  }
  return identity;
}

std::string ProgramIdentity::description() const {
  return "linkferry " + version + " at " + path + " (build " + buildId.substr(0, 12) + ")";
}

}  // namespace linkferry
