#include "QmSecIo/XORInputStream.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"
#include "XORStreamImpl.h"

namespace QmSecIo {

using QmSecCoreTrc::Area;
using QmSecCoreTrc::kIoArea;

// --- handle ----------------------------------------------------------------------------------

XORInputStream::XORInputStream(const QmXplIo::InputStream_t& in)
    : FilterInputStream_t(new XORInputStreamImpl(kIoArea, in)) {}
XORInputStream::XORInputStream(const QmXplIo::InputStream_t& in,
                               const QmXplArray::CharArray_t& password)
    : FilterInputStream_t(new XORInputStreamImpl(kIoArea, in, password)) {}
XORInputStream::~XORInputStream() = default;

// --- body ------------------------------------------------------------------------------------

namespace {
constexpr detail::XorBodyNames kNames{"XORInputStreamImpl Constructor",
                                      "XORInputStreamImpl Destructor",
                                      "XORInputStreamImpl::DestroyThis()", 100, nullptr};
}  // namespace

XORInputStreamImpl::XORInputStreamImpl(const Area& area, const QmXplIo::InputStream_t& in)
    : XorStreamBody(area, kNames, in) {}

XORInputStreamImpl::XORInputStreamImpl(const Area& area, const QmXplIo::InputStream_t& in,
                                       const QmXplArray::CharArray_t& password)
    : XorStreamBody(area, kNames, in, password) {}

int XORInputStreamImpl::Read(char* data, int len) {
    QMSEC_BLOCK(area_.proc, "XORInputStreamImpl::Read()");
    CheckOpen();
    return key_.Read(
        data, len, [this] { return in_.Read(); }, [] { return true; });
}

int XORInputStreamImpl::Available() {
    QMSEC_BLOCK(area_.proc, "XORInputStreamImpl::Available()");
    CheckOpen();
    int n = in_.Available();
    // The start digit is no data.
    return key_.StartPending() && n > 0 ? n - 1 : n;
}

void XORInputStreamImpl::Close() {
    QMSEC_BLOCK(area_.proc, "XORInputStreamImpl::Close()");
    if (!open_) return;
    open_ = false;
    in_.Close();
}

}  // namespace QmSecIo
