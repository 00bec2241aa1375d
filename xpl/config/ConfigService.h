// The configuration service: file cache (ConfigCache), editing (EditConfigFile), watcher thread
// (ConfigWatcher) and change delivery (ConfigDelivery), behind one process-wide entry point.
#pragma once

#include "QmXpl/ConfigChangeHandler_i.h"
#include "QmXpl/String_t.h"

namespace QmXplConfig {

class NamespaceState_t;

// Process-wide; created on first use and never destroyed (static objects of other libraries may
// still use it while the process ends). Its thread is stopped when the process exits or the
// library is unloaded.
class ConfigService_t {
  public:
    // The state of a namespace, read from the files on first use. Starts the service thread.
    // Throws IllegalArgumentError_t for unusable names.
    static NamespaceState_t* GetState(const String_t& name, const String_t& group);
    static void Register(NamespaceState_t* state, ConfigChangeHandler_i* handler);
    static void Unregister(NamespaceState_t* state, ConfigChangeHandler_i* handler);
    // Sets (value not null) or removes (value null) key in the file of the state's group.
    static void Edit(NamespaceState_t* state, const String_t& key, const String_t* value);

    // For tests that switch $QMXPL_HOME: reads the home directory again, rereads every file from
    // there and refreshes every namespace in use; differences reach the handlers as changes.
    // (In production the home directory is read once, on first use.)
    static void ReloadAll();
    // For tests: waits until every change seen so far has been delivered and no callback runs.
    // Returns false when that did not happen within timeoutMs. Must not be called from a handler.
    static bool WaitUntilIdle(int timeoutMs);
    // Stops the service thread (it is not restarted): snapshots stay readable but are no longer
    // refreshed and handlers no longer called. Waits up to two seconds for a running callback.
    // Called at process exit and library unload; safe to call more than once.
    static void Shutdown();

  private:
    struct Parts;
    static Parts& Get();
};

}  // namespace QmXplConfig
