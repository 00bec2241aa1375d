#include "SignatureImpl.h"

#include <cstring>

#include "ArgumentChecks.h"
#include "QmSecCore/InvalidKeyException.h"
#include "QmSecCore/SignatureException.h"
#include "RSAKey.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelProc;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::IllegalStateError_t;
using QmXplMsg::RuntimeException_t;

// --- handle ----------------------------------------------------------------------------------

Signature::Signature(Algorithm algorithm) : Object(new SignatureImpl(algorithm)) {}
Signature::~Signature() = default;
SignatureImpl* Signature::Body() const { return GetBody<SignatureImpl>("Signature"); }

void Signature::InitSign(const Key& privateKey) const { Body()->InitSign(privateKey); }
void Signature::InitVerify(const Key& publicKey) const { Body()->InitVerify(publicKey); }
void Signature::Update(char byte) const { Body()->Update(&byte, 1); }
void Signature::Update(const QmXplArray::CharArray_t& data) const {
    Body()->Update(data.GetData(), data.GetSize());
}
void Signature::Update(const QmXplArray::CharArray_t& data, int offset, int length) const {
    Body()->Update(data, offset, length);
}
void Signature::Update(const char* data, int length) const { Body()->Update(data, length); }
void Signature::Update(const char* text) const {
    Body()->Update(text, text ? static_cast<int>(std::strlen(text)) : 0);
}
int Signature::Sign(QmXplArray::CharArray_t& signature) const { return Body()->Sign(signature); }
bool Signature::Verify(const QmXplArray::CharArray_t& signature) const {
    return Body()->Verify(signature.GetData(), signature.GetSize());
}
bool Signature::Verify(const char* signature, int length) const {
    return Body()->Verify(signature, length);
}

// --- body ------------------------------------------------------------------------------------

SignatureImpl::SignatureImpl(Signature::Algorithm algorithm) {
    QMSEC_BLOCK(kCoreArea.proc, "SignatureImpl Constructor");
    Initializer::Ensure();
    switch (algorithm) {
        case Signature::eDefault:
        case Signature::eSHA1:
            QMSEC_TRACE(kCoreArea.init, kLevelProc,
                        "SignatureImpl: Using SHA1 hash for signature (default)");
            md_ = ossl::Sha1();
            break;
        case Signature::eMD5:
            QMSEC_TRACE(kCoreArea.init, kLevelProc, "SignatureImpl: Using MD5 hash for signature");
            md_ = ossl::Md5();
            break;
        default:
            QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 77, );
    }
    ctx_.reset(EVP_MD_CTX_new());
    if (!ctx_) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 145, );
}

SignatureImpl::~SignatureImpl() { QMSEC_BLOCK(kCoreArea.proc, "SignatureImpl Destructor"); }

void SignatureImpl::StartHash() {
    EVP_PKEY* pkey = RSAKey::PKeyOf(key_);
    int ok = mode_ == Mode::eSign ? EVP_DigestSignInit(ctx_.get(), nullptr, md_, nullptr, pkey)
                                  : EVP_DigestVerifyInit(ctx_.get(), nullptr, md_, nullptr, pkey);
    if (ok != 1) {
        // The key passed the type check, so this is the engine failing: report it as such.
        mode_ == Mode::eSign
            ? QMSEC_THROW_MSG(kCoreArea, SignatureException, 84, << ossl::ErrorText())
            : QMSEC_THROW_MSG(kCoreArea, SignatureException, 82, << ossl::ErrorText());
    }
    finished_ = false;
}

void SignatureImpl::InitSign(const Key& key) {
    QMSEC_BLOCK(kCoreArea.proc, "SignatureImpl::InitSign()");
    if (key.IsNull() || key.GetType() != Key::eRSAPrivateKey)
        QMSEC_THROW_MSG(kCoreArea, InvalidKeyException, 79, );
    key_ = key;
    mode_ = Mode::eSign;
    StartHash();
}

void SignatureImpl::InitVerify(const Key& key) {
    QMSEC_BLOCK(kCoreArea.proc, "SignatureImpl::InitVerify()");
    if (key.IsNull() || key.GetType() != Key::eRSAPublicKey)
        QMSEC_THROW_MSG(kCoreArea, InvalidKeyException, 80, );
    key_ = key;
    mode_ = Mode::eVerify;
    StartHash();
}

void SignatureImpl::Update(const char* data, int length) {
    QMSEC_BLOCK(kCoreArea.proc, "SignatureImpl::Update()");
    if (mode_ == Mode::eNone) QMSEC_THROW_MSG(kCoreArea, IllegalStateError_t, 78, );
    detail::CheckInput(kCoreArea, data, length);
    if (finished_) StartHash();
    if (length > 0) EVP_DigestUpdate(ctx_.get(), data, static_cast<size_t>(length));
}

void SignatureImpl::Update(const QmXplArray::CharArray_t& data, int offset, int length) {
    if (mode_ == Mode::eNone) QMSEC_THROW_MSG(kCoreArea, IllegalStateError_t, 78, );
    detail::CheckArrayRange(kCoreArea, data, offset, length);
    Update(data.GetData() + offset, length);
}

int SignatureImpl::Sign(QmXplArray::CharArray_t& signature) {
    QMSEC_BLOCK(kCoreArea.proc, "SignatureImpl::Sign()");
    if (mode_ != Mode::eSign) QMSEC_THROW_MSG(kCoreArea, IllegalStateError_t, 83, );
    if (finished_) StartHash();
    size_t length = static_cast<size_t>(EVP_PKEY_get_size(RSAKey::PKeyOf(key_)));
    signature.Resize(static_cast<int>(length));
    if (EVP_DigestSignFinal(ctx_.get(), reinterpret_cast<unsigned char*>(signature.GetData()),
                            &length) != 1) {
        QMSEC_THROW_MSG(kCoreArea, SignatureException, 84, << ossl::ErrorText());
    }
    signature.Resize(static_cast<int>(length));
    finished_ = true;
    return static_cast<int>(length);
}

bool SignatureImpl::Verify(const char* signature, int length) {
    QMSEC_BLOCK(kCoreArea.proc, "SignatureImpl::Verify()");
    if (mode_ != Mode::eVerify) QMSEC_THROW_MSG(kCoreArea, IllegalStateError_t, 81, );
    detail::CheckInput(kCoreArea, signature, length);
    if (finished_) StartHash();
    int result = EVP_DigestVerifyFinal(
        ctx_.get(), reinterpret_cast<const unsigned char*>(signature), static_cast<size_t>(length));
    if (result != 1 && result != 0)
        QMSEC_THROW_MSG(kCoreArea, SignatureException, 82, << ossl::ErrorText());
    // A mismatch leaves its reason in the error queue; it is an answer, not an error.
    if (result == 0) ossl::DiscardErrors();
    finished_ = true;
    return result == 1;
}

}  // namespace QmSecCore
