#include "MessageSealerImpl.h"

#include <climits>
#include <cstring>
#include <string>

#include "ArgumentChecks.h"
#include "Initializer.h"
#include "QmSecCore/X509Certificate.h"
#include "RandomBytes.h"
#include "SecretWiper.h"
#include "StableInput.h"
#include "TransformFamily.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalArgumentError_t;

// --- handle ----------------------------------------------------------------------------------

MessageSealer::MessageSealer(const X509Certificate& recipient, Key::Algorithm algorithm)
    : Object(new MessageSealerImpl(recipient, algorithm)) {}
MessageSealer::~MessageSealer() = default;
MessageSealerImpl* MessageSealer::Body() const {
    return GetBody<MessageSealerImpl>("MessageSealer");
}

QMSEC_DEFINE_TRANSFORM_FAMILY(MessageSealer, MessageSealerImpl, kCoreArea, const)

// --- body ------------------------------------------------------------------------------------

MessageSealerImpl::MessageSealerImpl(const X509Certificate& recipient, Key::Algorithm algorithm,
                                     int maxHeaderLength) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSealerImpl Constructor");
    Initializer::Ensure();
    if (algorithm == Key::eRSA) QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 43, );

    // The key block: the secret, then the algorithm. No zero byte in the secret, so that it
    // passes unchanged through any code that takes a password as a C string.
    CharArray_t keyBlock(seal::kKeyBlockLength);
    detail::SecretWiper wipeKeyBlock{keyBlock};
    if (!detail::RandomSecretBytes(keyBlock.GetData(), seal::kSecretLength))
        QMSEC_THROW(kCoreArea, QmXplMsg::RuntimeException_t, detail::RandomFailure());
    seal::PutInt32(keyBlock.GetData() + seal::kSecretLength, static_cast<int32_t>(algorithm));

    {
        CharArray_t password(keyBlock.GetData(), seal::kSecretLength);
        detail::SecretWiper wipePassword{password};
        cipher_ = Cipher(Cipher::eEncrypt, Key(password, algorithm), algorithm);
    }

    Cipher rsa(Cipher::eEncrypt, recipient, Key::eRSA);
    CharArray_t encrypted;
    int length = rsa.DoFinal(keyBlock, encrypted);
    if (length > maxHeaderLength) QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 44, );
    header_.Resize(seal::kLengthFieldLength + length);
    seal::PutInt32(header_.GetData(), length);
    std::memcpy(header_.GetData() + seal::kLengthFieldLength, encrypted.GetData(),
                static_cast<size_t>(length));
}

MessageSealerImpl::~MessageSealerImpl() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSealerImpl Destructor");
}

int MessageSealerImpl::WriteHeader(CharArray_t& out, int outOffset) {
    if (headerWritten_) return 0;
    std::memcpy(detail::OutputRoom(kCoreArea, out, outOffset, header_.GetSize()), header_.GetData(),
                static_cast<size_t>(header_.GetSize()));
    return header_.GetSize();
}

int MessageSealerImpl::Update(const char* in, int length, CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSealerImpl::Update()");
    detail::CheckBufferArgs(kCoreArea, in, length, out, outOffset);
    // The header goes in front of the input's ciphertext: input that lies in out must be safe
    // from it before it is written.
    detail::StableInput stable(in, length, out);
    int written = WriteHeader(out, outOffset);
    written += cipher_.Update(in, length, out, outOffset + written);
    // Only now: a call that fails writes the header again the next time.
    headerWritten_ = true;
    return written;
}

int MessageSealerImpl::DoFinal(CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageSealerImpl::DoFinal()");
    detail::CheckBufferArgs(kCoreArea, nullptr, 0, out, outOffset);
    int written = WriteHeader(out, outOffset);
    // Without any Update before, the cipher writes its pending vector first, so that the
    // unsealer finds one.
    written += cipher_.DoFinal(out, outOffset + written);
    headerWritten_ = true;
    return written;
}

}  // namespace QmSecCore
