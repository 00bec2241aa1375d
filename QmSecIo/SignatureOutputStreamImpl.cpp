#include "FilterStreamBodies.h"
#include "QmSecIo/SignatureOutputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames{"SignatureOutputStreamImpl Constructor",
                                   "SignatureOutputStreamImpl Destructor",
                                   "SignatureOutputStreamImpl::DestroyThis()",
                                   "SignatureOutputStreamImpl::Write()",
                                   "SignatureOutputStreamImpl::Flush()",
                                   "SignatureOutputStreamImpl::Close()",
                                   "Signature"};
}  // namespace

class SignatureOutputStreamImpl final
    : public detail::PassThroughOutputStreamImpl<QmSecCore::Signature> {
  public:
    SignatureOutputStreamImpl(const QmXplIo::OutputStream_t& out,
                              const QmSecCore::Signature& signature)
        : PassThroughOutputStreamImpl(out, signature, kNames, 86) {}
};

SignatureOutputStream::SignatureOutputStream(const QmXplIo::OutputStream_t& out,
                                             const QmSecCore::Signature& signature)
    : FilterOutputStream_t(new SignatureOutputStreamImpl(out, signature)) {}
SignatureOutputStream::~SignatureOutputStream() = default;

SignatureOutputStreamImpl* SignatureOutputStream::SignatureBody() const {
    return detail::CheckedBody<SignatureOutputStreamImpl>(GetImpl(), "SignatureOutputStream");
}

QmSecCore::Signature SignatureOutputStream::GetSignature() const {
    return SignatureBody()->GetPrimitive();
}
void SignatureOutputStream::On() const { SignatureBody()->On(); }
void SignatureOutputStream::Off() const { SignatureBody()->Off(); }

}  // namespace QmSecIo
