// Reads what a scrambling stream wrote, taking the wrapped stream's bytes in blocks.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecIo {

// XORInputStream's reading with the wrapped stream read in blocks into a buffer of the platform
// base's default size: the per-byte calls go to the buffer. A read returns at the latest when
// the buffer has been used up and more would mean waiting for the wrapped stream. Read and
// Available on a closed stream throw IOException_t 0 "XORBufferedInputStream is already
// closed."; a second Close does nothing; the wrapped stream's exceptions pass through. Peek
// shows the bytes as they lie in the buffer, still scrambled. Not synchronised.
class QMSEC_API XORBufferedInputStream : public QmXplIo::BufferedInputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    XORBufferedInputStream() = default;
    // Default key over in (shared with the caller). IllegalArgumentError_t for an empty in.
    explicit XORBufferedInputStream(const QmXplIo::InputStream_t& in);
    // The password's bytes (a copy, wiped when the stream goes) as key. IOException_t 99 for more
    // than 128 bytes, 176 for an empty password.
    XORBufferedInputStream(const QmXplIo::InputStream_t& in,
                           const QmXplArray::CharArray_t& password);
    ~XORBufferedInputStream() override;
};

}  // namespace QmSecIo
