// A snapshot of the configuration of one namespace.
#pragma once

#include <memory>

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplConfig {

using QmXplStr::String_t;

class ConfigData_t;

// The keys and values of one namespace (one section of the configuration files, see
// ConfigNamespace_t.h) as they were when the snapshot was taken; later changes of the files never
// alter a snapshot. Copies share one immutable body, so a copy is cheap and any number of threads
// may read one snapshot at the same time. A default-constructed Configuration_t is empty.
// Keys are case-sensitive. No member throws.
class QMXPL_API Configuration_t {
  public:
    Configuration_t() noexcept;
    // Internal: wraps a body built by the configuration service.
    explicit Configuration_t(std::shared_ptr<const ConfigData_t> data) noexcept;
    Configuration_t(const Configuration_t&) noexcept;
    Configuration_t(Configuration_t&&) noexcept;
    Configuration_t& operator=(const Configuration_t&) noexcept;
    Configuration_t& operator=(Configuration_t&&) noexcept;
    ~Configuration_t();

    // The value of key; the null string when the key is absent. A key written with nothing after
    // the '=' is present with the empty (non-null) value.
    String_t GetValue(const String_t& key) const;
    // The value of key, or defaultValue when the key is absent (an empty value is returned as
    // it is).
    String_t GetValue(const String_t& key, const String_t& defaultValue) const;
    // The same as GetValue: the attributes of a namespace are its keys.
    String_t GetAttrValue(const String_t& key) const;

    // The number of attributes (keys).
    int GetAttrCount() const noexcept;
    // Name and value of the attribute at index (0 .. GetAttrCount()-1, in file order: for a
    // resource group the group's keys first, then the keys it takes from the default file).
    // Returns false, leaving name and value as they were, for an index outside that range.
    bool GetAttr(int index, String_t& name, String_t& value) const;

  private:
    std::shared_ptr<const ConfigData_t> data_;
};

}  // namespace QmXplConfig
