// An atomically counted reference counter.
#pragma once

#include <atomic>

#include "QmXpl/Export.h"

namespace QmXplRef {

// Thread-safe counter embedded in every reference-counted body. The increment and decrement
// return the new value, so the caller that brings it to zero knows it holds the last reference.
class QMXPL_API MTRef_t {
  public:
    MTRef_t() noexcept : count_(0) {}
    MTRef_t(const MTRef_t&) = delete;
    MTRef_t& operator=(const MTRef_t&) = delete;

    long operator++() noexcept { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    // Release ordering publishes the body's last writes; the acquire side pairs with it before
    // the body is destroyed by whoever saw zero.
    long operator--() noexcept { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    long Get() const noexcept { return count_.load(std::memory_order_relaxed); }

  private:
    std::atomic<long> count_;
};

}  // namespace QmXplRef
