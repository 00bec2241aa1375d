#include "MessageUnsealerImpl.h"

#include <algorithm>
#include <cstring>

#include "ArgumentChecks.h"
#include "Initializer.h"
#include "MessageSealerImpl.h"
#include "QmSecCore/SecCoreException.h"
#include "SecretWiper.h"
#include "TransformFamily.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelOperation;
using QmXplArray::CharArray_t;

// --- handle ----------------------------------------------------------------------------------

MessageUnsealer::MessageUnsealer(const Key& privateKey)
    : Object(new MessageUnsealerImpl(privateKey)) {}
MessageUnsealer::~MessageUnsealer() = default;
MessageUnsealerImpl* MessageUnsealer::Body() const {
    return GetBody<MessageUnsealerImpl>("MessageUnsealer");
}

QMSEC_DEFINE_TRANSFORM_FAMILY(MessageUnsealer, MessageUnsealerImpl, kCoreArea, )

// --- body ------------------------------------------------------------------------------------

namespace {

[[noreturn]] void ThrowMalformed() { QMSEC_THROW_MSG(kCoreArea, SecCoreException, 57, ); }

}  // namespace

MessageUnsealerImpl::MessageUnsealerImpl(const Key& privateKey) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageUnsealerImpl Constructor");
    Initializer::Ensure();
    if (privateKey.IsNull() || privateKey.GetType() != Key::eRSAPrivateKey)
        QMSEC_THROW_MSG(kCoreArea, QmXplMsg::IllegalArgumentError_t, 55, );
    rsa_ = Cipher(Cipher::eDecrypt, privateKey, Key::eRSA);
    collected_.Resize(seal::kLengthFieldLength);
}

MessageUnsealerImpl::~MessageUnsealerImpl() {
    QMSEC_BLOCK(kCoreArea.proc, "MessageUnsealerImpl Destructor");
    collected_.Wipe();
}

bool MessageUnsealerImpl::ReadHeader(const char*& in, int& length) {
    if (!lengthRead_) {
        int take = std::min(seal::kLengthFieldLength - count_, length);
        if (take > 0) std::memcpy(collected_.GetData() + count_, in, static_cast<size_t>(take));
        count_ += take;
        in += take;
        length -= take;
        if (count_ < seal::kLengthFieldLength) return false;
        int32_t announced = seal::GetInt32(collected_.GetData());
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "MessageUnsealerImpl: Header length " << static_cast<int>(announced));
        // Checked before anything is allocated for the header: the length comes from outside.
        if (announced <= 0 || announced > seal::kMaxHeaderLength) ThrowMalformed();
        headerLength_ = announced;
        lengthRead_ = true;
        count_ = 0;
        collected_.Resize(headerLength_);
    }
    if (length == 0) return false;
    int take = std::min(headerLength_ - count_, length);
    std::memcpy(collected_.GetData() + count_, in, static_cast<size_t>(take));
    count_ += take;
    in += take;
    length -= take;
    if (count_ < headerLength_) return false;
    OpenHeader();
    return true;
}

void MessageUnsealerImpl::OpenHeader() {
    CharArray_t keyBlock;
    detail::SecretWiper wipeKeyBlock{keyBlock};
    // A header that is not a whole number of RSA blocks, or that another key encrypted, fails
    // here with the cipher's own error.
    int n = rsa_.DoFinal(collected_.GetData(), headerLength_, keyBlock);
    collected_.Wipe();
    count_ = 0;
    if (n < seal::kAlgorithmLength) ThrowMalformed();
    int secretLength = n - seal::kAlgorithmLength;
    auto algorithm = static_cast<uint32_t>(seal::GetInt32(keyBlock.GetData() + secretLength));
    // Unsigned: a negative value is as far outside as a large one.
    if (algorithm > static_cast<uint32_t>(Key::eDES3)) ThrowMalformed();
    CharArray_t secret(keyBlock.GetData(), secretLength);
    detail::SecretWiper wipeSecret{secret};
    auto symmetric = static_cast<Key::Algorithm>(algorithm);
    // eRSA is refused by the key derivation (IllegalArgumentError_t 20).
    cipher_ = Cipher(Cipher::eDecrypt, Key(secret, symmetric), symmetric);
    cipherReady_ = true;
}

int MessageUnsealerImpl::Update(const char* in, int length, CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageUnsealerImpl::Update()");
    detail::CheckBufferArgs(kCoreArea, in, length, out, outOffset);
    if (failed_) ThrowMalformed();
    if (!cipherReady_) {
        try {
            if (!ReadHeader(in, length)) return 0;
        } catch (...) {
            // Whatever follows a refused length or header cannot be told apart from it.
            failed_ = true;
            collected_.Wipe();
            throw;
        }
    }
    if (length == 0) return 0;
    return cipher_.Update(in, length, out, outOffset);
}

int MessageUnsealerImpl::DoFinal(CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "MessageUnsealerImpl::DoFinal()");
    detail::CheckBufferArgs(kCoreArea, nullptr, 0, out, outOffset);
    if (!cipherReady_) QMSEC_THROW_MSG(kCoreArea, SecCoreException, 56, );
    return cipher_.DoFinal(out, outOffset);
}

}  // namespace QmSecCore
