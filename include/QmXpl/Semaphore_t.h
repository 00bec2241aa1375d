// A counting semaphore.
#pragma once

#include <condition_variable>
#include <mutex>

#include "QmXpl/Export.h"

namespace QmXplSync {

class QMXPL_API Semaphore_t {
  public:
    explicit Semaphore_t(int initial = 0) : count_(initial > 0 ? initial : 0) {}
    virtual ~Semaphore_t();
    Semaphore_t(const Semaphore_t&) = delete;
    Semaphore_t& operator=(const Semaphore_t&) = delete;

    // Blocks until the count is positive, then decrements it.
    void Wait();
    // As Wait, giving up after timeoutMs milliseconds; true when the count was taken.
    bool Wait(int timeoutMs);
    bool TryWait();
    void Post();
    int GetCount() const;

  private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    int count_;
};

}  // namespace QmXplSync

namespace QmXplThread {
using QmXplSync::Semaphore_t;
}  // namespace QmXplThread
