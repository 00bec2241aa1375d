// Scrambles bytes with a repeating key on their way to the wrapped stream.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/FilterOutputStream_t.h"

namespace QmSecIo {

// Writes every byte combined with a repeating key, by one call on the wrapped stream per byte
// (XORBufferedOutputStream batches them). With the built-in default key the stream starts with
// one ASCII digit, the last digit of the UTC minute of the first write, that gives the first key
// position; with a password the stream holds the combined bytes only. This hides bytes from a
// casual look; it is no encryption. Write and Flush on a closed stream throw IOException_t 101
// "XOROutputStream is already closed."; Close flushes and closes the wrapped stream, a second
// Close does nothing; the wrapped stream's exceptions pass through. Not synchronised.
class QMSEC_API XOROutputStream : public QmXplIo::FilterOutputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    XOROutputStream() = default;
    // Default key over out (shared with the caller). IllegalArgumentError_t for an empty out.
    explicit XOROutputStream(const QmXplIo::OutputStream_t& out);
    // The password's bytes (a copy, wiped when the stream goes) as key. IOException_t 99 for more
    // than 128 bytes, 176 for an empty password.
    XOROutputStream(const QmXplIo::OutputStream_t& out, const QmXplArray::CharArray_t& password);
    ~XOROutputStream() override;
};

}  // namespace QmSecIo
