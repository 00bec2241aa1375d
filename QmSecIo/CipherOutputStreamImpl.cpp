#include "FilterStreamBodies.h"
#include "QmSecIo/CipherOutputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames =
    QMSEC_BODY_NAMES(CipherOutputStreamImpl, Write, Flush, "Cipher");
}  // namespace

class CipherOutputStreamImpl final
    : public detail::TransformingOutputStreamImpl<QmSecCore::Cipher> {
  public:
    CipherOutputStreamImpl(const QmXplIo::OutputStream_t& out, const QmSecCore::Cipher& cipher)
        : TransformingOutputStreamImpl(out, cipher, kNames, 17) {}
};

CipherOutputStream::CipherOutputStream(const QmXplIo::OutputStream_t& out,
                                       const QmSecCore::Cipher& cipher)
    : FilterOutputStream_t(new CipherOutputStreamImpl(out, cipher)) {}
CipherOutputStream::~CipherOutputStream() = default;

}  // namespace QmSecIo
