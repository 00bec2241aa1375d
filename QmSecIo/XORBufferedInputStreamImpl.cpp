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

XORBufferedInputStreamImpl::XORBufferedInputStreamImpl(const QmXplIo::InputStream_t& in)
    : BufferedInputStreamImpl_t(in), key_(kIoArea) {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedInputStreamImpl Constructor");
}

XORBufferedInputStreamImpl::XORBufferedInputStreamImpl(const QmXplIo::InputStream_t& in,
                                                       const QmXplArray::CharArray_t& password)
    : BufferedInputStreamImpl_t(in), key_(kIoArea, password) {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedInputStreamImpl Constructor");
}

XORBufferedInputStreamImpl::~XORBufferedInputStreamImpl() {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedInputStreamImpl Destructor");
}

void XORBufferedInputStreamImpl::DestroyThis() {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedInputStreamImpl::DestroyThis()");
    delete this;
}

void XORBufferedInputStreamImpl::CheckOpen() const {
    if (!open_) {
        QMSEC_THROW(
            kIoArea, QmXplIo::IOException_t,
            QmSecCore::detail::CatalogMessage(0, "XORBufferedInputStream is already closed."));
    }
}

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
