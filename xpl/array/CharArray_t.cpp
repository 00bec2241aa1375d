#include "QmXpl/CharArray_t.h"

#include <string.h>  // explicit_bzero
#include <cstring>

namespace QmXplArray {

void CharArray_t::Set(int offset, const char* data, int size) {
    if (offset < 0 || size <= 0 || !data) return;
    size_t end = static_cast<size_t>(offset) + static_cast<size_t>(size);
    if (end > bytes_.size()) bytes_.resize(end, '\0');
    std::memmove(bytes_.data() + offset, data, static_cast<size_t>(size));
}

void CharArray_t::Wipe() noexcept {
    if (!bytes_.empty()) explicit_bzero(bytes_.data(), bytes_.size());
    bytes_.clear();
}

}  // namespace QmXplArray
