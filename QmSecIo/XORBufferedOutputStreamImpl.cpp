#include "QmSecIo/XORBufferedOutputStream.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"
#include "XORBufferedStreamImpl.h"

namespace QmSecIo {

using QmSecCoreTrc::kIoArea;

// --- handle ----------------------------------------------------------------------------------

XORBufferedOutputStream::XORBufferedOutputStream(const QmXplIo::OutputStream_t& out)
    : BufferedOutputStream_t(new XORBufferedOutputStreamImpl(out)) {}
XORBufferedOutputStream::XORBufferedOutputStream(const QmXplIo::OutputStream_t& out,
                                                 const QmXplArray::CharArray_t& password)
    : BufferedOutputStream_t(new XORBufferedOutputStreamImpl(out, password)) {}
XORBufferedOutputStream::~XORBufferedOutputStream() = default;

// --- body ------------------------------------------------------------------------------------

namespace {
constexpr detail::XorBodyNames kNames{
    "XORBufferedOutputStreamImpl Constructor", "XORBufferedOutputStreamImpl Destructor",
    "XORBufferedOutputStreamImpl::DestroyThis()", 0, "XORBufferedOutputStream is already closed."};
}  // namespace

XORBufferedOutputStreamImpl::XORBufferedOutputStreamImpl(const QmXplIo::OutputStream_t& out)
    : XorStreamBody(kIoArea, kNames, out) {}

XORBufferedOutputStreamImpl::XORBufferedOutputStreamImpl(const QmXplIo::OutputStream_t& out,
                                                         const QmXplArray::CharArray_t& password)
    : XorStreamBody(kIoArea, kNames, out, password) {}

void XORBufferedOutputStreamImpl::Write(const char* data, int len) {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedOutputStreamImpl::Write()");
    CheckOpen();
    key_.Write(data, len, [this](int byte) { WriteBuffered(byte); });
}

void XORBufferedOutputStreamImpl::Flush() {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedOutputStreamImpl::Flush()");
    CheckOpen();
    BufferedOutputStreamImpl_t::Flush();
}

void XORBufferedOutputStreamImpl::Close() {
    QMSEC_BLOCK(kIoArea.proc, "XORBufferedOutputStreamImpl::Close()");
    if (!open_) return;
    open_ = false;
    BufferedOutputStreamImpl_t::Close();
}

}  // namespace QmSecIo
