// Bodies of the buffered scrambling streams: the per-byte calls of the unbuffered ones go to the
// inline paths of the platform's buffer.
#pragma once

#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/BufferedOutputStream_t.h"
#include "XorStreamBody.h"

namespace QmSecIo {

class XORBufferedInputStreamImpl
    : public detail::XorStreamBody<QmXplIo::BufferedInputStreamImpl_t> {
  public:
    explicit XORBufferedInputStreamImpl(const QmXplIo::InputStream_t& in);
    XORBufferedInputStreamImpl(const QmXplIo::InputStream_t& in,
                               const QmXplArray::CharArray_t& password);

    // Up to len bytes; fills the buffer only while no byte has been produced, so that a read
    // never waits for the wrapped stream once it has something to return.
    int Read(char* data, int len) override;
    // Buffered and wrapped bytes, less the start digit still to come.
    int Available() override;
    void Close() override;
};

class XORBufferedOutputStreamImpl
    : public detail::XorStreamBody<QmXplIo::BufferedOutputStreamImpl_t> {
  public:
    explicit XORBufferedOutputStreamImpl(const QmXplIo::OutputStream_t& out);
    XORBufferedOutputStreamImpl(const QmXplIo::OutputStream_t& out,
                                const QmXplArray::CharArray_t& password);

    void Write(const char* data, int len) override;
    void Flush() override;
    void Close() override;
};

}  // namespace QmSecIo
