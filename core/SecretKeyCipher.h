// Blowfish, DES and Triple-DES in CBC mode with the random vector carried in front.
#pragma once

#include "CipherImpl.h"
#include "OpenSsl.h"

namespace QmSecCore {

// The symmetric cipher. Output of encryption: the 8-byte vector, then the CBC ciphertext with
// PKCS #5 padding. Decryption reads the vector from the first 8 input bytes.
//
// The key schedule is built once, when the cipher is constructed or reset; every later message
// only sets a new vector on the same OpenSSL context, so message after message costs no key
// setup and no allocation. The key bytes are not kept: the context holds all the cipher needs,
// and OpenSSL wipes it when it is freed.
class SecretKeyCipher : public CipherImpl {
  public:
    static constexpr int kBlockSize = 8;  // block and vector length of all three algorithms

    // IllegalArgumentError_t 71 for a key that is not a secret key, 41 for an algorithm that is
    // not symmetric, 74 for a key shorter than the algorithm's; IOException_t 75 when OpenSSL
    // cannot provide or start the algorithm.
    SecretKeyCipher(Cipher::OpMode mode, const Key& key, Key::Algorithm algorithm);
    ~SecretKeyCipher() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "SecretKeyCipher::DestroyThis()")

    int GetOutputSize(int inputLength) const override;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) override;
    int DoFinal(QmXplArray::CharArray_t& out, int outOffset) override;

  private:
    void Init(Cipher::OpMode mode, const Key& key) override;
    // Prepares the context for the next message: a fresh vector when encrypting, none yet when
    // decrypting (it comes with the input).
    void StartMessage();
    // Marks the message as ended; the next one starts with the next Update or DoFinal.
    void EndMessage() noexcept;
    [[noreturn]] void ThrowOpenSslFailure() const;

    bool encrypt_ = true;
    const EVP_CIPHER* cipher_ = nullptr;
    ossl::CipherCtx ctx_;
    unsigned char vector_[kBlockSize] = {};
    int vectorBytes_ = 0;        // vector bytes collected so far (decryption)
    bool vectorPending_ = true;  // the vector has not been written (or read) yet
    bool started_ = false;       // the context is ready for this message's data
};

}  // namespace QmSecCore
