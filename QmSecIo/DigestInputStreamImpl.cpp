#include "FilterStreamBodies.h"
#include "QmSecIo/DigestInputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames{"DigestInputStreamImpl Constructor",
                                   "DigestInputStreamImpl Destructor",
                                   "DigestInputStreamImpl::DestroyThis()",
                                   "DigestInputStreamImpl::Read()",
                                   "DigestInputStreamImpl::Available()",
                                   "DigestInputStreamImpl::Close()",
                                   "MessageDigest"};
}  // namespace

class DigestInputStreamImpl final
    : public detail::PassThroughInputStreamImpl<QmSecCore::MessageDigest> {
  public:
    DigestInputStreamImpl(const QmXplIo::InputStream_t& in, const QmSecCore::MessageDigest& digest)
        : PassThroughInputStreamImpl(in, digest, kNames, 18) {}
};

DigestInputStream::DigestInputStream(const QmXplIo::InputStream_t& in,
                                     const QmSecCore::MessageDigest& digest)
    : FilterInputStream_t(new DigestInputStreamImpl(in, digest)) {}
DigestInputStream::~DigestInputStream() = default;

DigestInputStreamImpl* DigestInputStream::DigestBody() const {
    return detail::CheckedBody<DigestInputStreamImpl>(GetImpl(), "DigestInputStream");
}

QmSecCore::MessageDigest DigestInputStream::GetDigest() const {
    return DigestBody()->GetPrimitive();
}
void DigestInputStream::On() const { DigestBody()->On(); }
void DigestInputStream::Off() const { DigestBody()->Off(); }

}  // namespace QmSecIo
