#include "QmXpl/SocketTimeoutException_t.h"

namespace QmXplNet {

SocketTimeoutException_t::~SocketTimeoutException_t() = default;

}  // namespace QmXplNet
