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

namespace {
constexpr detail::XorBodyNames kNames{"XOROutputStreamImpl Constructor",
                                      "XOROutputStreamImpl Destructor",
                                      "XOROutputStreamImpl::DestroyThis()", 101, nullptr};
}  // namespace

XOROutputStreamImpl::XOROutputStreamImpl(const Area& area, const QmXplIo::OutputStream_t& out)
    : XorStreamBody(area, kNames, out) {}

XOROutputStreamImpl::XOROutputStreamImpl(const Area& area, const QmXplIo::OutputStream_t& out,
                                         const QmXplArray::CharArray_t& password)
    : XorStreamBody(area, kNames, out, password) {}

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
