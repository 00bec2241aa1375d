#include "FilterStreamBodies.h"
#include "QmSecIo/SignatureInputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames =
    QMSEC_BODY_NAMES(SignatureInputStreamImpl, Read, Available, "Signature");
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

QMSEC_DEFINE_PASS_THROUGH_HANDLE(SignatureInputStream, SignatureBody, Signature, GetSignature)

}  // namespace QmSecIo
