// A host name could not be resolved.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/IOException_t.h"

namespace QmXplNet {

// Thrown when a name has no address (the resolver's text is in the message).
class QMXPL_API UnknownHostException_t : public QmXplIo::IOException_t {
  public:
    using QmXplIo::IOException_t::IOException_t;
    ~UnknownHostException_t() override;
};

}  // namespace QmXplNet
