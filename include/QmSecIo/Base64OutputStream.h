// Base64-codes the bytes written through it.
#pragma once

#include "QmSecCore/Base64.h"
#include "QmSecCore/Export.h"
#include "QmXpl/FilterOutputStream_t.h"

namespace QmSecIo {

// Passes written bytes through a Base64 codec shared with the caller (encoding or decoding, as
// the codec was made) and writes its output to the wrapped stream. Close writes the codec's
// final output (the last line when encoding), then flushes and closes the wrapped stream; a
// second Close does nothing. When the final output fails, the wrapped stream is left open, so
// that an incomplete output is not completed (an atomic file below is not published). A stream
// dropped without Close leaves its output unfinished. Write and Flush on a closed stream throw
// IllegalStateError_t 15 "Base64OutputStream is already closed."; the exceptions of the codec
// and the wrapped stream pass through. Memory stays bounded whatever the sizes written. Not
// synchronised.
class QMSEC_API Base64OutputStream : public QmXplIo::FilterOutputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    Base64OutputStream() = default;
    // Writes to out (shared) through codec (shared, not copied). IllegalArgumentError_t for an
    // empty out; IllegalStateError_t ("Base64") for an empty codec.
    Base64OutputStream(const QmXplIo::OutputStream_t& out, const QmSecCore::Base64& codec);
    ~Base64OutputStream() override;
};

}  // namespace QmSecIo
