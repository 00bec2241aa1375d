// The core namespace's reading scrambler: the body of QmSecIo::XORInputStream, reporting to the
// core trace area.
#include "QmSecCore/XORInputStream.h"
#include "XORStreamImpl.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;

class XORInputStreamImpl final : public QmSecIo::XORInputStreamImpl {
  public:
    using QmSecIo::XORInputStreamImpl::XORInputStreamImpl;
};

XORInputStream::XORInputStream(const QmXplIo::InputStream_t& in)
    : FilterInputStream_t(new XORInputStreamImpl(kCoreArea, in)) {}
XORInputStream::XORInputStream(const QmXplIo::InputStream_t& in,
                               const QmXplArray::CharArray_t& password)
    : FilterInputStream_t(new XORInputStreamImpl(kCoreArea, in, password)) {}
XORInputStream::~XORInputStream() = default;

}  // namespace QmSecCore
