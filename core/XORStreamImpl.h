// Bodies of the unbuffered scrambling streams. The QmSecIo and the QmSecCore pair share them;
// they differ only in the trace area they report to.
#pragma once

#include "QmXpl/FilterInputStream_t.h"
#include "QmXpl/FilterOutputStream_t.h"
#include "XorStreamBody.h"

namespace QmSecIo {

// Reads the wrapped stream one byte per call and combines each byte with the key.
class XORInputStreamImpl : public detail::XorStreamBody<QmXplIo::FilterInputStreamImpl_t> {
  public:
    // Default key (start digit read from the stream).
    XORInputStreamImpl(const QmSecCoreTrc::Area& area, const QmXplIo::InputStream_t& in);
    // Password key; IOException_t 99 or 176 as XorKeyStream.
    XORInputStreamImpl(const QmSecCoreTrc::Area& area, const QmXplIo::InputStream_t& in,
                       const QmXplArray::CharArray_t& password);

    // Up to len bytes, one call on the wrapped stream per byte; returns when len bytes are read
    // or the wrapped stream ends. IOException_t 100 when closed.
    int Read(char* data, int len) override;
    // The wrapped stream's count, less the start digit still to come. IOException_t 100 when
    // closed.
    int Available() override;
    // Closes the wrapped stream; a second Close does nothing.
    void Close() override;
};

// Writes each byte, combined with the key, by one call on the wrapped stream.
class XOROutputStreamImpl : public detail::XorStreamBody<QmXplIo::FilterOutputStreamImpl_t> {
  public:
    XOROutputStreamImpl(const QmSecCoreTrc::Area& area, const QmXplIo::OutputStream_t& out);
    XOROutputStreamImpl(const QmSecCoreTrc::Area& area, const QmXplIo::OutputStream_t& out,
                        const QmXplArray::CharArray_t& password);

    // IOException_t 101 when closed; len <= 0 writes nothing, not even the start digit.
    void Write(const char* data, int len) override;
    void Flush() override;
    // Flushes and closes the wrapped stream; a second Close does nothing.
    void Close() override;
};

}  // namespace QmSecIo
