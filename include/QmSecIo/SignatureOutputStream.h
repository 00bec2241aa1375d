// Signs or verifies the bytes written through it.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Signature.h"
#include "QmXpl/FilterOutputStream_t.h"

namespace QmSecIo {

class SignatureOutputStreamImpl;

// Writes bytes unchanged to the wrapped stream and, while on (from construction until Off),
// feeds them first to a signature that it shares with the caller; the caller puts the signature
// into sign or verify mode before writing. A signature that refuses the bytes (IllegalStateError_t
// 78 without a mode) keeps them from the wrapped stream too. Writing 0 bytes does nothing. Write
// and Flush on a closed stream throw IllegalStateError_t 86 "SignatureOutputStream is already
// closed."; Close flushes and closes the wrapped stream, a second Close does nothing; the
// exceptions of the wrapped stream and the signature pass through. Not synchronised.
class QMSEC_API SignatureOutputStream : public QmXplIo::FilterOutputStream_t {
  public:
    // Writes to out (shared) and feeds signature (shared, not copied). IllegalArgumentError_t for
    // an empty out; IllegalStateError_t ("Signature") for an empty signature.
    SignatureOutputStream(const QmXplIo::OutputStream_t& out,
                          const QmSecCore::Signature& signature);
    ~SignatureOutputStream() override;

    // The signature the stream feeds (a handle on the same state). These three work on a closed
    // stream too; without a body they throw IllegalStateError_t ("SignatureOutputStream").
    QmSecCore::Signature GetSignature() const;
    // Feeding on and off; bytes written while off reach the wrapped stream but are not signed.
    void On() const;
    void Off() const;

  private:
    SignatureOutputStreamImpl* SignatureBody() const;
};

}  // namespace QmSecIo
