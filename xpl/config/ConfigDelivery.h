// The change handlers of the namespaces and the changes waiting for them.
#pragma once

#include <deque>
#include <vector>

#include "QmXpl/ChangedConfiguration_t.h"
#include "QmXpl/ConfigChangeHandler_i.h"
#include "config/ConfigData.h"
#include "config/ServiceMonitor.h"

namespace QmXplConfig::detail {

// Everything here is guarded by the monitor's lock. Handlers are called on the service thread,
// with no lock held.
class ConfigDelivery {
  public:
    struct Pending {
        NamespaceState_t* state;
        ChangedConfiguration_t changes;
        unsigned long long sequence = 0;  // numbers the changes in the order they were seen
    };

    explicit ConfigDelivery(ServiceMonitor& monitor) : monitor_(monitor) {}
    ConfigDelivery(const ConfigDelivery&) = delete;
    ConfigDelivery& operator=(const ConfigDelivery&) = delete;

    void Register(NamespaceState_t* state, ConfigChangeHandler_i* handler);
    void Unregister(NamespaceState_t* state, ConfigChangeHandler_i* handler);
    // Queues changes for delivery, numbered in their order, and wakes the service thread.
    void Queue(std::vector<Pending> changes);
    // Calls the handlers of every queued change; on the service thread.
    void Deliver();
    bool WaitUntilIdle(int timeoutMs);

  private:
    ServiceMonitor& monitor_;
    std::deque<Pending> queue_;
    unsigned long long nextSequence_ = 0;
    ConfigChangeHandler_i* running_ = nullptr;  // the handler whose callback runs now
};

}  // namespace QmXplConfig::detail
