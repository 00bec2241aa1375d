// Bodies of Key: the common interface, RSA keys and secret keys.
#pragma once

#include "OpenSsl.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/ObjectImpl.h"
#include "Trace.h"

namespace QmSecCore {

// The key length of a symmetric algorithm: 16 for Blowfish (and the default), 8 for DES, 24
// for Triple-DES; 0 for RSA and values outside the enumeration. Password derivation and the
// symmetric cipher agree on it through this one table.
int SymmetricKeyLength(Key::Algorithm algorithm) noexcept;

class KeyImpl : public ObjectImpl {
  public:
    ~KeyImpl() override;
    virtual QmXplStr::String_t GetAlgorithm() const = 0;
    virtual Key::Type GetType() const = 0;
    virtual QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const = 0;
};

// An RSA public or private key held as an OpenSSL EVP_PKEY.
class RSAKey : public KeyImpl {
  public:
    // Parses PEM text of the given type (0 public, 1 private).
    RSAKey(Key::Type type, const char* data, int length);
    // Shares an existing OpenSSL key (the caller keeps its own reference). IllegalArgumentError_t
    // 67 for a type other than 0 or 1, 69 when the key is not RSA.
    RSAKey(EVP_PKEY* key, Key::Type type);
    ~RSAKey() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "RSAKey::DestroyThis()")

    QmXplStr::String_t GetAlgorithm() const override;
    Key::Type GetType() const override { return type_; }
    QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const override;

    // The OpenSSL key, owned by this body; valid while the body lives.
    EVP_PKEY* GetPKey() const noexcept { return key_.get(); }
    // The key of an RSA Key handle, or null when key is empty or not an RSA key.
    static EVP_PKEY* PKeyOf(const Key& key);

  private:
    ossl::PKey key_;
    Key::Type type_;
};

// Raw symmetric key bytes, wiped when the key is destroyed.
class SecretKey : public KeyImpl {
  public:
    SecretKey(const char* data, int length);
    ~SecretKey() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "SecretKey::DestroyThis()")

    QmXplStr::String_t GetAlgorithm() const override;
    Key::Type GetType() const override { return Key::eSecretKey; }
    QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const override;

    const QmXplArray::CharArray_t& GetBytes() const noexcept { return bytes_; }

  private:
    QmXplArray::CharArray_t bytes_;
};

}  // namespace QmSecCore
