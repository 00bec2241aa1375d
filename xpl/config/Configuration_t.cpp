#include "QmXpl/Configuration_t.h"

#include "QmXpl/ChangedConfiguration_t.h"
#include "QmXpl/ConfigChangeHandler_i.h"
#include "config/ConfigData.h"

namespace QmXplConfig {

// --- ConfigData_t, ChangeData_t
// --------------------------------------------------------------------

void ConfigData_t::Add(String_t key, String_t value) {
    auto [it, inserted] = index.emplace(key, entries.size());
    if (inserted)
        entries.emplace_back(std::move(key), std::move(value));
    else
        entries[it->second].second = std::move(value);
}

const String_t* ConfigData_t::Find(const String_t& key) const {
    auto it = index.find(key);
    return it == index.end() ? nullptr : &entries[it->second].second;
}

std::unordered_set<String_t> DiffKeys(const ConfigData_t* before, const ConfigData_t& after) {
    std::unordered_set<String_t> changed;
    for (const auto& [key, value] : after.entries) {
        const String_t* old = before ? before->Find(key) : nullptr;
        if (!old || *old != value) changed.insert(key);
    }
    if (before) {
        for (const auto& [key, value] : before->entries) {
            if (!after.Find(key)) changed.insert(key);
        }
    }
    return changed;
}

// --- Configuration_t
// ----------------------------------------------------------------------------------

Configuration_t::Configuration_t() noexcept = default;
Configuration_t::Configuration_t(std::shared_ptr<const ConfigData_t> data) noexcept
    : data_(std::move(data)) {}
Configuration_t::Configuration_t(const Configuration_t&) noexcept = default;
Configuration_t::Configuration_t(Configuration_t&&) noexcept = default;
Configuration_t& Configuration_t::operator=(const Configuration_t&) noexcept = default;
Configuration_t& Configuration_t::operator=(Configuration_t&&) noexcept = default;
Configuration_t::~Configuration_t() = default;

String_t Configuration_t::GetValue(const String_t& key) const {
    const String_t* value = data_ ? data_->Find(key) : nullptr;
    return value ? *value : String_t();
}

String_t Configuration_t::GetValue(const String_t& key, const String_t& defaultValue) const {
    const String_t* value = data_ ? data_->Find(key) : nullptr;
    return value ? *value : defaultValue;
}

String_t Configuration_t::GetAttrValue(const String_t& key) const { return GetValue(key); }

int Configuration_t::GetAttrCount() const noexcept {
    return data_ ? static_cast<int>(data_->entries.size()) : 0;
}

bool Configuration_t::GetAttr(int index, String_t& name, String_t& value) const {
    if (index < 0 || index >= GetAttrCount()) return false;
    const auto& entry = data_->entries[static_cast<size_t>(index)];
    name = entry.first;
    value = entry.second;
    return true;
}

// --- ChangedConfiguration_t
// -----------------------------------------------------------------------

ChangedConfiguration_t::ChangedConfiguration_t(std::shared_ptr<const ChangeData_t> data) noexcept
    : data_(std::move(data)) {}
ChangedConfiguration_t::ChangedConfiguration_t(const ChangedConfiguration_t&) noexcept = default;
ChangedConfiguration_t& ChangedConfiguration_t::operator=(const ChangedConfiguration_t&) noexcept =
    default;
ChangedConfiguration_t::~ChangedConfiguration_t() = default;

bool ChangedConfiguration_t::HasChanged(const String_t& key) const {
    return data_ && data_->changed.count(key) > 0;
}

std::vector<String_t> ChangedConfiguration_t::GetChangedKeys() const {
    return data_ ? std::vector<String_t>(data_->changed.begin(), data_->changed.end())
                 : std::vector<String_t>();
}

String_t ChangedConfiguration_t::GetNamespace() const { return data_ ? data_->name : String_t(); }

String_t ChangedConfiguration_t::GetGroup() const { return data_ ? data_->group : String_t(); }

Configuration_t ChangedConfiguration_t::GetConfiguration() const {
    return data_ ? data_->configuration : Configuration_t();
}

ConfigChangeHandler_i::~ConfigChangeHandler_i() = default;

}  // namespace QmXplConfig
