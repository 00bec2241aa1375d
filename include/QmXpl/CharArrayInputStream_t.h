// An input stream over bytes held in memory.
#pragma once

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Export.h"
#include "QmXpl/InputStream_t.h"

namespace QmXplIo {

class CharArrayInputStreamImpl_t;

// Reads the bytes of a CharArray_t. The stream keeps its own copy (wiped when the body goes), so
// later changes to the caller's array do not show. Close has no effect on reading: the bytes
// stay readable, as a memory stream holds no resource worth releasing. Available is the count
// left; Skip moves within the copy.
class QMXPL_API CharArrayInputStream_t : public InputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    CharArrayInputStream_t() = default;
    // A stream over a copy of data.
    explicit CharArrayInputStream_t(const QmXplArray::CharArray_t& data);
    // A stream over a copy of size bytes at data (null or size < 1 give an empty stream).
    CharArrayInputStream_t(const char* data, int size);
    ~CharArrayInputStream_t() override;
};

}  // namespace QmXplIo
