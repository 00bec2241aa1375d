// An array of UTF-16 code units with value semantics.
#pragma once

#include <vector>

#include "QmXpl/Export.h"

namespace QmXplArray {

// Growable array of 16-bit units; copies are deep; new units are zero.
class QMXPL_API UTF16CharArray_t {
  public:
    UTF16CharArray_t() = default;
    explicit UTF16CharArray_t(int size) : units_(size > 0 ? static_cast<size_t>(size) : 0, 0) {}
    UTF16CharArray_t(const unsigned short* data, int size) {
        if (data && size > 0) units_.assign(data, data + size);
    }

    unsigned short* GetData() noexcept { return units_.data(); }
    const unsigned short* GetData() const noexcept { return units_.data(); }
    int GetSize() const noexcept { return static_cast<int>(units_.size()); }
    void Resize(int size) { units_.resize(size > 0 ? static_cast<size_t>(size) : 0, 0); }
    unsigned short& operator[](int i) { return units_[static_cast<size_t>(i)]; }
    unsigned short operator[](int i) const { return units_[static_cast<size_t>(i)]; }
    bool operator==(const UTF16CharArray_t& o) const noexcept { return units_ == o.units_; }

  private:
    std::vector<unsigned short> units_;
};

}  // namespace QmXplArray
