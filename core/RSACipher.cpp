#include "RSACipher.h"

#include <openssl/rsa.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "ArgumentChecks.h"
#include "QmXpl/IOException_t.h"
#include "RSAKey.h"
#include "SecretWiper.h"
#include "StableInput.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalArgumentError_t;

namespace {

// Room that PKCS #1 v1.5 padding takes in a block is 11 bytes; the chunks are one byte shorter
// still. Ciphertexts made with this length are stored, so it stays.
constexpr int kChunkReserve = 12;

[[noreturn]] void ThrowChunkFailure() {
    QMSEC_THROW_MSG(kCoreArea, QmXplIo::IOException_t, 72, << ossl::ErrorText());
}

}  // namespace

RSACipher::RSACipher(Cipher::OpMode mode, const Key& key)
    : CipherImpl(Key::eRSA, "RSACipher::Reset()") {
    QMSEC_BLOCK(kCoreArea.proc, "RSACipher Constructor");
    Initializer::Ensure();
    Init(mode, key);
}

RSACipher::~RSACipher() {
    QMSEC_BLOCK(kCoreArea.proc, "RSACipher Destructor");
    WipeChunk();
}

void RSACipher::Init(Cipher::OpMode mode, const Key& key) {
    QMSEC_BLOCK(kCoreArea.proc, "RSACipher::Init()");
    EVP_PKEY* pkey = RSAKey::PKeyOf(key);
    if (!pkey) QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 71, );
    int modulusLength = EVP_PKEY_get_size(pkey);
    if (modulusLength <= kChunkReserve) QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 71, );

    bool encrypt = mode == Cipher::eEncrypt;
    bool privateKey = key.GetType() == Key::eRSAPrivateKey;
    ossl::PKeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
    if (!ctx) ThrowChunkFailure();
    int ok = encrypt
                 ? (privateKey ? EVP_PKEY_sign_init(ctx.get()) : EVP_PKEY_encrypt_init(ctx.get()))
                 : (privateKey ? EVP_PKEY_decrypt_init(ctx.get())
                               : EVP_PKEY_verify_recover_init(ctx.get()));
    if (ok != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        ThrowChunkFailure();

    WipeChunk();
    key_ = key;
    ctx_ = std::move(ctx);
    encrypt_ = encrypt;
    privateKey_ = privateKey;
    modulusLength_ = modulusLength;
    chunkLength_ = encrypt ? modulusLength - kChunkReserve : modulusLength;
    chunk_.assign(static_cast<size_t>(modulusLength), 0);
    buffered_ = 0;
}

void RSACipher::WipeChunk() noexcept {
    detail::WipeSecret(chunk_);
    buffered_ = 0;
}

int RSACipher::GetOutputSize(int inputLength) const {
    detail::CheckLength(kCoreArea, inputLength);
    // Bytes already buffered belong to the chunks this input completes.
    long long pending = static_cast<long long>(inputLength) + buffered_;
    long long size = encrypt_ ? (pending / chunkLength_ + 1) * modulusLength_ : pending;
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

int RSACipher::ProcessChunk(CharArray_t& out, long long offset) {
    size_t length = static_cast<size_t>(buffered_);
    // The chunk is used up whatever happens: a failed chunk does not linger into the next one.
    buffered_ = 0;
    auto* write = detail::OutputRoom(kCoreArea, out, offset, modulusLength_);
    size_t written = static_cast<size_t>(modulusLength_);
    const unsigned char* chunk = chunk_.data();
    int ok = encrypt_ ? (privateKey_ ? EVP_PKEY_sign(ctx_.get(), write, &written, chunk, length)
                                     : EVP_PKEY_encrypt(ctx_.get(), write, &written, chunk, length))
                      : (privateKey_
                             ? EVP_PKEY_decrypt(ctx_.get(), write, &written, chunk, length)
                             : EVP_PKEY_verify_recover(ctx_.get(), write, &written, chunk, length));
    if (ok != 1) ThrowChunkFailure();
    return static_cast<int>(written);
}

int RSACipher::Update(const char* in, int length, CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "RSACipher::Update()");
    detail::CheckBufferArgs(kCoreArea, in, length, out, outOffset);
    detail::StableInput stable(in, length, out);
    int produced = 0;
    while (length > 0) {
        int take = std::min(chunkLength_ - buffered_, length);
        std::memcpy(chunk_.data() + buffered_, in, static_cast<size_t>(take));
        buffered_ += take;
        in += take;
        length -= take;
        if (buffered_ == chunkLength_)
            produced += ProcessChunk(out, static_cast<long long>(outOffset) + produced);
    }
    return produced;
}

int RSACipher::DoFinal(CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "RSACipher::DoFinal()");
    if (outOffset < 0 || outOffset > out.GetSize())
        QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 73, );
    if (buffered_ == 0) return 0;
    if (!encrypt_) {
        // Every block written by encryption has the modulus length; a shorter one is a
        // truncated ciphertext. OpenSSL would read it as a number with leading zero bytes left
        // out, and now and then decrypt it: refuse it instead.
        int have = buffered_;
        WipeChunk();
        QMSEC_THROW_MSG(kCoreArea, QmXplIo::IOException_t, 72,
                        << ("the last block has " + std::to_string(have) + " of " +
                            std::to_string(modulusLength_) + " bytes"));
    }
    return ProcessChunk(out, outOffset);
}

}  // namespace QmSecCore
