// Threads of the layer.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

#include "QmXpl/Export.h"

namespace QmXplThread {

// A thread running a function. The destructor joins a thread that is still joinable, so a
// Thread_t never outlives its work silently. Exceptions escaping the function are traced on
// "qmxpl.thread" and dropped.
class QMXPL_API Thread_t {
  public:
    Thread_t() = default;
    explicit Thread_t(std::function<void()> work);
    ~Thread_t();
    Thread_t(Thread_t&&) noexcept = default;
    Thread_t& operator=(Thread_t&&) noexcept;
    Thread_t(const Thread_t&) = delete;
    Thread_t& operator=(const Thread_t&) = delete;

    void Join();
    bool IsJoinable() const noexcept { return t_.joinable(); }

    // The kernel thread id of the calling thread (gettid()).
    static unsigned long CurrentID() noexcept;
    static void Sleep(int milliseconds);

  private:
    std::thread t_;
};

}  // namespace QmXplThread
