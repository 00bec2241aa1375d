// Base64-codes the bytes read through it.
#pragma once

#include "QmSecCore/Base64.h"
#include "QmSecCore/Export.h"
#include "QmXpl/FilterInputStream_t.h"

namespace QmSecIo {

// Hands out the wrapped stream's bytes passed through a Base64 codec shared with the caller:
// decoded when the codec decodes, encoded when it encodes. The codec's final output follows once
// the wrapped stream has ended. Every byte is delivered exactly once and in order whatever the
// sizes asked for; a read returns at least one byte, or -1 at the end, never 0. Text the codec
// cannot decode throws its exception (IOException_t 10, Exception_t 13), and every later read
// throws it again. Read and Available on a closed stream throw IllegalStateError_t 14
// "Base64InputStream is already closed."; Available is the wrapped stream's count; Close
// closes the wrapped stream, a second Close does nothing. Memory stays bounded whatever the
// stream's length and the sizes asked for. Not synchronised.
class QMSEC_API Base64InputStream : public QmXplIo::FilterInputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    Base64InputStream() = default;
    // Reads in (shared) through codec (shared, not copied). IllegalArgumentError_t for an empty
    // in; IllegalStateError_t ("Base64") for an empty codec.
    Base64InputStream(const QmXplIo::InputStream_t& in, const QmSecCore::Base64& codec);
    ~Base64InputStream() override;
};

}  // namespace QmSecIo
