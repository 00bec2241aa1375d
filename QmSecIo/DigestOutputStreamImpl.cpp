#include "FilterStreamBodies.h"
#include "QmSecIo/DigestOutputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames =
    QMSEC_BODY_NAMES(DigestOutputStreamImpl, Write, Flush, "MessageDigest");
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

QMSEC_DEFINE_PASS_THROUGH_HANDLE(DigestOutputStream, DigestBody, MessageDigest, GetDigest)

}  // namespace QmSecIo
