// A socket operation did not complete within its timeout.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/IOException_t.h"

namespace QmXplNet {

// Thrown by a read, an accept or a connect whose timeout expired. The socket stays usable: a
// read may be tried again.
class QMXPL_API SocketTimeoutException_t : public QmXplIo::IOException_t {
  public:
    using QmXplIo::IOException_t::IOException_t;
    ~SocketTimeoutException_t() override;
};

}  // namespace QmXplNet
