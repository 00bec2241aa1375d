// The lock that the delivery of changes and the service thread share, and the thread's life.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace QmXplConfig::detail {

// One lock for the queue of changes, the handlers and the life of the service thread, so that a
// shutdown ends a round of delivery between two callbacks and a waiter sees the thread end.
// Taken after the cache's lock when both are needed.
class ServiceMonitor {
  public:
    // Wakes the service thread: there are changes to deliver, or it is to stop.
    void Wake() const;

    std::mutex mutex;
    std::condition_variable cv;
    // Under mutex.
    bool threadFailed = false;
    bool stopping = false;
    bool threadDone = false;
    // Set once, when the thread has started.
    std::thread::id threadId;
    std::atomic<bool> threadStarted{false};
    std::atomic<int> wakeFd{-1};
};

}  // namespace QmXplConfig::detail
