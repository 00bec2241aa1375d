#include "QmXpl/ConfigNamespace_t.h"

#include <utility>

#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"

#include "config/ConfigData.h"
#include "config/ConfigService.h"

namespace QmXplConfig {

// Only the names are stored: a namespace may be a static object built before main, when no file
// should be read and no thread started.
ConfigNamespace_t::ConfigNamespace_t(const String_t& name, const String_t& group)
    : name_(name), group_(group) {}

ConfigNamespace_t::ConfigNamespace_t(const ConfigNamespace_t& other)
    : name_(other.name_), group_(other.group_), state_(other.state_.load()) {}

ConfigNamespace_t& ConfigNamespace_t::operator=(const ConfigNamespace_t& other) {
    if (this != &other) {
        name_ = other.name_;
        group_ = other.group_;
        state_.store(other.state_.load());
    }
    return *this;
}

ConfigNamespace_t::~ConfigNamespace_t() = default;

NamespaceState_t* ConfigNamespace_t::State() const {
    NamespaceState_t* state = state_.load(std::memory_order_acquire);
    if (!state) {
        // Two threads may both look it up: the service gives both the same state.
        state = ConfigService_t::GetState(name_, group_);
        state_.store(state, std::memory_order_release);
    }
    return state;
}

namespace {

Configuration_t Readable(std::shared_ptr<const ConfigData_t> data) {
    if (!data->error.empty())
        throw QmXplIo::IOException_t(QmXplMsg::CreateError_t(String_t(data->error)));
    return Configuration_t(std::move(data));
}

}  // namespace

Configuration_t ConfigNamespace_t::Open() const { return Readable(State()->Snapshot()); }

Configuration_t ConfigNamespace_t::Open(const String_t& name, const String_t& group) {
    return Readable(ConfigService_t::GetState(name, group)->Snapshot());
}

void ConfigNamespace_t::Register(ConfigChangeHandler_i* handler) {
    ConfigService_t::Register(State(), handler);
}

void ConfigNamespace_t::Unregister(ConfigChangeHandler_i* handler) {
    if (handler) ConfigService_t::Unregister(State(), handler);
}

void ConfigNamespace_t::SetValue(const String_t& key, const String_t& value) {
    ConfigService_t::Edit(State(), key, &value);
}

void ConfigNamespace_t::RemoveValue(const String_t& key) {
    ConfigService_t::Edit(State(), key, nullptr);
}

}  // namespace QmXplConfig
