#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "signals/SignalIndex.h"

namespace linkferry {

// A signal index made the first time a decision asks for it, so that a process that routes one
// link reads the browsers' databases only when a stage needs their signals (a link a rule
// decides never does). Built once, by the first caller; every other caller, on any thread, waits
// for that build and shares its index.
class DeferredIndex {
 public:
  using Build = std::function<SignalIndex()>;

  // An index that is ready: `get` returns it (an empty one for null).
  explicit DeferredIndex(std::shared_ptr<const SignalIndex> index);
  // An index `build` makes at the first `get`. A build that throws gives the empty index.
  explicit DeferredIndex(Build build);

  // The index, built now when it is not yet.
  std::shared_ptr<const SignalIndex> get() const;
  // Whether `get` returns without building.
  bool isBuilt() const;

 private:
  mutable std::mutex m_mutex;
  mutable std::shared_ptr<const SignalIndex> m_index;
  mutable Build m_build;
};

}  // namespace linkferry
