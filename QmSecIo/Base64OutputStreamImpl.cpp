#include "FilterStreamBodies.h"
#include "QmSecIo/Base64OutputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames =
    QMSEC_BODY_NAMES(Base64OutputStreamImpl, Write, Flush, "Base64");
}  // namespace

class Base64OutputStreamImpl final
    : public detail::TransformingOutputStreamImpl<QmSecCore::Base64> {
  public:
    Base64OutputStreamImpl(const QmXplIo::OutputStream_t& out, const QmSecCore::Base64& codec)
        : TransformingOutputStreamImpl(out, codec, kNames, 15) {}
};

Base64OutputStream::Base64OutputStream(const QmXplIo::OutputStream_t& out,
                                       const QmSecCore::Base64& codec)
    : FilterOutputStream_t(new Base64OutputStreamImpl(out, codec)) {}
Base64OutputStream::~Base64OutputStream() = default;

}  // namespace QmSecIo
