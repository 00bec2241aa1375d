// A filter stream that reads Base64 text and gives the bytes it encodes.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/FilterInputStream_t.h"

namespace QmXplIo {

class Base64InputStreamImpl_t;

// Decodes standard Base64 (alphabet A-Z a-z 0-9 + /, '=' padding) read from the wrapped stream,
// with or without line breaks: carriage returns, line feeds, blanks and tabs are skipped
// anywhere. Throws IOException_t on any other character outside the alphabet, on misplaced or
// missing padding ("QQ=A", "Q===", a last group of fewer than four characters) and on text after
// the padding. Available counts the decoded bytes waiting in the body. Reading a closed stream
// throws IOException_t; a second Close does nothing.
class QMXPL_API Base64InputStream_t : public FilterInputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    Base64InputStream_t() = default;
    // Reads Base64 text from in (the handle shares in's body). IllegalArgumentError_t for an
    // empty in.
    explicit Base64InputStream_t(const InputStream_t& in);
    ~Base64InputStream_t() override;
};

}  // namespace QmXplIo
