// The core namespace's writing scrambler: the body of QmSecIo::XOROutputStream, reporting to the
// core trace area.
#include "QmSecCore/XOROutputStream.h"
#include "XORStreamImpl.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;

class XOROutputStreamImpl final : public QmSecIo::XOROutputStreamImpl {
  public:
    using QmSecIo::XOROutputStreamImpl::XOROutputStreamImpl;
};

XOROutputStream::XOROutputStream(const QmXplIo::OutputStream_t& out)
    : FilterOutputStream_t(new XOROutputStreamImpl(kCoreArea, out)) {}
XOROutputStream::XOROutputStream(const QmXplIo::OutputStream_t& out,
                                 const QmXplArray::CharArray_t& password)
    : FilterOutputStream_t(new XOROutputStreamImpl(kCoreArea, out, password)) {}
XOROutputStream::~XOROutputStream() = default;

}  // namespace QmSecCore
