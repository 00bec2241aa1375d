#include "FilterStreamBodies.h"
#include "QmSecIo/SignatureOutputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames =
    QMSEC_BODY_NAMES(SignatureOutputStreamImpl, Write, Flush, "Signature");
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

QMSEC_DEFINE_PASS_THROUGH_HANDLE(SignatureOutputStream, SignatureBody, Signature, GetSignature)

}  // namespace QmSecIo
