// RSA encryption and decryption in chunks with PKCS #1 v1.5 padding.
#pragma once

#include <vector>

#include "CipherImpl.h"
#include "OpenSsl.h"

namespace QmSecCore {

// The RSA cipher. Encryption cuts the input into chunks of (modulus length - 12) bytes, each
// giving one block of the modulus length; decryption takes blocks of the modulus length. A public
// key encrypts (EVP_PKEY_encrypt) and recovers what a private key encrypted
// (EVP_PKEY_verify_recover); a private key decrypts (EVP_PKEY_decrypt) and encrypts for the
// public key to recover (EVP_PKEY_sign without digest). The OpenSSL operation is prepared once
// per key and mode and reused for every chunk.
class RSACipher : public CipherImpl {
  public:
    // IllegalArgumentError_t 71 for a key that is not an RSA key (or one too short to carry a
    // chunk); IOException_t 72 when OpenSSL cannot prepare the operation.
    RSACipher(Cipher::OpMode mode, const Key& key);
    ~RSACipher() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "RSACipher::DestroyThis()")

    int GetOutputSize(int inputLength) const override;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) override;
    int DoFinal(QmXplArray::CharArray_t& out, int outOffset) override;

  private:
    void Init(Cipher::OpMode mode, const Key& key) override;
    // Processes the buffered chunk into out at offset; returns the bytes written.
    int ProcessChunk(QmXplArray::CharArray_t& out, long long offset);
    void WipeChunk() noexcept;

    bool encrypt_ = true;
    Key key_;  // keeps the OpenSSL key alive
    bool privateKey_ = false;
    ossl::PKeyCtx ctx_;
    int modulusLength_ = 0;
    int chunkLength_ = 0;
    std::vector<unsigned char> chunk_;  // modulus length; the input of the next chunk
    int buffered_ = 0;
};

}  // namespace QmSecCore
