// RSA public and private keys and symmetric secret keys.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class KeyImpl;

// The one key type passed between the library's parts. Immutable after construction and safe to
// share between threads. Every method but GetImpl() throws IllegalStateError_t ("Key") on a
// handle without a body.
class QMSEC_API Key : public Object {
  public:
    enum Type : int { eRSAPublicKey = 0, eRSAPrivateKey = 1, eSecretKey = 2 };
    // Symmetric algorithms and RSA; eDefault is Blowfish.
    enum Algorithm : int { eDefault = 0, eBlowfish = 1, eDES = 2, eRSA = 3, eDES3 = 4 };

    // An empty handle.
    Key() noexcept = default;
    ~Key() override;

    // Types 0 and 1: an RSA key parsed from PEM text ("PUBLIC KEY"; "RSA PRIVATE KEY" or an
    // unencrypted "PRIVATE KEY"), IOException_t 68 when it does not parse as an RSA key of that
    // kind (an encrypted private key does not: no password is ever asked for). Type 2: a secret
    // key holding a copy of the bytes. Any other type leaves the handle empty. A negative length,
    // or a null pointer with a positive length, throws IllegalArgumentError_t 40.
    Key(Type type, const QmXplArray::CharArray_t& data);
    Key(Type type, const char* data, int length);

    // A secret key derived from a password with the PKCS #12 key derivation (SHA-1, 3
    // iterations, the library's fixed salt): 16 bytes for Blowfish, 8 for DES, 24 for Triple-DES.
    // The same password always gives the same key. eRSA throws IllegalArgumentError_t 20; an
    // algorithm outside the enumeration gives an empty secret key. A null password counts as
    // empty. The derived bytes never stay anywhere but in the key, which wipes them when it goes.
    Key(const QmXplArray::CharArray_t& password, Algorithm algorithm);
    Key(const char* password, Algorithm algorithm);

    // "Dummy" for RSA keys, "Symmetric key algorithm" for secret keys.
    QmXplStr::String_t GetAlgorithm() const;
    Type GetType() const;
    // RSA keys: PEM text ("PUBLIC KEY" or "RSA PRIVATE KEY", unencrypted); secret keys: the raw
    // bytes. Fills and returns out. The caller owns what a private key's encoding exposes.
    QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const;
    // The body, unchecked (null for an empty handle).
    KeyImpl* GetImpl() const noexcept;

    // Wraps an existing body (for the library's own parts).
    explicit Key(KeyImpl* body) noexcept;

  private:
    KeyImpl* Body() const;
};

}  // namespace QmSecCore
