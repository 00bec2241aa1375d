#include "QmXpl/SyncObj_t.h"

namespace QmXplSync {

SyncObj_t::~SyncObj_t() = default;

}  // namespace QmXplSync
