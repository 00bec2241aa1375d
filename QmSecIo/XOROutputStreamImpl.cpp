#include "QmSecIo/XOROutputStream.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"
#include "XORStreamImpl.h"

namespace QmSecIo {

using QmSecCoreTrc::Area;
using QmSecCoreTrc::kIoArea;

// --- handle ----------------------------------------------------------------------------------

XOROutputStream::XOROutputStream(const QmXplIo::OutputStream_t& out)
    : FilterOutputStream_t(new XOROutputStreamImpl(kIoArea, out)) {}
XOROutputStream::XOROutputStream(const QmXplIo::OutputStream_t& out,
                                 const QmXplArray::CharArray_t& password)
    : FilterOutputStream_t(new XOROutputStreamImpl(kIoArea, out, password)) {}
XOROutputStream::~XOROutputStream() = default;

// --- body ------------------------------------------------------------------------------------

XOROutputStreamImpl::XOROutputStreamImpl(const Area& area, const QmXplIo::OutputStream_t& out)
    : FilterOutputStreamImpl_t(out), area_(area), key_(area) {
    QMSEC_BLOCK(area_.proc, "XOROutputStreamImpl Constructor");
}

XOROutputStreamImpl::XOROutputStreamImpl(const Area& area, const QmXplIo::OutputStream_t& out,
                                         const QmXplArray::CharArray_t& password)
    : FilterOutputStreamImpl_t(out), area_(area), key_(area, password) {
    QMSEC_BLOCK(area_.proc, "XOROutputStreamImpl Constructor");
}

XOROutputStreamImpl::~XOROutputStreamImpl() {
    QMSEC_BLOCK(area_.proc, "XOROutputStreamImpl Destructor");
}

void XOROutputStreamImpl::DestroyThis() {
    QMSEC_BLOCK(area_.proc, "XOROutputStreamImpl::DestroyThis()");
    delete this;
}

void XOROutputStreamImpl::CheckOpen() const {
    if (!open_) QMSEC_THROW_MSG(area_, QmXplIo::IOException_t, 101, );
}

void XOROutputStreamImpl::Write(const char* data, int len) {
    QMSEC_BLOCK(area_.proc, "XOROutputStreamImpl::Write()");
    CheckOpen();
    key_.Write(data, len, [this](int byte) { out_.Write(byte); });
}

void XOROutputStreamImpl::Flush() {
    QMSEC_BLOCK(area_.proc, "XOROutputStreamImpl::Flush()");
    CheckOpen();
    out_.Flush();
}

void XOROutputStreamImpl::Close() {
    QMSEC_BLOCK(area_.proc, "XOROutputStreamImpl::Close()");
    // Closed whatever happens below: a failed close is not retried by writing more.
    open_ = false;
    FilterOutputStreamImpl_t::Close();
}

}  // namespace QmSecIo
