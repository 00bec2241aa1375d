// Input of a transforming call that lies inside the call's own output array.
#pragma once

#include <cstdint>
#include <vector>

#include "QmXpl/CharArray_t.h"
#include "SecretWiper.h"

namespace QmSecCore::detail {

// A caller that transforms an array in place passes input that lies inside the output array:
// growing the output would move the bytes under the input pointer, writing output ahead of the
// input would overwrite bytes not yet read, and OpenSSL refuses partially overlapping buffers.
// Such input is copied first (and the copy wiped afterwards, as it may be plaintext); any other
// input is used where it lies, at the cost of two comparisons.
class StableInput {
  public:
    StableInput(const char*& in, int length, const QmXplArray::CharArray_t& out) {
        if (length <= 0 || in == nullptr || out.GetSize() == 0) return;
        auto first = reinterpret_cast<std::uintptr_t>(in);
        auto begin = reinterpret_cast<std::uintptr_t>(out.GetData());
        if (first < begin + static_cast<std::uintptr_t>(out.GetSize()) &&
            begin < first + static_cast<std::uintptr_t>(length)) {
            copy_.assign(in, in + length);
            in = copy_.data();
        }
    }
    ~StableInput() { WipeSecret(copy_); }
    StableInput(const StableInput&) = delete;
    StableInput& operator=(const StableInput&) = delete;

  private:
    std::vector<char> copy_;
};

}  // namespace QmSecCore::detail
