// A filter stream that writes its bytes as Base64 text.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/FilterOutputStream_t.h"

namespace QmXplIo {

class Base64OutputStreamImpl_t;

// Encodes the bytes written to it as standard Base64 (alphabet A-Z a-z 0-9 + /, '=' padding)
// in lines of 64 characters, each ending with a line feed, the last (shorter) line too; no input
// gives no text. Up to two bytes of an incomplete group wait in the body until more bytes come
// or Close writes the final group with its padding. Flush flushes the wrapped stream but cannot
// write a waiting group (that would end the Base64 text). Writing a closed stream throws
// IOException_t; a second Close does nothing; the wrapped stream's exceptions pass through.
class QMXPL_API Base64OutputStream_t : public FilterOutputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    Base64OutputStream_t() = default;
    // Writes Base64 text to out (the handle shares out's body). IllegalArgumentError_t for an
    // empty out.
    explicit Base64OutputStream_t(const OutputStream_t& out);
    ~Base64OutputStream_t() override;
};

}  // namespace QmXplIo
