// Input streams that read the wrapped stream in blocks.
#pragma once

#include <memory>

#include "QmXpl/Export.h"
#include "QmXpl/FilterInputStream_t.h"

namespace QmXplIo {

// Body of a buffered input stream. It owns a buffer of a fixed size that it fills from the
// wrapped stream; reads are served from the buffer. Bodies of the library derive from it to move
// data one byte at a time cheaply: ReadBuffered() costs a compare and a load while the buffer
// holds bytes, and calls the wrapped stream only when it is empty. The buffer is wiped when the
// body goes, since it may have carried secrets.
//
// Peek() and Peek(char*, int) show the bytes of the buffer as they came from the wrapped stream,
// before any transformation a derived body applies in its Read.
class QMXPL_API BufferedInputStreamImpl_t : public FilterInputStreamImpl_t {
  public:
    // A buffer of size bytes over in; size < 1 or an empty in throw IllegalArgumentError_t.
    explicit BufferedInputStreamImpl_t(const InputStream_t& in, int size = 8192);
    ~BufferedInputStreamImpl_t() override;

    // Buffered bytes first; a request of at least the buffer's size that finds the buffer empty
    // goes straight to the wrapped stream. Returns after at most one read of the wrapped stream
    // (0 possible when that stream holds input back), -1 at its end. IOException_t when closed.
    int Read(char* buf, int len) override;
    // The buffered count plus what the wrapped stream reports (capped at the int range).
    int Available() override;
    // Drops the buffer and closes the wrapped stream; a second Close does nothing.
    void Close() override;

    // The next byte (0..255) without consuming it, -1 at the end. Fills the buffer if it is
    // empty. IOException_t when closed or from the wrapped stream.
    int Peek();
    // Copies up to len bytes that lie ahead into buf without consuming them. Reads the wrapped
    // stream until the buffer holds len bytes (or as many as it can hold) or the stream ends.
    // Returns the count copied (less than len only at the end of the stream or when len exceeds
    // the buffer size), -1 when nothing lies ahead; len 0 returns 0.
    int Peek(char* buf, int len);

    int GetBufferSize() const noexcept { return capacity_; }
    bool IsClosed() const noexcept { return closed_; }

  protected:
    // The next byte as 0..255, or -1 at the end of the wrapped stream. Inline and non-virtual:
    // the fast path for derived bodies that read byte by byte. Throws what Refill throws.
    // It still loads and stores the position for every byte; a body that transforms many bytes
    // per call goes several times faster with ReadBufferedBlock and a loop over its own buffer.
    int ReadBuffered() {
        if (cur_ < end_) return static_cast<unsigned char>(*cur_++);
        return Refill() > 0 ? static_cast<unsigned char>(*cur_++) : -1;
    }
    // The bulk path: up to len bytes (len > 0), served as Read above, without virtual dispatch.
    int ReadBufferedBlock(char* buf, int len);
    // Bytes in the buffer that have not been read.
    int Buffered() const noexcept { return static_cast<int>(end_ - cur_); }
    // Refills the empty buffer from the wrapped stream, reading again while the wrapped stream
    // returns 0 bytes. Returns the count now buffered, or -1 at the end. IOException_t when the
    // stream is closed; the wrapped stream's exceptions pass through.
    int Refill();

  private:
    void CheckOpen() const;

    std::unique_ptr<char[]> buf_;
    int capacity_;
    // Pointers rather than offsets: the fast path then needs no base address, which measurably
    // shortens a byte-wise loop.
    const char* cur_ = nullptr;  // next byte to hand out
    const char* end_ = nullptr;  // one past the last buffered byte
    bool closed_ = false;
};

// A handle on a buffered input stream. Copies share the body; closing closes the wrapped stream.
class QMXPL_API BufferedInputStream_t : public FilterInputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    BufferedInputStream_t() = default;
    // A buffer of size bytes over in (the handle shares in's body). IllegalArgumentError_t for
    // size < 1 or an empty in.
    explicit BufferedInputStream_t(const InputStream_t& in, int size = 8192);
    ~BufferedInputStream_t() override;

    // See BufferedInputStreamImpl_t::Peek. IllegalStateError_t without a body.
    int Peek() const;
    // See BufferedInputStreamImpl_t::Peek; IllegalArgumentError_t for len < 0 or a null buf.
    int Peek(char* buf, int len) const;

  protected:
    // For derived handles that bring their own body (taken by reference).
    explicit BufferedInputStream_t(BufferedInputStreamImpl_t* body) : FilterInputStream_t(body) {}
    // The body, or IllegalStateError_t when there is none or it is not a buffered body.
    BufferedInputStreamImpl_t* BufferedBody() const;
};

}  // namespace QmXplIo
