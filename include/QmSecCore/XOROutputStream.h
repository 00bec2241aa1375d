// Scrambles bytes with a repeating key; the same stream as QmSecIo::XOROutputStream.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/FilterOutputStream_t.h"

namespace QmSecCore {

// Behaves exactly as QmSecIo::XOROutputStream (same keys, format and messages: IOException_t 101
// "XOROutputStream is already closed." on a closed stream): one call on the wrapped stream per
// byte, a start digit at the head of a default-key stream. This hides bytes from a casual look;
// it is no encryption. Close flushes and closes the wrapped stream, a second Close does nothing.
// Failures are traced in the core area. Not synchronised.
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

}  // namespace QmSecCore
