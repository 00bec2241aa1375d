// Reads what an XOROutputStream wrote.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/FilterInputStream_t.h"

namespace QmSecIo {

// Combines every byte of the wrapped stream with a repeating key: the built-in default key, whose
// start position comes from the digit at the head of the stream, or a password. Each byte costs
// one call on the wrapped stream (XORBufferedInputStream batches them); a read returns when it
// has len bytes or the wrapped stream has ended. Reading, Available on a closed stream throw
// IOException_t 100 "XORInputStream is already closed."; a second Close does nothing; the wrapped
// stream's exceptions pass through. Reads what any of the scrambling streams wrote with the same
// key. Not synchronised: one thread reads a stream at a time.
class QMSEC_API XORInputStream : public QmXplIo::FilterInputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    XORInputStream() = default;
    // Default key over in (shared with the caller). IllegalArgumentError_t for an empty in.
    explicit XORInputStream(const QmXplIo::InputStream_t& in);
    // The password's bytes (a copy, wiped when the stream goes) as key. IOException_t 99 for more
    // than 128 bytes, 176 for an empty password.
    XORInputStream(const QmXplIo::InputStream_t& in, const QmXplArray::CharArray_t& password);
    ~XORInputStream() override;
};

}  // namespace QmSecIo
