#include "FilterStreamBodies.h"
#include "QmSecIo/SignatureInputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames{"SignatureInputStreamImpl Constructor",
                                   "SignatureInputStreamImpl Destructor",
                                   "SignatureInputStreamImpl::DestroyThis()",
                                   "SignatureInputStreamImpl::Read()",
                                   "SignatureInputStreamImpl::Available()",
                                   "SignatureInputStreamImpl::Close()",
                                   "Signature"};
}  // namespace

class SignatureInputStreamImpl final
    : public detail::PassThroughInputStreamImpl<QmSecCore::Signature> {
  public:
    SignatureInputStreamImpl(const QmXplIo::InputStream_t& in,
                             const QmSecCore::Signature& signature)
        : PassThroughInputStreamImpl(in, signature, kNames, 85) {}
};

SignatureInputStream::SignatureInputStream(const QmXplIo::InputStream_t& in,
                                           const QmSecCore::Signature& signature)
    : FilterInputStream_t(new SignatureInputStreamImpl(in, signature)) {}
SignatureInputStream::~SignatureInputStream() = default;

SignatureInputStreamImpl* SignatureInputStream::SignatureBody() const {
    return detail::CheckedBody<SignatureInputStreamImpl>(GetImpl(), "SignatureInputStream");
}

QmSecCore::Signature SignatureInputStream::GetSignature() const {
    return SignatureBody()->GetPrimitive();
}
void SignatureInputStream::On() const { SignatureBody()->On(); }
void SignatureInputStream::Off() const { SignatureBody()->Off(); }

}  // namespace QmSecIo
