// Output streams that write the wrapped stream in blocks.
#pragma once

#include <memory>

#include "QmXpl/Export.h"
#include "QmXpl/FilterOutputStream_t.h"

namespace QmXplIo {

// Body of a buffered output stream. It owns a buffer of a fixed size; writes collect there and
// reach the wrapped stream when the buffer is full, on Flush and on Close. Bodies of the library
// derive from it to move data one byte at a time cheaply through WriteBuffered(). A body
// destroyed without Close still hands its buffered bytes to the wrapped stream (a failure then
// is traced, as a destructor cannot throw); the buffer is wiped when the body goes.
class QMXPL_API BufferedOutputStreamImpl_t : public FilterOutputStreamImpl_t {
  public:
    // A buffer of size bytes over out; size < 1 or an empty out throw IllegalArgumentError_t.
    explicit BufferedOutputStreamImpl_t(const OutputStream_t& out, int size = 8192);
    ~BufferedOutputStreamImpl_t() override;

    // Copies into the buffer; a block of at least the buffer's size goes straight to the wrapped
    // stream after the buffered bytes. IOException_t when closed; the wrapped stream's exceptions
    // pass through (the bytes not yet written stay buffered).
    void Write(const char* buf, int len) override;
    // Writes the buffered bytes, then flushes the wrapped stream. IOException_t when closed.
    void Flush() override;
    // Writes the buffered bytes, flushes and closes the wrapped stream (closed even when
    // writing fails; the failure is then thrown). A second Close does nothing.
    void Close() override;

    int GetBufferSize() const noexcept { return capacity_; }
    bool IsClosed() const noexcept { return closed_; }

  protected:
    // Appends the low 8 bits of byte. Inline and non-virtual: the fast path for derived bodies
    // that write byte by byte. IOException_t when closed; the wrapped stream's exceptions pass.
    void WriteBuffered(int byte) {
        if (cur_ == limit_) MakeRoom();
        *cur_++ = static_cast<char>(byte);
    }
    // The bulk path: Write above without virtual dispatch.
    void WriteBufferedBlock(const char* buf, int len);
    // Hands the buffered bytes to the wrapped stream without flushing it.
    void FlushBuffer();

  private:
    // Called when the buffer is full (or the stream closed): throws when closed, else empties it.
    void MakeRoom();

    int Count() const noexcept { return static_cast<int>(cur_ - buf_.get()); }

    std::unique_ptr<char[]> buf_;
    int capacity_;
    char* cur_;    // where the next byte goes
    char* limit_;  // end of the buffer while open; its start once closed, so WriteBuffered
                   // always takes MakeRoom, which throws
    bool closed_ = false;
};

// A handle on a buffered output stream. Copies share the body.
class QMXPL_API BufferedOutputStream_t : public FilterOutputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    BufferedOutputStream_t() = default;
    // A buffer of size bytes over out (the handle shares out's body). IllegalArgumentError_t for
    // size < 1 or an empty out.
    explicit BufferedOutputStream_t(const OutputStream_t& out, int size = 8192);
    ~BufferedOutputStream_t() override;

  protected:
    // For derived handles that bring their own body (taken by reference).
    explicit BufferedOutputStream_t(BufferedOutputStreamImpl_t* body)
        : FilterOutputStream_t(body) {}
};

}  // namespace QmXplIo
