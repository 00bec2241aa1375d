#include "QmSecIo/XORBufferedInputStream.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"
#include "XORBufferedStreamImpl.h"

namespace QmSecIo {

using QmSecCoreTrc::kIoArea;

// --- handle ----------------------------------------------------------------------------------

XORBufferedInputStream::XORBufferedInputStream(const QmXplIo::InputStream_t& in)
    : BufferedInputStream_t(new XORBufferedInputStreamImpl(in)) {}
XORBufferedInputStream::XORBufferedInputStream(const QmXplIo::InputStream_t& in,
                                               const QmXplArray::CharArray_t& password)
    : BufferedInputStream_t(new XORBufferedInputStreamImpl(in, password)) {}
XORBufferedInputStream::~XORBufferedInputStream() = default;

// --- body ------------------------------------------------------------------------------------

namespace {
constexpr detail::XorBodyNames kNames{
    "XORBufferedInputStreamImpl Constructor", "XORBufferedInputStreamImpl Destructor",
    "XORBufferedInputStreamImpl::DestroyThis()", 0, "XORBufferedInputStream is already closed."};
}  // namespace

XORBufferedInputStreamImpl::XORBufferedInputStreamImpl(const QmXplIo::InputStream_t& in)
    : XorStreamBody(kIoArea, kNames, in) {}

XORBufferedInputStreamImpl::XORBufferedInputStreamImpl(const QmXplIo::InputStream_t& in,
                                                       const QmXplArray::CharArray_t& password)
    : XorStreamBody(kIoArea, kNames, in, password) {}

int XORBufferedInputStreamImpl::Read(char* data, int len) {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedInputStreamImpl::Read()");
    CheckOpen();
    return key_.Read(
        data, len, [this] { return ReadBuffered(); }, [this] { return Buffered() > 0; });
}

int XORBufferedInputStreamImpl::Available() {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedInputStreamImpl::Available()");
    CheckOpen();
    int n = BufferedInputStreamImpl_t::Available();
    return key_.StartPending() && n > 0 ? n - 1 : n;
}

void XORBufferedInputStreamImpl::Close() {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedInputStreamImpl::Close()");
    if (!open_) return;
    open_ = false;
    BufferedInputStreamImpl_t::Close();
}

}  // namespace QmSecIo
