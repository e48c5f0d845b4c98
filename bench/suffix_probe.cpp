// Prints how long this process's first registrable-domain lookup took, in nanoseconds: what a
// fresh `linkferry open` pays for the suffix list. Spawned by bench_safety.
#include <chrono>
#include <cstdio>

#include "safety/PublicSuffixList.h"

int main() {
  const auto start = std::chrono::steady_clock::now();
  const auto domain = linkferry::PublicSuffixList::shared().registrableDomain("news.bbc.co.uk");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%lld\n", static_cast<long long>(std::chrono::nanoseconds(elapsed).count()));
  return domain == "bbc.co.uk" ? 0 : 1;
}
