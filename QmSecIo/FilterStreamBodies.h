// The four kinds of body behind the security filter streams. The eight concrete bodies differ
// only in the primitive they drive, their names and their closed-stream message, so each kind
// is written once here as a template over the primitive's handle.
#pragma once

#include <algorithm>
#include <cstring>
#include <exception>

#include "QmXpl/CharArray_t.h"
#include "QmXpl/FilterInputStream_t.h"
#include "QmXpl/FilterOutputStream_t.h"
#include "QmXpl/Message_t.h"
#include "Throw.h"

namespace QmSecIo::detail {

// The trace names of one body class.
struct BodyNames {
    const char* constructor;  // "<Body> Constructor"
    const char* destructor;   // "<Body> Destructor"
    const char* destroyThis;  // "<Body>::DestroyThis()"
    const char* transfer;     // "<Body>::Read()" or "<Body>::Write()"
    const char* query;        // "<Body>::Available()" or "<Body>::Flush()"
    const char* close;        // "<Body>::Close()"
    const char* primitive;    // the primitive's class: "MessageDigest", "Cipher", ...
};

// The names of body class Body, whose transfer is Read or Write and whose query is Available or
// Flush, over a primitive of class primitive (a string).
// clang-format off
#define QMSEC_BODY_NAMES(Body, transfer, query, primitive)                             \
    ::QmSecIo::detail::BodyNames {                                                     \
        #Body " Constructor", #Body " Destructor", #Body "::DestroyThis()",            \
        #Body "::" #transfer "()", #Body "::" #query "()", #Body "::Close()", primitive \
    }
// clang-format on

// The members of a pass-through stream's handle Handle (body class HandleImpl): the body
// accessor, the getter of the primitive (of class QmSecCore::Primitive) and the switch.
#define QMSEC_DEFINE_PASS_THROUGH_HANDLE(Handle, accessor, Primitive, getter)          \
    Handle##Impl* Handle::accessor() const {                                           \
        return detail::CheckedBody<Handle##Impl>(GetImpl(), #Handle);                  \
    }                                                                                  \
    QmSecCore::Primitive Handle::getter() const { return accessor()->GetPrimitive(); } \
    void Handle::On() const { accessor()->On(); }                                      \
    void Handle::Off() const { accessor()->Off(); }

// Output buffer of the transforming bodies, and the largest input handed to the primitive at
// once: 491 Base64 lines of 48 bytes encode into 31916 bytes and a symmetric cipher adds at most
// 16, so the buffer keeps its size whatever the size of a read or write. Memory stays the same
// however long the stream and however large the caller's blocks.
inline constexpr int kBufferCapacity = 32000;
inline constexpr int kSliceLength = 491 * 48;

// The body as its class, or IllegalStateError_t (traced in the stream area) with className when
// the handle has no body of that class.
template <class Body, class Impl>
Body* CheckedBody(Impl* impl, const char* className) {
    auto* body = dynamic_cast<Body*>(impl);
    if (!body) {
        QMSEC_THROW(QmSecCoreTrc::kIoArea, QmXplMsg::IllegalStateError_t,
                    QmXplMsg::CreateWarn_t(QmXplStr::String_t(className)));
    }
    return body;
}

// A stream cannot work without its primitive: IllegalStateError_t named after the primitive's
// class, as a call through its empty handle would raise.
template <class Primitive>
const Primitive& CheckedPrimitive(const Primitive& primitive, const BodyNames& names) {
    if (primitive.IsNull()) {
        QMSEC_THROW(QmSecCoreTrc::kIoArea, QmXplMsg::IllegalStateError_t,
                    QmXplMsg::CreateWarn_t(QmXplStr::String_t(names.primitive)));
    }
    return primitive;
}

// Closed-stream failure of the filter streams: IllegalStateError_t with the catalog warning.
[[noreturn]] inline void ThrowClosed(int number) {
    QMSEC_THROW_MSG(QmSecCoreTrc::kIoArea, QmXplMsg::IllegalStateError_t, number, );
}

// A failure of the wrapped stream after bytes were delivered into the caller's buffer: the call
// returns them (they left the wrapped stream and would be lost) and the failure is left to the
// next call. Traced, as nothing is dropped unseen. Call from a catch block.
void TraceDeferredFailure(const char* where) noexcept;

