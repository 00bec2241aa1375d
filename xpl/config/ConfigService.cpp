#include "config/ConfigService.h"

#include "config/ConfigCache.h"
#include "config/ConfigDelivery.h"
#include "config/ConfigEdit.h"
#include "config/ConfigTrace.h"
#include "config/ConfigWatcher.h"
#include "config/ServiceMonitor.h"

namespace QmXplConfig {

namespace detail {

QmXplTrc::TraceObj_t& ConfigTrace() {
    // A function-local object, so that a namespace opened during another library's static
    // initialisation can already trace.
    static QmXplTrc::TraceWrapper_t trace("qmxpl.config", 8);
    return trace;
}

}  // namespace detail

struct ConfigService_t::Parts {
    detail::ServiceMonitor monitor;
    detail::ConfigDelivery delivery{monitor};
    detail::ConfigCache cache{delivery};
    detail::ConfigWatcher watcher{monitor, cache, delivery};
};

ConfigService_t::Parts& ConfigService_t::Get() {
    // Never destroyed: static objects of other libraries may use the service until the very
    // end of the process; the thread is stopped by the exit handler instead.
    static Parts* parts = new Parts;
    return *parts;
}

NamespaceState_t* ConfigService_t::GetState(const String_t& name, const String_t& group) {
    NamespaceState_t* state = Get().cache.GetState(name, group);
    // Registered by code of this library, so it also runs when the library is unloaded.
    Get().watcher.EnsureThread(&ConfigService_t::Shutdown);
    return state;
}

void ConfigService_t::Register(NamespaceState_t* state, ConfigChangeHandler_i* handler) {
    Get().delivery.Register(state, handler);
}

void ConfigService_t::Unregister(NamespaceState_t* state, ConfigChangeHandler_i* handler) {
    Get().delivery.Unregister(state, handler);
}

void ConfigService_t::Edit(NamespaceState_t* state, const String_t& key, const String_t* value) {
    detail::EditConfigFile(Get().cache, state, key, value);
}

void ConfigService_t::ReloadAll() {
    Get().cache.ReloadAll();
    Get().watcher.ResetWatches();
}

bool ConfigService_t::WaitUntilIdle(int timeoutMs) {
    return Get().delivery.WaitUntilIdle(timeoutMs);
}

void ConfigService_t::Shutdown() { Get().watcher.Shutdown(); }

}  // namespace QmXplConfig
