// Scrambles bytes with a repeating key and hands them to the wrapped stream in blocks.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/BufferedOutputStream_t.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecIo {

// XOROutputStream's format, collected in a buffer of the platform base's default size that
// reaches the wrapped stream when it is full, on Flush and on Close. Write and Flush on a closed
// stream throw IOException_t 0 "XORBufferedOutputStream is already closed."; Close writes the
// buffer, flushes and closes the wrapped stream, a second Close does nothing; the wrapped
// stream's exceptions pass through. A stream dropped without Close still hands its buffered
// bytes to the wrapped stream. Not synchronised.
class QMSEC_API XORBufferedOutputStream : public QmXplIo::BufferedOutputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    XORBufferedOutputStream() = default;
    // Default key over out (shared with the caller). IllegalArgumentError_t for an empty out.
    explicit XORBufferedOutputStream(const QmXplIo::OutputStream_t& out);
    // The password's bytes (a copy, wiped when the stream goes) as key. IOException_t 99 for more
    // than 128 bytes, 176 for an empty password.
    XORBufferedOutputStream(const QmXplIo::OutputStream_t& out,
                            const QmXplArray::CharArray_t& password);
    ~XORBufferedOutputStream() override;
};

}  // namespace QmSecIo
