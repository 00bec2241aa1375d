// A mutual-exclusion lock.
#pragma once

#include <mutex>

#include "QmXpl/Export.h"
#include "QmXpl/SyncObj_t.h"

namespace QmXplSync {

// Not recursive: a thread that locks a Mutex_t it holds deadlocks.
class QMXPL_API Mutex_t : public SyncObj_t {
  public:
    Mutex_t() = default;
    ~Mutex_t() override;
    Mutex_t(const Mutex_t&) = delete;
    Mutex_t& operator=(const Mutex_t&) = delete;

    void Lock() override { m_.lock(); }
    void Unlock() override { m_.unlock(); }
    bool TryLock() { return m_.try_lock(); }

  private:
    std::mutex m_;
};

// Holds a Mutex_t for the life of the scope; Unlock() may release it early.
class QMXPL_API MutexLock_t {
  public:
    explicit MutexLock_t(Mutex_t& m) : m_(&m) { m_->Lock(); }
    ~MutexLock_t() { Unlock(); }
    void Unlock() {
        if (m_) {
            m_->Unlock();
            m_ = nullptr;
        }
    }
    MutexLock_t(const MutexLock_t&) = delete;
    MutexLock_t& operator=(const MutexLock_t&) = delete;

  private:
    Mutex_t* m_;
};

}  // namespace QmXplSync

namespace QmXplThread {
using QmXplSync::Mutex_t;
using QmXplSync::MutexLock_t;
}  // namespace QmXplThread
