// Bodies of the configuration handles, and the per-namespace state of the service.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "QmXpl/ChangedConfiguration_t.h"
#include "QmXpl/ConfigChangeHandler_i.h"
#include "QmXpl/Configuration_t.h"
#include "QmXpl/RwLock_t.h"
#include "QmXpl/String_t.h"

namespace QmXplConfig {

// The keys of one namespace in their order, with an index for lookups. Never changed after it
// was built, so readers need no lock.
class ConfigData_t {
  public:
    std::vector<std::pair<String_t, String_t>> entries;
    std::unordered_map<String_t, size_t> index;
    // Why a file of the namespace could not be read, when nothing good was ever read of it: the
    // keys are then unknown, and a reader is told so instead of being given none. Empty
    // otherwise.
    std::string error;

    void Add(String_t key, String_t value);
    const String_t* Find(const String_t& key) const;
};

class ChangeData_t {
  public:
    String_t name;
    String_t group;
    Configuration_t configuration;
    std::unordered_set<String_t> changed;
};

// The keys that differ between before (null: nothing) and after: added, removed or changed.
std::unordered_set<String_t> DiffKeys(const ConfigData_t* before, const ConfigData_t& after);

// One namespace of one group, created on first use and kept for the life of the process, so that
// ConfigNamespace_t handles may keep a plain pointer to it.
class NamespaceState_t {
  public:
    NamespaceState_t(String_t n, String_t g)
        : name(std::move(n)),
          group(std::move(g)),
          nameUtf8(name.ToUtf8()),
          groupUtf8(group.ToUtf8()) {}

    std::shared_ptr<const ConfigData_t> Snapshot() const {
        QmXplSync::ReadLock_t lock(snapshotLock_);
        return snapshot_;
    }
    // Swaps the snapshot in and returns the one it replaces.
    std::shared_ptr<const ConfigData_t> Replace(std::shared_ptr<const ConfigData_t> next) {
        QmXplSync::WriteLock_t lock(snapshotLock_);
        snapshot_.swap(next);
        return next;
    }

    const String_t name;
    const String_t group;  // empty for the default group
    const std::string nameUtf8;
    const std::string groupUtf8;
    // A registered handler and the first change it is to hear of: one seen after it registered.
    struct Registration {
        ConfigChangeHandler_i* handler;
        unsigned long long firstChange;
    };
    // Guarded by the service's delivery mutex.
    std::vector<Registration> handlers;

  private:
    mutable QmXplSync::RwLock_t snapshotLock_;
    std::shared_ptr<const ConfigData_t> snapshot_;
};

}  // namespace QmXplConfig
