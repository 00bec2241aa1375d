// Verifying a message signature against the trust of the node's key store.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/MessageSignature.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/InputStream_t.h"

namespace QmSecCore {

class MessageVerifierImpl;

// Checks a MessageSignature over the data fed to it. The constructor decides from the node's
// key store (the default KeyStore) which public key it trusts for the signer; store aliases are
// matched against certificate common names, and only one level of issuer is looked at:
//
// A signature with the signer's certificate S:
//   - S must be valid now (58).
//   - If the store holds a trusted certificate I under S's issuer name: I must be valid now
//     (59) and must verify S's signature (60); then S's key is used.
//   - Otherwise the store must hold a trusted certificate L under S's subject name (else 62)
//     with the fingerprint of S (else 61); then L's key is used.
// A signature with only the signer's name N:
//   - The store must hold a certificate C under N (plain or trusted; else 65), valid now (63).
//   - A trusted C is used as it is.
//   - Otherwise the store must hold a trusted certificate I under C's issuer name (else 62),
//     valid now (64), that verifies C's signature (60); then C's key is used.
// Every refusal is a MessageSignatureException with the number given; the store's and the
// certificates' own exceptions (KeyStoreException, EntryNotFoundException,
// CertificateParsingException) pass through unchanged. A failed construction leaves no verifier.
//
// A handle: copies share one state. Not synchronised: one thread uses a verifier at a time.
// Every method of a handle without a body throws IllegalStateError_t ("MessageVerifier").
class QMSEC_API MessageVerifier : public Object {
  public:
    // An empty handle.
    MessageVerifier() noexcept = default;
    // Runs the trust decision above and prepares verification with the chosen key.
    explicit MessageVerifier(const MessageSignature& signature);
    ~MessageVerifier() override;

    // Feeds the whole array.
    void Update(const QmXplArray::CharArray_t& data) const;
    // Feeds everything in reads from its current position to its end (it is not closed).
    // MessageSignatureException 52 when reading fails, with the stream's exception as details.
    void Update(const QmXplIo::InputStream_t& in) const;
    // Whether the signature matches the data fed since construction or the last Verify; a
    // mismatch is false, not an error. The next message can be fed at once.
    bool Verify() const;

  private:
    MessageVerifierImpl* Body() const;
};

}  // namespace QmSecCore
