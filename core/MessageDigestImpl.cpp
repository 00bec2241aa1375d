#include "MessageDigestImpl.h"

#include <cstring>

#include "ArgumentChecks.h"
#include "QmSecCore/SecCoreException.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelProc;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::RuntimeException_t;

// --- handle ----------------------------------------------------------------------------------

MessageDigest::MessageDigest(Algorithm algorithm) : Object(new MessageDigestImpl(algorithm)) {}
MessageDigest::~MessageDigest() = default;

MessageDigestImpl* MessageDigest::Body() const {
    return GetBody<MessageDigestImpl>("MessageDigest");
}

void MessageDigest::Update(char byte) const { Body()->Update(&byte, 1); }
void MessageDigest::Update(const QmXplArray::CharArray_t& data) const {
    Body()->Update(data.GetData(), data.GetSize());
}
void MessageDigest::Update(const QmXplArray::CharArray_t& data, int offset, int length) const {
    Body()->Update(data, offset, length);
}
void MessageDigest::Update(const char* data, int length) const { Body()->Update(data, length); }
void MessageDigest::Update(const char* text) const {
    Body()->Update(text, text ? static_cast<int>(std::strlen(text)) : 0);
}

int MessageDigest::Digest(QmXplArray::CharArray_t& out) const { return Body()->Digest(out); }
int MessageDigest::Digest(const QmXplArray::CharArray_t& data, QmXplArray::CharArray_t& out) const {
    return Digest(data.GetData(), data.GetSize(), out);
}
int MessageDigest::Digest(const char* text, QmXplArray::CharArray_t& out) const {
    return Digest(text, text ? static_cast<int>(std::strlen(text)) : 0, out);
}
int MessageDigest::Digest(const char* data, int length, QmXplArray::CharArray_t& out) const {
    return Body()->Digest(data, length, out);
}

void MessageDigest::Reset() const { Body()->Reset(); }

// --- body ------------------------------------------------------------------------------------

MessageDigestImpl::MessageDigestImpl(MessageDigest::Algorithm algorithm) : algorithm_(algorithm) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageDigestImpl Constructor");
    Initializer::Ensure();
    ctx_.reset(EVP_MD_CTX_new());
    if (!ctx_) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 145, );
    Init();
}

MessageDigestImpl::~MessageDigestImpl() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageDigestImpl Destructor");
}

void MessageDigestImpl::Init() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageDigestImpl::Init()");
    switch (algorithm_) {
        case MessageDigest::eDefault:
            QMSEC_TRACE(kCoreArea.init, kLevelProc,
                        "MessageDigestImpl: Using Default digest (SHA1)");
            md_ = ossl::Sha1();
            break;
        case MessageDigest::eMD5:
            QMSEC_TRACE(kCoreArea.init, kLevelProc, "MessageDigestImpl: Using MD5 digest");
            md_ = ossl::Md5();
            break;
        case MessageDigest::eSHA1:
            QMSEC_TRACE(kCoreArea.init, kLevelProc, "MessageDigestImpl: Using SHA1 digest");
            md_ = ossl::Sha1();
            break;
        default:
            QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 41, );
    }
    Restart();
}

void MessageDigestImpl::Restart() {
    if (!md_ || EVP_DigestInit_ex(ctx_.get(), md_, nullptr) != 1) {
        QMSEC_THROW(kCoreArea, SecCoreException,
                    QmXplMsg::CreateWarn_t(QmXplStr::String_t(
                        ("Digest could not be started (" + ossl::ErrorText() + ")."))));
    }
    finished_ = false;
}

void MessageDigestImpl::Update(const char* data, int length) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageDigestImpl::Update()");
    detail::CheckInput(kCoreArea, data, length);
    if (finished_) Restart();
    if (length > 0) EVP_DigestUpdate(ctx_.get(), data, static_cast<size_t>(length));
}

void MessageDigestImpl::Update(const QmXplArray::CharArray_t& data, int offset, int length) {
    detail::CheckArrayRange(kCoreArea, data, offset, length);
    Update(data.GetData() + offset, length);
}

int MessageDigestImpl::Digest(const char* data, int length, QmXplArray::CharArray_t& out) {
    Update(data, length);
    return Digest(out);
}

int MessageDigestImpl::Digest(QmXplArray::CharArray_t& out) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageDigestImpl::Digest()");
    if (finished_) Restart();
    if (out.GetSize() < EVP_MAX_MD_SIZE) out.Resize(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx_.get(), reinterpret_cast<unsigned char*>(out.GetData()), &length);
    finished_ = true;
    out.Resize(static_cast<int>(length));
    return static_cast<int>(length);
}

void MessageDigestImpl::Reset() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageDigestImpl::Reset()");
    Init();
}

}  // namespace QmSecCore
