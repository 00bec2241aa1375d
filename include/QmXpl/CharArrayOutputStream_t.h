// An output stream that collects bytes in memory.
#pragma once

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Export.h"
#include "QmXpl/OutputStream_t.h"

namespace QmXplIo {

class CharArrayOutputStreamImpl_t;

// Collects written bytes in a growing buffer owned by the body. Memory that the buffer leaves
// behind when it grows, is reset or goes is wiped first, since the bytes may be secrets. After
// Close the collected bytes stay available (ToCharArray, GetSize); writing then throws
// IOException_t. A single stream holds at most INT_MAX bytes; beyond that Write throws
// IOException_t and keeps what was collected.
class QMXPL_API CharArrayOutputStream_t : public OutputStream_t {
  public:
    // An empty stream with room for initialSize bytes before it grows (IllegalArgumentError_t
    // when negative).
    explicit CharArrayOutputStream_t(int initialSize = 256);
    ~CharArrayOutputStream_t() override;

    // A copy of the bytes collected so far; the caller owns it. IllegalStateError_t without a
    // body (as for every member).
    QmXplArray::CharArray_t ToCharArray() const;
    // The count of bytes collected so far.
    int GetSize() const;
    // Forgets (and wipes) the collected bytes; the stream stays open or closed as it was.
    void Reset() const;

  private:
    CharArrayOutputStreamImpl_t* ArrayBody() const;
};

}  // namespace QmXplIo