// What every filter body shares: the wrapped stream (Filter is the platform's input or output
// filter body), the primitive, the trace names and the closed-stream message.
template <class Filter, class Primitive>
class FilterBody : public Filter {
  public:
    void DestroyThis() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, names_.destroyThis);
        delete this;
    }

  protected:
    template <class Stream>
    FilterBody(const Stream& stream, const Primitive& primitive, const BodyNames& names,
               int closedMessage)
        : Filter(stream),
          names_(names),
          closedMessage_(closedMessage),
          primitive_(CheckedPrimitive(primitive, names)) {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, names_.constructor);
    }

    // Every call but Close is refused once the stream is closed.
    void CheckOpen() const {
        if (!open_) ThrowClosed(closedMessage_);
    }

    const BodyNames& names_;
    const int closedMessage_;
    const Primitive primitive_;
    bool open_ = true;
};

// The input bodies' count: the wrapped stream's (bytes waiting in a body are not counted).
template <class Primitive>
class InputFilterBody : public FilterBody<QmXplIo::FilterInputStreamImpl_t, Primitive> {
  public:
    int Available() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.query);
        this->CheckOpen();
        return this->in_.Available();
    }

  protected:
    using FilterBody<QmXplIo::FilterInputStreamImpl_t, Primitive>::FilterBody;
};

template <class Primitive>
class OutputFilterBody : public FilterBody<QmXplIo::FilterOutputStreamImpl_t, Primitive> {
  public:
    void Flush() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.query);
        this->CheckOpen();
        this->out_.Flush();
    }

  protected:
    using FilterBody<QmXplIo::FilterOutputStreamImpl_t, Primitive>::FilterBody;
};

// The pass-through bodies' switch and primitive, over InputFilterBody or OutputFilterBody.
template <class Base, class Primitive>
class PassThroughBody : public Base {
  public:
    void On() noexcept { on_ = true; }
    void Off() noexcept { on_ = false; }
    const Primitive& GetPrimitive() const noexcept { return this->primitive_; }

  protected:
    using Base::Base;
    ~PassThroughBody() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.destructor);
    }

    bool on_ = true;
};

// Digest and signature streams: the bytes pass unchanged and, while the stream is on, are fed
// to the primitive (MessageDigest or Signature: Update(const char*, int) const).
template <class Primitive>
class PassThroughInputStreamImpl : public PassThroughBody<InputFilterBody<Primitive>, Primitive> {
  public:
    using PassThroughBody<InputFilterBody<Primitive>, Primitive>::PassThroughBody;

    int Read(char* data, int len) override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.transfer);
        this->CheckOpen();
        int n = this->in_.Read(data, len);
        if (n > 0 && this->on_) this->primitive_.Update(data, n);
        return n;
    }
    void Close() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.close);
        if (!this->open_) return;
        this->open_ = false;
        this->in_.Close();
    }
};

template <class Primitive>
class PassThroughOutputStreamImpl : public PassThroughBody<OutputFilterBody<Primitive>, Primitive> {
  public:
    using PassThroughBody<OutputFilterBody<Primitive>, Primitive>::PassThroughBody;

    // The primitive sees the bytes first: when it refuses them, nothing has been written.
    void Write(const char* data, int len) override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.transfer);
        this->CheckOpen();
        if (len <= 0) return;
        if (this->on_) this->primitive_.Update(data, len);
        this->out_.Write(data, len);
    }
    // Flushes and closes the wrapped stream; a second Close does nothing.
    void Close() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.close);
        this->open_ = false;
        QmXplIo::FilterOutputStreamImpl_t::Close();
    }
};

