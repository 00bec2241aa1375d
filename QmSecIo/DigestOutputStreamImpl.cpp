#include "FilterStreamBodies.h"
#include "QmSecIo/DigestOutputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames{"DigestOutputStreamImpl Constructor",
                                   "DigestOutputStreamImpl Destructor",
                                   "DigestOutputStreamImpl::DestroyThis()",
                                   "DigestOutputStreamImpl::Write()",
                                   "DigestOutputStreamImpl::Flush()",
                                   "DigestOutputStreamImpl::Close()",
                                   "MessageDigest"};
}  // namespace

class DigestOutputStreamImpl final
    : public detail::PassThroughOutputStreamImpl<QmSecCore::MessageDigest> {
  public:
    DigestOutputStreamImpl(const QmXplIo::OutputStream_t& out,
                           const QmSecCore::MessageDigest& digest)
        : PassThroughOutputStreamImpl(out, digest, kNames, 19) {}
};

DigestOutputStream::DigestOutputStream(const QmXplIo::OutputStream_t& out,
                                       const QmSecCore::MessageDigest& digest)
    : FilterOutputStream_t(new DigestOutputStreamImpl(out, digest)) {}
DigestOutputStream::~DigestOutputStream() = default;

DigestOutputStreamImpl* DigestOutputStream::DigestBody() const {
    return detail::CheckedBody<DigestOutputStreamImpl>(GetImpl(), "DigestOutputStream");
}

QmSecCore::MessageDigest DigestOutputStream::GetDigest() const {
    return DigestBody()->GetPrimitive();
}
void DigestOutputStream::On() const { DigestBody()->On(); }
void DigestOutputStream::Off() const { DigestBody()->Off(); }

}  // namespace QmSecIo
