#include "QmXpl/Message_t.h"

namespace QmXplMsg {

IllegalArgumentError_t::~IllegalArgumentError_t() = default;

}  // namespace QmXplMsg
