// Body of Signature.
#pragma once

#include "OpenSsl.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/Signature.h"
#include "Trace.h"

namespace QmSecCore {

class SignatureImpl : public ObjectImpl {
  public:
    explicit SignatureImpl(Signature::Algorithm algorithm);
    ~SignatureImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "SignatureImpl::DestroyThis()")

    void InitSign(const Key& key);
    void InitVerify(const Key& key);
    void Update(const char* data, int length);
    void Update(const QmXplArray::CharArray_t& data, int offset, int length);
    int Sign(QmXplArray::CharArray_t& signature);
    bool Verify(const char* signature, int length);

  private:
    enum class Mode { eNone, eSign, eVerify };
    // Starts a new hash bound to the current key and mode.
    void StartHash();

    const EVP_MD* md_ = nullptr;
    ossl::MdCtx ctx_;
    Mode mode_ = Mode::eNone;
    Key key_;
    // After Sign or Verify the next hash is started lazily, when the next message begins.
    bool finished_ = false;
};

}  // namespace QmSecCore
