// The helper request path: a realistic plan (a Chromium profile launch with its fallback)
// encoded into its helper URL and decoded back, as the application and the helper do per link.
#include <benchmark/benchmark.h>

#include "foundation/URL.h"
#include "launching/HelperProtocol.h"
#include "launching/LaunchPlan.h"

namespace {

using linkferry::LaunchPlan;
namespace HelperProtocol = linkferry::HelperProtocol;

LaunchPlan realisticPlan() {
  const std::string link =
      "https://www.example.com/products/shoes/running?utm_source=newsletter&utm_medium=email"
      "&id=12345&color=blue#reviews";
  LaunchPlan fallback("/usr/bin/open", {"-b", "com.google.Chrome", link}, {});
  return LaunchPlan("/usr/bin/open",
                    {"-g", "-na", "/Applications/Google Chrome.app", "--args",
                     "--profile-directory=Profile 3", "--new-window", link},
                    {}, {fallback}, "opened without its profile");
}

void helperURLEncode(benchmark::State& state) {
  const LaunchPlan plan = realisticPlan();
  for (auto _ : state) {
    auto url = HelperProtocol::url(plan);
    benchmark::DoNotOptimize(url);
  }
}
BENCHMARK(helperURLEncode);

void helperURLDecode(benchmark::State& state) {
  // From the text, as the helper receives it.
  const std::string text = HelperProtocol::url(realisticPlan()).absoluteString();
  for (auto _ : state) {
    auto plan = HelperProtocol::plan(*linkferry::URL::parse(text));
    benchmark::DoNotOptimize(plan);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(helperURLDecode);

void helperURLRoundTrip(benchmark::State& state) {
  const LaunchPlan plan = realisticPlan();
  for (auto _ : state) {
    auto text = HelperProtocol::url(plan).absoluteString();
    auto decoded = HelperProtocol::plan(*linkferry::URL::parse(text));
    if (!decoded || *decoded != plan) state.SkipWithError("round trip changed the plan");
    benchmark::DoNotOptimize(decoded);
  }
}
BENCHMARK(helperURLRoundTrip);

}  // namespace
