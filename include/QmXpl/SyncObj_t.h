// Lockable objects of the layer.
#pragma once

#include "QmXpl/Export.h"

namespace QmXplSync {

// Anything that can be locked and unlocked; Lock_t holds one for a scope.
class QMXPL_API SyncObj_t {
  public:
    virtual ~SyncObj_t();
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

// Holds a SyncObj_t locked for the life of the scope.
class QMXPL_API Lock_t {
  public:
    explicit Lock_t(SyncObj_t& obj) : obj_(obj) { obj_.Lock(); }
    ~Lock_t() { obj_.Unlock(); }
    Lock_t(const Lock_t&) = delete;
    Lock_t& operator=(const Lock_t&) = delete;

  private:
    SyncObj_t& obj_;
};

}  // namespace QmXplSync
