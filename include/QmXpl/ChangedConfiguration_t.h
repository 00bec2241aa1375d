// What changed in one namespace: handed to change handlers.
#pragma once

#include <memory>
#include <vector>

#include "QmXpl/Configuration_t.h"
#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplConfig {

class ChangeData_t;

// One change of a namespace, as delivered to a ConfigChangeHandler_i: the namespace, its new
// snapshot and the keys that differ from the snapshot before. Copies share one immutable body.
// No member throws.
class QMXPL_API ChangedConfiguration_t {
  public:
    // Internal: wraps a body built by the configuration service.
    explicit ChangedConfiguration_t(std::shared_ptr<const ChangeData_t> data) noexcept;
    ChangedConfiguration_t(const ChangedConfiguration_t&) noexcept;
    ChangedConfiguration_t& operator=(const ChangedConfiguration_t&) noexcept;
    ~ChangedConfiguration_t();

    // True when key was added, removed, or given another value by this change.
    bool HasChanged(const String_t& key) const;
    // Every key for which HasChanged is true, in no particular order.
    std::vector<String_t> GetChangedKeys() const;
    // The namespace ("sec.core.auth") and resource group (empty for the default) that changed.
    String_t GetNamespace() const;
    String_t GetGroup() const;
    // The namespace as it is after the change.
    Configuration_t GetConfiguration() const;

  private:
    std::shared_ptr<const ChangeData_t> data_;
};

}  // namespace QmXplConfig
