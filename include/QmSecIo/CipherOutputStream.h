// Encrypts or decrypts the bytes written through it.
#pragma once

#include "QmSecCore/Cipher.h"
#include "QmSecCore/Export.h"
#include "QmXpl/FilterOutputStream_t.h"

namespace QmSecIo {

// Passes written bytes through a cipher shared with the caller (encrypting or decrypting, as the
// cipher was made) and writes its output to the wrapped stream. Close writes the cipher's final
// output (the last, padded block), then flushes and closes the wrapped stream; a second Close
// does nothing (the cipher does not finish a second, empty message). When the final output
// fails (a wrong padding while decrypting, a failing write), the wrapped stream is left open,
// so that an incomplete output is not completed (an atomic file below is not published). A
// stream dropped without Close leaves its output unfinished, which its reader recognises as
// cut off. Write and Flush on a closed stream throw IllegalStateError_t 17 "CipherOutputStream
// is already closed."; the exceptions of the cipher and the wrapped stream pass through. Memory
// stays bounded whatever the sizes written. Not synchronised.
class QMSEC_API CipherOutputStream : public QmXplIo::FilterOutputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    CipherOutputStream() = default;
    // Writes to out (shared) through cipher (shared, not copied). IllegalArgumentError_t for an
    // empty out; IllegalStateError_t ("Cipher") for an empty cipher.
    CipherOutputStream(const QmXplIo::OutputStream_t& out, const QmSecCore::Cipher& cipher);
    ~CipherOutputStream() override;
};

}  // namespace QmSecIo
