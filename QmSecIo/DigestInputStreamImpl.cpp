#include "FilterStreamBodies.h"
#include "QmSecIo/DigestInputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames =
    QMSEC_BODY_NAMES(DigestInputStreamImpl, Read, Available, "MessageDigest");
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

QMSEC_DEFINE_PASS_THROUGH_HANDLE(DigestInputStream, DigestBody, MessageDigest, GetDigest)

}  // namespace QmSecIo
