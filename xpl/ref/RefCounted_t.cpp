#include "QmXpl/RefCounted_t.h"

namespace QmXplRef {

RefCounted_t::~RefCounted_t() = default;

void RefCounted_t::DestroyThis() { delete this; }

}  // namespace QmXplRef
