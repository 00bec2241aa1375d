// A reader/writer lock.
#pragma once

#include <shared_mutex>

#include "QmXpl/Export.h"

namespace QmXplSync {

// Many readers or one writer. Neither side is recursive, and a reader cannot become a writer.
class QMXPL_API RwLock_t {
  public:
    RwLock_t() = default;
    ~RwLock_t();
    RwLock_t(const RwLock_t&) = delete;
    RwLock_t& operator=(const RwLock_t&) = delete;

    void LockRead() { m_.lock_shared(); }
    void UnlockRead() { m_.unlock_shared(); }
    void LockWrite() { m_.lock(); }
    void UnlockWrite() { m_.unlock(); }

  private:
    std::shared_mutex m_;
};

class QMXPL_API ReadLock_t {
  public:
    explicit ReadLock_t(RwLock_t& l) : l_(l) { l_.LockRead(); }
    ~ReadLock_t() { l_.UnlockRead(); }
    ReadLock_t(const ReadLock_t&) = delete;
    ReadLock_t& operator=(const ReadLock_t&) = delete;

  private:
    RwLock_t& l_;
};

class QMXPL_API WriteLock_t {
  public:
    explicit WriteLock_t(RwLock_t& l) : l_(l) { l_.LockWrite(); }
    ~WriteLock_t() { l_.UnlockWrite(); }
    WriteLock_t(const WriteLock_t&) = delete;
    WriteLock_t& operator=(const WriteLock_t&) = delete;

  private:
    RwLock_t& l_;
};

}  // namespace QmXplSync

namespace QmXplThread {
using QmXplSync::ReadLock_t;
using QmXplSync::RwLock_t;
using QmXplSync::WriteLock_t;
}  // namespace QmXplThread
