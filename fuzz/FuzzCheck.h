#pragma once
// FUZZ_CHECK(condition): what a fuzz target asserts beyond "no crash". A failed check names the
// target's file and the condition and aborts, so libFuzzer keeps the input as a finding.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                               \
  do {                                                                      \
    if (!(condition)) {                                                     \
      std::fprintf(stderr, "%s: check failed: %s\n", __FILE__, #condition); \
      std::abort();                                                         \
    }                                                                       \
  } while (false)
