#include "QmXpl/RwLock_t.h"

namespace QmXplSync {

RwLock_t::~RwLock_t() = default;

}  // namespace QmXplSync
