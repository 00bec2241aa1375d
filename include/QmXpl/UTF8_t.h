// A String_t converted to UTF-8 bytes.
#pragma once

#include <string>

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplStr {

// UTF-8 bytes of a String_t, zero-terminated. The null string gives an empty text.
class QMXPL_API UTF8_t {
  public:
    explicit UTF8_t(const String_t& text) : bytes_(text.ToUtf8()) {}
    const char* c_str() const noexcept { return bytes_.c_str(); }
    int GetLength() const noexcept { return static_cast<int>(bytes_.size()); }
    const std::string& Str() const noexcept { return bytes_; }
    operator const char*() const noexcept { return bytes_.c_str(); }

  private:
    std::string bytes_;
};

}  // namespace QmXplStr
