#include "QmXpl/Message_t.h"

namespace QmXplMsg {

IllegalStateError_t::~IllegalStateError_t() = default;

}  // namespace QmXplMsg
