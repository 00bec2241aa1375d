#include "QmXpl/Mutex_t.h"

namespace QmXplSync {

Mutex_t::~Mutex_t() = default;

}  // namespace QmXplSync
