// A byte array with value semantics.
#pragma once

#include <string_view>
#include <vector>

#include "QmXpl/Export.h"

namespace QmXplArray {

// Growable byte array; copies are deep. New bytes are always zero. Sizes are ints because the
// library's interfaces count in ints; a negative size is treated as 0.
class QMXPL_API CharArray_t {
  public:
    CharArray_t() = default;
    explicit CharArray_t(int size) : bytes_(Clip(size), '\0') {}
    CharArray_t(const char* data, int size) {
        if (data && size > 0) bytes_.assign(data, data + size);
    }
    explicit CharArray_t(std::string_view bytes) : bytes_(bytes.begin(), bytes.end()) {}

    char* GetData() noexcept { return bytes_.data(); }
    const char* GetData() const noexcept { return bytes_.data(); }
    int GetSize() const noexcept { return static_cast<int>(bytes_.size()); }
    bool IsEmpty() const noexcept { return bytes_.empty(); }

    // Changes the size; bytes beyond the old size are zero.
    void Resize(int size) { bytes_.resize(Clip(size), '\0'); }
    // Makes this array a copy of size bytes at data.
    void Copy(const char* data, int size) {
        if (data && size > 0) {
            bytes_.assign(data, data + size);
        } else {
            bytes_.clear();
        }
    }
    void Copy(const CharArray_t& other) { bytes_ = other.bytes_; }
    // Writes size bytes at offset, growing the array when they reach beyond its end.
    void Set(int offset, const char* data, int size);
    void Append(const char* data, int size) { Set(GetSize(), data, size); }
    void Clear() noexcept { bytes_.clear(); }
    // Overwrites every byte with zero (through a call the compiler cannot drop), then empties the
    // array. For secrets held in the array.
    void Wipe() noexcept;

    char& operator[](int i) { return bytes_[static_cast<size_t>(i)]; }
    char operator[](int i) const { return bytes_[static_cast<size_t>(i)]; }
    bool operator==(const CharArray_t& o) const noexcept { return bytes_ == o.bytes_; }
    bool operator!=(const CharArray_t& o) const noexcept { return bytes_ != o.bytes_; }
    std::string_view View() const noexcept { return {bytes_.data(), bytes_.size()}; }

  private:
    static size_t Clip(int n) noexcept { return n > 0 ? static_cast<size_t>(n) : 0; }
    std::vector<char> bytes_;
};

}  // namespace QmXplArray
