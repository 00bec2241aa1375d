#include "SecretKeyCipher.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "ArgumentChecks.h"
#include "QmSecCore/BadPaddingException.h"
#include "QmXpl/IOException_t.h"
#include "RandomBytes.h"
#include "SecretKey.h"
#include "StableInput.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelProc;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalArgumentError_t;

SecretKeyCipher::SecretKeyCipher(Cipher::OpMode mode, const Key& key, Key::Algorithm algorithm)
    : CipherImpl(algorithm, "SecretKeyCipher::Reset()") {
    QMSEC_BLOCK(kCoreArea.proc, "SecretKeyCipher Constructor");
    Initializer::Ensure();
    Init(mode, key);
}

SecretKeyCipher::~SecretKeyCipher() { QMSEC_BLOCK(kCoreArea.proc, "SecretKeyCipher Destructor"); }

void SecretKeyCipher::Init(Cipher::OpMode mode, const Key& key) {
    QMSEC_BLOCK(kCoreArea.proc, "SecretKeyCipher::Init() ");
    if (key.IsNull() || key.GetType() != Key::eSecretKey)
        QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 71, );

    const EVP_CIPHER* cipher = nullptr;
    const char* name = nullptr;
    switch (GetAlgorithm()) {
        case Key::eDefault:
            QMSEC_TRACE(kCoreArea.init, kLevelProc,
                        "SecretKeyCipher: Using Default cipher (Blowfish)");
            cipher = ossl::BlowfishCbc();
            name = "BF-CBC";
            break;
        case Key::eBlowfish:
            QMSEC_TRACE(kCoreArea.init, kLevelProc, "SecretKeyCipher: Using Blowfish cipher");
            cipher = ossl::BlowfishCbc();
            name = "BF-CBC";
            break;
        case Key::eDES:
            QMSEC_TRACE(kCoreArea.init, kLevelProc, "SecretKeyCipher: Using DES cipher");
            cipher = ossl::DesCbc();
            name = "DES-CBC";
            break;
        case Key::eDES3:
            QMSEC_TRACE(kCoreArea.init, kLevelProc, "SecretKeyCipher: Using DES3 cipher");
            cipher = ossl::DesEde3Cbc();
            name = "DES-EDE3-CBC";
            break;
        default:
            QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 41, );
    }

    int keyLength = SymmetricKeyLength(GetAlgorithm());
    const CharArray_t& bytes = static_cast<const SecretKey*>(key.GetImpl())->GetBytes();
    if (bytes.GetSize() < keyLength)
        QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 74, << keyLength);
    if (!cipher) {
        // Blowfish and DES come from OpenSSL's legacy provider; without it they do not exist.
        QMSEC_THROW_MSG(kCoreArea, QmXplIo::IOException_t, 75,
                        << (std::string(name) +
                            " is not available; OpenSSL's legacy provider could not be loaded"));
    }

    bool encrypt = mode == Cipher::eEncrypt;
    if (encrypt) {
        QMSEC_TRACE(kCoreArea.init, kLevelProc, "SecretKeyCipher: Operating in Encryption mode");
    } else {
        QMSEC_TRACE(kCoreArea.init, kLevelProc, "SecretKeyCipher: Operating in Decryption mode");
    }

    // The key schedule is built here, in a context of its own, and only then replaces the old
    // one: a failed Reset leaves the cipher as it was. Longer keys use their first bytes.
    ossl::CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), cipher, nullptr,
                          reinterpret_cast<const unsigned char*>(bytes.GetData()), nullptr,
                          encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 1) != 1) {
        ThrowOpenSslFailure();
    }
    ctx_ = std::move(ctx);
    cipher_ = cipher;
    encrypt_ = encrypt;
    EndMessage();
    StartMessage();
}

void SecretKeyCipher::StartMessage() {
    if (encrypt_) {
        // Only the vector changes between messages: the key schedule stays in the context.
        if (!detail::RandomBytes(vector_, kBlockSize) ||
            EVP_CipherInit_ex(ctx_.get(), nullptr, nullptr, nullptr, vector_, -1) != 1) {
            ThrowOpenSslFailure();
        }
    }
    vectorBytes_ = 0;
    vectorPending_ = true;
    started_ = true;
}

