// Reads what an XOROutputStream wrote; the same stream as QmSecIo::XORInputStream.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/FilterInputStream_t.h"

namespace QmSecCore {

// Behaves exactly as QmSecIo::XORInputStream (same keys, format and messages: IOException_t 100
// "XORInputStream is already closed." on a closed stream), and reads what any of the scrambling
// streams wrote with the same key. Each byte costs one call on the wrapped stream; a read returns
// when it has len bytes or the wrapped stream has ended. Failures are traced in the core area.
// Not synchronised.
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

}  // namespace QmSecCore
