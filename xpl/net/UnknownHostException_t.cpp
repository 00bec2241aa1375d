#include "QmXpl/UnknownHostException_t.h"

namespace QmXplNet {

UnknownHostException_t::~UnknownHostException_t() = default;

}  // namespace QmXplNet
