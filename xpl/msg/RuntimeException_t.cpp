#include "QmXpl/Message_t.h"

namespace QmXplMsg {

RuntimeException_t::~RuntimeException_t() = default;

}  // namespace QmXplMsg
