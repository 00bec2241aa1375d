// A String_t converted to the multibyte encoding of the system.
#pragma once

#include <string>

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplStr {

// Multibyte text of a String_t, zero-terminated. Encoding 0 is the system default, which is
// UTF-8 on Linux; no other encoding is offered. The null string gives an empty text.
class QMXPL_API MBS_t {
  public:
    explicit MBS_t(const String_t& text, int encoding = 0);
    const char* c_str() const noexcept { return bytes_.c_str(); }
    int GetLength() const noexcept { return static_cast<int>(bytes_.size()); }
    const std::string& Str() const noexcept { return bytes_; }
    operator const char*() const noexcept { return bytes_.c_str(); }

  private:
    std::string bytes_;
};

}  // namespace QmXplStr