void SecretKeyCipher::EndMessage() noexcept {
    started_ = false;
    vectorPending_ = true;
    vectorBytes_ = 0;
}

void SecretKeyCipher::ThrowOpenSslFailure() const {
    QMSEC_THROW_MSG(kCoreArea, QmXplIo::IOException_t, 75, << ossl::ErrorText());
}

int SecretKeyCipher::GetOutputSize(int inputLength) const {
    detail::CheckLength(kCoreArea, inputLength);
    long long size =
        static_cast<long long>(inputLength) + kBlockSize + (vectorPending_ ? kBlockSize : 0);
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

int SecretKeyCipher::Update(const char* in, int length, CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "SecretKeyCipher::Update()");
    detail::CheckBufferArgs(kCoreArea, in, length, out, outOffset);
    if (!started_) StartMessage();
    long long room =
        static_cast<long long>(length) + kBlockSize + (vectorPending_ ? kBlockSize : 0);
    detail::CheckOutputEnd(kCoreArea, outOffset, room);
    detail::StableInput stable(in, length, out);
    auto* write = detail::OutputRoom(kCoreArea, out, outOffset, room);
    auto* read = reinterpret_cast<const unsigned char*>(in);
    int written = 0;
    if (encrypt_) {
        if (vectorPending_) {
            std::memcpy(write, vector_, kBlockSize);
            written = kBlockSize;
            vectorPending_ = false;
        }
    } else if (vectorPending_) {
        // The first bytes of a ciphertext are its vector; they may arrive in several pieces.
        int take = std::min(kBlockSize - vectorBytes_, length);
        if (take > 0) std::memcpy(vector_ + vectorBytes_, read, static_cast<size_t>(take));
        vectorBytes_ += take;
        read += take;
        length -= take;
        if (vectorBytes_ < kBlockSize) return 0;
        if (EVP_CipherInit_ex(ctx_.get(), nullptr, nullptr, nullptr, vector_, -1) != 1)
            ThrowOpenSslFailure();
        vectorPending_ = false;
    }
    if (length > 0) {
        int n = 0;
        int ok = encrypt_ ? EVP_EncryptUpdate(ctx_.get(), write + written, &n, read, length)
                          : EVP_DecryptUpdate(ctx_.get(), write + written, &n, read, length);
        if (ok != 1) ThrowOpenSslFailure();
        written += n;
    }
    return written;
}

int SecretKeyCipher::DoFinal(CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "SecretKeyCipher::DoFinal()");
    detail::CheckBufferArgs(kCoreArea, nullptr, 0, out, outOffset);
    if (!started_) StartMessage();
    if (!encrypt_ && vectorPending_) {
        // Shorter than a vector: nothing that this cipher could have written. The next message
        // starts afresh.
        EndMessage();
        QMSEC_THROW_MSG(kCoreArea, BadPaddingException, 76, );
    }
    auto* write = detail::OutputRoom(kCoreArea, out, outOffset,
                                     kBlockSize + (vectorPending_ ? kBlockSize : 0));
    int written = 0;
    if (vectorPending_) {
        // A message ended before any Update wrote the vector (the empty message, for one):
        // without it no one could decrypt what follows.
        std::memcpy(write, vector_, kBlockSize);
        written = kBlockSize;
        vectorPending_ = false;
    }
    int n = 0;
    if (encrypt_) {
        if (EVP_EncryptFinal_ex(ctx_.get(), write + written, &n) != 1) {
            EndMessage();
            ThrowOpenSslFailure();
        }
    } else if (EVP_DecryptFinal_ex(ctx_.get(), write, &n) != 1) {
        // Wrong key or damaged data. The reason OpenSSL queued is this message's alone.
        ossl::DiscardErrors();
        EndMessage();
        QMSEC_THROW_MSG(kCoreArea, BadPaddingException, 76, );
    }
    EndMessage();
    return written + n;
}

}  // namespace QmSecCore
