// Receiver of configuration changes.
#pragma once

#include "QmXpl/ChangedConfiguration_t.h"
#include "QmXpl/Export.h"

namespace QmXplConfig {

// Implemented by whoever wants to hear about changes of a namespace, and registered with
// ConfigNamespace_t::Register. The configuration service calls Update on a thread of its own,
// never on the thread that made the change; it calls one handler at a time, the handlers of a
// namespace in the order they were registered, and each change in the order it was seen.
// Update may read configuration (Open), set values (the resulting change comes later, in a call
// of its own) and unregister handlers, including itself. An exception escaping Update is caught
// and traced on "qmxpl.config"; it neither stops delivery to the next handler nor later changes.
// A slow Update delays every later delivery: hand long work to a thread of your own.
class QMXPL_API ConfigChangeHandler_i {
  public:
    virtual ~ConfigChangeHandler_i();
    // changes: the namespace, which keys changed, and the new snapshot. Valid for the call;
    // copy it to keep it.
    virtual void Update(const ChangedConfiguration_t& changes) = 0;
};

}  // namespace QmXplConfig
