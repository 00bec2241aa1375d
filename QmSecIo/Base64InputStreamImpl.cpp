#include "FilterStreamBodies.h"
#include "QmSecIo/Base64InputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames =
    QMSEC_BODY_NAMES(Base64InputStreamImpl, Read, Available, "Base64");
}  // namespace

class Base64InputStreamImpl final : public detail::TransformingInputStreamImpl<QmSecCore::Base64> {
  public:
    Base64InputStreamImpl(const QmXplIo::InputStream_t& in, const QmSecCore::Base64& codec)
        : TransformingInputStreamImpl(in, codec, kNames, 14) {}
};

Base64InputStream::Base64InputStream(const QmXplIo::InputStream_t& in,
                                     const QmSecCore::Base64& codec)
    : FilterInputStream_t(new Base64InputStreamImpl(in, codec)) {}
Base64InputStream::~Base64InputStream() = default;

}  // namespace QmSecIo
