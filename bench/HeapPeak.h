#pragma once

#include <cstdint>

// The heap a piece of code needs at its worst, for benchmarks that report memory. Linking
// HeapPeak.cpp into a program replaces glibc's malloc family with thin wrappers that keep a count
// of the bytes in use (malloc_usable_size of every live block, so glibc's rounding is included)
// and its high-water mark, across all threads. Everything allocates through them: operator new,
// SQLite, ICU, the C library itself.
//
// Typical use:
//   HeapPeak::startWindow();
//   work();
//   std::int64_t needed = HeapPeak::windowPeak();  // bytes above what was in use at the start
namespace linkferry::HeapPeak {

// Bytes in use now. Blocks allocated before the wrappers were in place are not counted, so only
// differences are meaningful.
std::int64_t inUse();

// Starts a window: the high-water mark is set to what is in use now.
void startWindow();

// The highest count of bytes in use since startWindow, minus the count at that moment.
std::int64_t windowPeak();

// Whether the wrappers are the program's allocator: false when something else interposes malloc
// first (a sanitizer's runtime, an LD_PRELOADed allocator), in which case the counts stay zero.
bool active();

}  // namespace linkferry::HeapPeak
