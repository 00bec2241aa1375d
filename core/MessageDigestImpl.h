// Body of MessageDigest.
#pragma once

#include "OpenSsl.h"
#include "QmSecCore/MessageDigest.h"
#include "QmSecCore/ObjectImpl.h"
#include "Trace.h"

namespace QmSecCore {

class MessageDigestImpl : public ObjectImpl {
  public:
    explicit MessageDigestImpl(MessageDigest::Algorithm algorithm);
    ~MessageDigestImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "MessageDigestImpl::DestroyThis()")

    void Update(const char* data, int length);
    void Update(const QmXplArray::CharArray_t& data, int offset, int length);
    int Digest(QmXplArray::CharArray_t& out);
    int Digest(const char* data, int length, QmXplArray::CharArray_t& out);
    void Reset();
    MessageDigest::Algorithm GetAlgorithm() const noexcept { return algorithm_; }

  private:
    void Init();
    // A finished context is started again lazily, when the next message begins: a digest that
    // is taken and then dropped does not pay for a restart.
    void Restart();

    MessageDigest::Algorithm algorithm_;
    const EVP_MD* md_ = nullptr;
    ossl::MdCtx ctx_;
    bool finished_ = false;
};

}  // namespace QmSecCore
