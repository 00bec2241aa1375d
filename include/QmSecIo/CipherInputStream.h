// Encrypts or decrypts the bytes read through it.
#pragma once

#include "QmSecCore/Cipher.h"
#include "QmSecCore/Export.h"
#include "QmXpl/FilterInputStream_t.h"

namespace QmSecIo {

// Hands out the wrapped stream's bytes passed through a cipher shared with the caller: decrypted
// when the cipher decrypts, encrypted when it encrypts. The cipher's final output (the last,
// padded block) follows once the wrapped stream has ended. Every byte is delivered exactly once
// and in order whatever the sizes asked for; a read returns at least one byte, or -1 at the end,
// never 0. A damaged or cut-off ciphertext throws the cipher's exception (BadPaddingException
// 76, IOException_t 72 or 75), and every later read throws it again. Read and Available on a
// closed stream throw IllegalStateError_t 16 "CipherInputStream is already closed.";
// Available is the wrapped stream's count; Close closes the wrapped stream and wipes what
// waits, a second Close does nothing. Memory stays bounded whatever the stream's length and the
// sizes asked for. Not synchronised.
class QMSEC_API CipherInputStream : public QmXplIo::FilterInputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    CipherInputStream() = default;
    // Reads in (shared) through cipher (shared, not copied). IllegalArgumentError_t for an empty
    // in; IllegalStateError_t ("Cipher") for an empty cipher.
    CipherInputStream(const QmXplIo::InputStream_t& in, const QmSecCore::Cipher& cipher);
    ~CipherInputStream() override;
};

}  // namespace QmSecIo
