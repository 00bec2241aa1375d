// The body of an RSA Key.
#pragma once

#include "KeyImpl.h"

namespace QmSecCore {

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

}  // namespace QmSecCore