// Base64 and cipher input streams: what the wrapped stream delivers goes through the
// primitive's Update, its end through DoFinal, and the caller receives the primitive's output
// (Base64 or Cipher: Update(const char*, int, CharArray_t&, int) and DoFinal(CharArray_t&, int)).
//
// A read delivers every byte exactly once and in order whatever the sizes asked for; output that
// does not fit waits in the body for the next read. It returns at least one byte, or -1 once
// the wrapped stream has ended and everything is delivered, never 0. A failure of the primitive
// (a damaged text or ciphertext) is final: every later read throws it again, since carrying on
// would hand out bytes of a broken stream as if they were good.
template <class Primitive>
class TransformingInputStreamImpl : public InputFilterBody<Primitive> {
  public:
    using InputFilterBody<Primitive>::InputFilterBody;
    ~TransformingInputStreamImpl() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.destructor);
        buffer_.Wipe();  // may hold plaintext
    }

    int Read(char* data, int len) override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.transfer);
        this->CheckOpen();
        if (failure_) RethrowFailure();
        int result = 0;
        if (pending_ > 0) {
            result = Deliver(data, len);
            if (pending_ > 0) return result;
        }
        // The caller's buffer takes the wrapped stream's bytes, which the primitive consumes
        // before its output is copied there.
        bool ended = false;
        while (result < len && !ended) {
            char* scratch = data + result;
            int want = std::min(len - result, kSliceLength);
            int n;
            try {
                n = this->in_.Read(scratch, want);
            } catch (...) {
                if (result == 0) throw;
                TraceDeferredFailure(this->names_.transfer);
                return result;
            }
            int produced = 0;
            try {
                if (n >= 0) {
                    produced = this->primitive_.Update(scratch, n, buffer_, 0);
                } else {
                    ended = true;
                    if (finalDone_) break;
                    produced = this->primitive_.DoFinal(buffer_, 0);
                    finalDone_ = true;
                }
            } catch (...) {
                failure_ = std::current_exception();
                throw;
            }
            offset_ = 0;
            pending_ = produced;
            result += Deliver(scratch, len - result);
        }
        return ended && result == 0 ? -1 : result;
    }
    // Closes the wrapped stream and drops what waits; a second Close does nothing.
    void Close() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.close);
        if (!this->open_) return;
        this->open_ = false;
        pending_ = offset_ = 0;
        buffer_.Wipe();
        this->in_.Close();
    }

  private:
    // Copies up to room waiting bytes to data; returns the count.
    int Deliver(char* data, int room) {
        int n = std::min(pending_, room);
        if (n > 0) std::memcpy(data, buffer_.GetData() + offset_, static_cast<size_t>(n));
        offset_ += n;
        pending_ -= n;
        if (pending_ == 0) offset_ = 0;
        return n;
    }
    [[noreturn]] void RethrowFailure() const {
        QMSEC_TRACE(
            QmSecCoreTrc::kIoArea.operation, QmSecCoreTrc::kLevelThrow,
            this->names_.transfer << ": the stream failed before; throwing that failure again");
        std::rethrow_exception(failure_);
    }

    QmXplArray::CharArray_t buffer_{kBufferCapacity};
    int offset_ = 0;   // first waiting byte in buffer_
    int pending_ = 0;  // waiting bytes
    bool finalDone_ = false;
    std::exception_ptr failure_;
};

// Base64 and cipher output streams: written bytes go through the primitive's Update and its
// output to the wrapped stream; Close adds DoFinal's output.
template <class Primitive>
class TransformingOutputStreamImpl : public OutputFilterBody<Primitive> {
  public:
    using OutputFilterBody<Primitive>::OutputFilterBody;
    ~TransformingOutputStreamImpl() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.destructor);
        if (this->open_) {
            // Finishing here would make whatever was written so far look like a complete
            // message to its reader; left unfinished, a cut-off output is recognised as such.
            QMSEC_TRACE(QmSecCoreTrc::kIoArea.operation, QmSecCoreTrc::kLevelThrow,
                        this->names_.destructor << ": the stream was not closed; its output is "
                                                   "left unfinished");
        }
        buffer_.Wipe();
    }

    void Write(const char* data, int len) override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.transfer);
        this->CheckOpen();
        while (len > 0) {
            int n = std::min(len, kSliceLength);
            int produced = this->primitive_.Update(data, n, buffer_, 0);
            if (produced > 0) this->out_.Write(buffer_.GetData(), produced);
            data += n;
            len -= n;
        }
    }
    // Writes the primitive's final output, then flushes and closes the wrapped stream. Only the
    // first Close does so. When the final output cannot be made or written, the wrapped stream
    // is not closed: closing would complete an output that lacks its end (an atomic file below
    // would publish it); it gives back its resources when it goes.
    void Close() override {
        QMSEC_BLOCK(QmSecCoreTrc::kIoArea.proc, this->names_.close);
        if (!this->open_) return;
        this->open_ = false;
        int produced = this->primitive_.DoFinal(buffer_, 0);
        if (produced > 0) this->out_.Write(buffer_.GetData(), produced);
        QmXplIo::FilterOutputStreamImpl_t::Close();
    }

  private:
    QmXplArray::CharArray_t buffer_{kBufferCapacity};
};

}  // namespace QmSecIo::detail
