// Signs or verifies the bytes read through it.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Signature.h"
#include "QmXpl/FilterInputStream_t.h"

namespace QmSecIo {

class SignatureInputStreamImpl;

// Hands out the wrapped stream's bytes unchanged and, while on (from construction until Off),
// feeds each byte read to a signature that it shares with the caller; the caller puts the
// signature into sign or verify mode before reading and signs or verifies after. Read and
// Available on a closed stream throw IllegalStateError_t 85 "SignatureInputStream is already
// closed."; Close closes the wrapped stream, a second Close does nothing; the exceptions of the
// wrapped stream and the signature (IllegalStateError_t 78 when it has no mode) pass through.
// Not synchronised.
class QMSEC_API SignatureInputStream : public QmXplIo::FilterInputStream_t {
  public:
    // Reads in (shared) and feeds signature (shared, not copied). IllegalArgumentError_t for an
    // empty in; IllegalStateError_t ("Signature") for an empty signature.
    SignatureInputStream(const QmXplIo::InputStream_t& in, const QmSecCore::Signature& signature);
    ~SignatureInputStream() override;

    // The signature the stream feeds (a handle on the same state). These three work on a closed
    // stream too; without a body they throw IllegalStateError_t ("SignatureInputStream").
    QmSecCore::Signature GetSignature() const;
    // Feeding on and off; bytes read while off are not signed or verified.
    void On() const;
    void Off() const;

  private:
    SignatureInputStreamImpl* SignatureBody() const;
};

}  // namespace QmSecIo
