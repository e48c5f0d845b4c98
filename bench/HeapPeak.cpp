#include "HeapPeak.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

// glibc's own entry points behind the public names: the wrappers below forward to them. glibc
// documents replacing malloc, free, calloc, realloc and the aligned variants this way, and its
// internal calls go through the replacements too.
extern "C" {
void* __libc_malloc(std::size_t size);
void __libc_free(void* block);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* __libc_valloc(std::size_t size);
void* __libc_pvalloc(std::size_t size);
}

namespace linkferry::HeapPeak {
namespace {

constinit std::atomic<std::int64_t> g_inUse{0};
constinit std::atomic<std::int64_t> g_peak{0};
constinit std::atomic<std::int64_t> g_windowStart{0};

std::int64_t usable(void* block) {
  return block ? static_cast<std::int64_t>(malloc_usable_size(block)) : 0;
}

void counted(void* block) {
  if (!block) return;
  const std::int64_t now = g_inUse.fetch_add(usable(block), std::memory_order_relaxed) +
                           usable(block);
  std::int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void released(void* block) { g_inUse.fetch_sub(usable(block), std::memory_order_relaxed); }

// Sizes are taken before the call: after it the old block may belong to someone else.
void resized(std::size_t oldSize, void* moved) {
  g_inUse.fetch_sub(static_cast<std::int64_t>(oldSize), std::memory_order_relaxed);
  counted(moved);
}

}  // namespace

std::int64_t inUse() { return g_inUse.load(std::memory_order_relaxed); }

void startWindow() {
  const std::int64_t now = inUse();
  g_windowStart.store(now, std::memory_order_relaxed);
  g_peak.store(now, std::memory_order_relaxed);
}

std::int64_t windowPeak() {
  return g_peak.load(std::memory_order_relaxed) - g_windowStart.load(std::memory_order_relaxed);
}

bool active() {
  // Through a volatile pointer, so the compiler cannot pair the calls away.
  void* (*volatile allocate)(std::size_t) = std::malloc;
  const std::int64_t before = inUse();
  void* block = allocate(1 << 20);
  const bool seen = inUse() - before >= (1 << 20);
  std::free(block);
  return seen;
}

}  // namespace linkferry::HeapPeak

using linkferry::HeapPeak::counted;
using linkferry::HeapPeak::released;
using linkferry::HeapPeak::resized;

extern "C" {

void* malloc(std::size_t size) noexcept {
  void* block = __libc_malloc(size);
  counted(block);
  return block;
}

void free(void* block) noexcept {
  released(block);
  __libc_free(block);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
  void* block = __libc_calloc(count, size);
  counted(block);
  return block;
}

void* realloc(void* block, std::size_t size) noexcept {
  const std::size_t old = block ? malloc_usable_size(block) : 0;
  void* moved = __libc_realloc(block, size);
  // A failed realloc keeps the old block; realloc(block, 0) frees it and returns null.
  if (moved || size == 0) resized(old, moved);
  return moved;
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
  void* block = __libc_memalign(alignment, size);
  counted(block);
  return block;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  return memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* block = memalign(alignment, size);
  if (!block && size != 0) return ENOMEM;
  *result = block;
  return 0;
}

void* valloc(std::size_t size) noexcept {
  void* block = __libc_valloc(size);
  counted(block);
  return block;
}

void* pvalloc(std::size_t size) noexcept {
  void* block = __libc_pvalloc(size);
  counted(block);
  return block;
}

}  // extern "C"
