// Signing a message with the node's private key from the key store.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/MessageSignature.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class MessageSignerImpl;

// Signs the data fed to it with the RSA private key that the node's key store (the default
// KeyStore) holds under the signer's name, SHA-1 with PKCS #1 v1.5 padding, and hands out the
// signature as a MessageSignature with either the signer's certificate from the store or only
// the signer's name. After Sign the next message can be fed at once.
//
// A handle: copies share one state. Not synchronised: one thread uses a signer at a time.
// Every method throws IllegalStateError_t ("MessageSigner") on a handle without a body.
class QMSEC_API MessageSigner : public Object {
  public:
    // The signer is the node itself: the name is CORE_ID of the configuration namespace
    // "sec.core". MessageSignatureException 48 when that is missing or empty (before the key
    // store is opened); otherwise as the next constructor.
    MessageSigner();
    // The signer named signerCN: its private key is read from the key store now.
    // IllegalArgumentError_t 49 for an empty name; MessageSignatureException 50 when the store
    // has no private key under the name, 51 when the store fails to give it (its exception
    // attached as details); the IllegalStateError_t of Crypt when no key provider is registered.
    explicit MessageSigner(const QmXplStr::String_t& signerCN);
    ~MessageSigner() override;

    // Feeds the whole array.
    void Update(const QmXplArray::CharArray_t& data) const;
    // Feeds everything in reads from its current position to its end (it is not closed).
    // MessageSignatureException 52 when reading fails, with the stream's exception as details.
    void Update(const QmXplIo::InputStream_t& in) const;
    // Signs what was fed since the last Sign. With includeCertificate the signer's certificate is
    // read from the key store and carried in the signature, else only the signer's name.
    // MessageSignatureException 54 when signing fails or the store has no certificate (message
    // 53) or cannot give it; the cause is attached as details. When the certificate is what
    // failed, the data fed so far is kept: Sign(false) can still sign it.
    MessageSignature Sign(bool includeCertificate);

  private:
    MessageSignerImpl* Body() const;
};

}  // namespace QmSecCore
