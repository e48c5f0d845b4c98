#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "browsers/BrowserTarget.h"
#include "routing/Reason.h"

namespace linkferry {

// One weighted suggestion of a decision stage. Two candidates for the same target with different
// weights are different values; adding up the weights of one target is the pipeline's job.
struct Candidate {
  BrowserTarget target;
  // Higher is better.
  double weight = 0;
  // In the order the stages gave them.
  std::vector<Reason> reasons;

  bool operator==(const Candidate&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::Candidate> {
  std::size_t operator()(const linkferry::Candidate& candidate) const noexcept {
    std::size_t hash = std::hash<linkferry::BrowserTarget>()(candidate.target);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(std::hash<double>()(candidate.weight));
    for (const auto& reason : candidate.reasons) mix(std::hash<linkferry::Reason>()(reason));
    return hash;
  }
};
