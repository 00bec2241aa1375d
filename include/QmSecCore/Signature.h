// RSA signatures (PKCS #1 v1.5) over data fed in pieces, hashed with SHA-1 or MD5.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecCore {

class SignatureImpl;

// Signs with a private key or verifies with a public key; one object may switch modes and serve
// message after message (Sign and Verify start the next hash). A handle: copies share the state.
// Not synchronised. Every method of a handle without a body throws IllegalStateError_t
// ("Signature").
class QMSEC_API Signature : public Object {
  public:
    enum Algorithm : int { eDefault = 0, eMD5 = 1, eSHA1 = 2 };  // eDefault is SHA-1

    // Not initialised for either mode yet. IllegalArgumentError_t 77 for an unknown algorithm.
    explicit Signature(Algorithm algorithm = eDefault);
    ~Signature() override;

    // Sign mode with an RSA private key; InvalidKeyException 79 for any other key. Starts a new
    // hash. The key is shared, not copied.
    void InitSign(const Key& privateKey) const;
    // Verify mode with an RSA public key; InvalidKeyException 80 for any other key.
    void InitVerify(const Key& publicKey) const;

    // Hash data. IllegalStateError_t 78 before InitSign/InitVerify; IllegalArgumentError_t 40
    // for a negative length or a null pointer with a positive length, 42 for a range outside the
    // array.
    void Update(char byte) const;
    void Update(const QmXplArray::CharArray_t& data) const;
    void Update(const QmXplArray::CharArray_t& data, int offset, int length) const;
    void Update(const char* data, int length) const;
    void Update(const char* text) const;  // without the terminator; null hashes nothing

    // Signs what was hashed into signature (sized to the modulus) and returns its length.
    // IllegalStateError_t 83 outside sign mode; SignatureException 84 when signing fails.
    int Sign(QmXplArray::CharArray_t& signature) const;
    // True when signature matches what was hashed; a mismatch is false, not an error.
    // IllegalStateError_t 81 outside verify mode; SignatureException 82 when the check cannot be
    // made at all.
    bool Verify(const QmXplArray::CharArray_t& signature) const;
    bool Verify(const char* signature, int length) const;

  private:
    SignatureImpl* Body() const;
};

}  // namespace QmSecCore
