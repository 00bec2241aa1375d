#include "QmXpl/Message_t.h"

namespace QmXplMsg {

LogicError_t::~LogicError_t() = default;

}  // namespace QmXplMsg
