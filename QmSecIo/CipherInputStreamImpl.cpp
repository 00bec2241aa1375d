#include "FilterStreamBodies.h"
#include "QmSecIo/CipherInputStream.h"

namespace QmSecIo {

namespace {
constexpr detail::BodyNames kNames =
    QMSEC_BODY_NAMES(CipherInputStreamImpl, Read, Available, "Cipher");
}  // namespace

class CipherInputStreamImpl final : public detail::TransformingInputStreamImpl<QmSecCore::Cipher> {
  public:
    CipherInputStreamImpl(const QmXplIo::InputStream_t& in, const QmSecCore::Cipher& cipher)
        : TransformingInputStreamImpl(in, cipher, kNames, 16) {}
};

CipherInputStream::CipherInputStream(const QmXplIo::InputStream_t& in,
                                     const QmSecCore::Cipher& cipher)
    : FilterInputStream_t(new CipherInputStreamImpl(in, cipher)) {}
CipherInputStream::~CipherInputStream() = default;

}  // namespace QmSecIo
