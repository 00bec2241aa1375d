#include <string.h>  // explicit_bzero

#include <climits>
#include <cstring>

#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/BufferedOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "io/IoTrace.h"

namespace QmXplIo {

using QmXplMsg::CreateWarn_t;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::IllegalStateError_t;
using QmXplStr::String_t;

namespace {

int CheckedSize(int size) {
    if (size < 1) {
        throw IllegalArgumentError_t(
            CreateWarn_t(String_t("Buffered stream: the buffer size must be at least 1")));
    }
    return size;
}

}  // namespace

// --- input -------------------------------------------------------------------------------------

BufferedInputStreamImpl_t::BufferedInputStreamImpl_t(const InputStream_t& in, int size)
    : FilterInputStreamImpl_t(in),
      buf_(new char[static_cast<size_t>(CheckedSize(size))]),
      capacity_(size),
      cur_(buf_.get()),
      end_(buf_.get()) {}

BufferedInputStreamImpl_t::~BufferedInputStreamImpl_t() {
    if (buf_) explicit_bzero(buf_.get(), static_cast<size_t>(capacity_));
}

void BufferedInputStreamImpl_t::CheckOpen() const {
    if (closed_) throw IOException_t(CreateWarn_t(String_t("BufferedInputStream_t is closed")));
}

int BufferedInputStreamImpl_t::Refill() {
    CheckOpen();
    cur_ = end_ = buf_.get();
    for (;;) {
        int n = in_.Read(buf_.get(), capacity_);
        if (n < 0) return -1;
        if (n > 0) {
            end_ = buf_.get() + n;
            return n;
        }
    }
}

int BufferedInputStreamImpl_t::ReadBufferedBlock(char* buf, int len) {
    int have = Buffered();
    if (have > 0) {
        int n = have < len ? have : len;
        std::memcpy(buf, cur_, static_cast<size_t>(n));
        cur_ += n;
        return n;
    }
    CheckOpen();
    // Nothing buffered: a large request goes straight to the caller's memory, saving a copy.
    if (len >= capacity_) return in_.Read(buf, len);
    int n = in_.Read(buf_.get(), capacity_);
    if (n <= 0) return n;
    int give = n < len ? n : len;
    std::memcpy(buf, buf_.get(), static_cast<size_t>(give));
    cur_ = buf_.get() + give;
    end_ = buf_.get() + n;
    return give;
}

int BufferedInputStreamImpl_t::Read(char* buf, int len) { return ReadBufferedBlock(buf, len); }

int BufferedInputStreamImpl_t::Available() {
    CheckOpen();
    long long total = static_cast<long long>(Buffered()) + in_.Available();
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

void BufferedInputStreamImpl_t::Close() {
    if (closed_) return;
    closed_ = true;
    explicit_bzero(buf_.get(), static_cast<size_t>(capacity_));
    cur_ = end_ = buf_.get();
    in_.Close();
}

int BufferedInputStreamImpl_t::Peek() {
    if (cur_ < end_) return static_cast<unsigned char>(*cur_);
    return Refill() > 0 ? static_cast<unsigned char>(*cur_) : -1;
}

int BufferedInputStreamImpl_t::Peek(char* buf, int len) {
    CheckOpen();
    if (len <= 0) return 0;
    int want = len < capacity_ ? len : capacity_;
    int have = Buffered();
    if (have < want) {
        // Move what is left to the front so that the buffer has room for the rest.
        if (have > 0 && cur_ != buf_.get())
            std::memmove(buf_.get(), cur_, static_cast<size_t>(have));
        cur_ = buf_.get();
        end_ = buf_.get() + have;
        while (have < want) {
            int n = in_.Read(buf_.get() + have, capacity_ - have);
            if (n < 0) break;
            have += n;
            end_ = buf_.get() + have;
        }
    }
    if (have == 0) return -1;
    int n = have < len ? have : len;
    std::memcpy(buf, cur_, static_cast<size_t>(n));
    return n;
}

BufferedInputStream_t::BufferedInputStream_t(const InputStream_t& in, int size)
    : FilterInputStream_t(new BufferedInputStreamImpl_t(in, size)) {}
BufferedInputStream_t::~BufferedInputStream_t() = default;

BufferedInputStreamImpl_t* BufferedInputStream_t::BufferedBody() const {
    auto* b = dynamic_cast<BufferedInputStreamImpl_t*>(Body());
    if (!b) throw IllegalStateError_t(CreateWarn_t(String_t("BufferedInputStream_t")));
    return b;
}

int BufferedInputStream_t::Peek() const { return BufferedBody()->Peek(); }

int BufferedInputStream_t::Peek(char* buf, int len) const {
    BufferedInputStreamImpl_t* b = BufferedBody();
    if (len < 0 || (len > 0 && !buf)) {
        throw IllegalArgumentError_t(
            CreateWarn_t(String_t("BufferedInputStream_t::Peek: illegal buffer or length")));
    }
    return b->Peek(buf, len);
}

// --- output ------------------------------------------------------------------------------------

BufferedOutputStreamImpl_t::BufferedOutputStreamImpl_t(const OutputStream_t& out, int size)
    : FilterOutputStreamImpl_t(out),
      buf_(new char[static_cast<size_t>(CheckedSize(size))]),
      capacity_(size),
      cur_(buf_.get()),
      limit_(buf_.get() + size) {}

BufferedOutputStreamImpl_t::~BufferedOutputStreamImpl_t() {
    if (!closed_ && Count() > 0) {
        // Dropping the buffered bytes silently would lose data the caller has written.
        try {
            FlushBuffer();
        } catch (...) {
            detail::TraceIgnored("BufferedOutputStream_t: bytes lost at destruction", __FILE__,
                                 __LINE__);
        }
    }
    explicit_bzero(buf_.get(), static_cast<size_t>(capacity_));
}

void BufferedOutputStreamImpl_t::FlushBuffer() {
    if (closed_) throw IOException_t(CreateWarn_t(String_t("BufferedOutputStream_t is closed")));
    if (Count() > 0) {
        out_.Write(buf_.get(), Count());
        cur_ = buf_.get();
    }
}

void BufferedOutputStreamImpl_t::MakeRoom() { FlushBuffer(); }

void BufferedOutputStreamImpl_t::WriteBufferedBlock(const char* buf, int len) {
    if (closed_) throw IOException_t(CreateWarn_t(String_t("BufferedOutputStream_t is closed")));
    if (len >= capacity_) {
        // Larger than the buffer: keep the order, then write the block in place.
        FlushBuffer();
        out_.Write(buf, len);
        return;
    }
    if (len > capacity_ - Count()) FlushBuffer();
    std::memcpy(cur_, buf, static_cast<size_t>(len));
    cur_ += len;
}

void BufferedOutputStreamImpl_t::Write(const char* buf, int len) { WriteBufferedBlock(buf, len); }

void BufferedOutputStreamImpl_t::Flush() {
    FlushBuffer();
    out_.Flush();
}

void BufferedOutputStreamImpl_t::Close() {
    if (closed_) return;
    // When the buffered bytes cannot be handed on, the output is incomplete and the wrapped
    // stream is not closed (closing would finish it, e.g. publish an atomic file).
    try {
        FlushBuffer();
        out_.Flush();
    } catch (...) {
        closed_ = true;
        cur_ = limit_ = buf_.get();
        throw;
    }
    closed_ = true;
    cur_ = limit_ = buf_.get();
    out_.Close();
}

BufferedOutputStream_t::BufferedOutputStream_t(const OutputStream_t& out, int size)
    : FilterOutputStream_t(new BufferedOutputStreamImpl_t(out, size)) {}
BufferedOutputStream_t::~BufferedOutputStream_t() = default;

}  // namespace QmXplIo
