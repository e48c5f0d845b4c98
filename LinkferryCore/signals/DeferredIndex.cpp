#include "signals/DeferredIndex.h"

#include <exception>
#include <utility>

namespace linkferry {

DeferredIndex::DeferredIndex(std::shared_ptr<const SignalIndex> index)
    : m_index(index ? std::move(index) : std::make_shared<const SignalIndex>(SignalIndex::empty())) {}

DeferredIndex::DeferredIndex(Build build) : m_build(std::move(build)) {
  if (!m_build) m_index = std::make_shared<const SignalIndex>(SignalIndex::empty());
}

std::shared_ptr<const SignalIndex> DeferredIndex::get() const {
  std::lock_guard lock(m_mutex);
  if (!m_index) {
    try {
      m_index = std::make_shared<const SignalIndex>(m_build());
    } catch (const std::exception&) {
      m_index = std::make_shared<const SignalIndex>(SignalIndex::empty());
    }
    m_build = nullptr;  // what it captured (the catalog) is not needed any more
  }
  return m_index;
}

bool DeferredIndex::isBuilt() const {
  std::lock_guard lock(m_mutex);
  return m_index != nullptr;
}

}  // namespace linkferry
