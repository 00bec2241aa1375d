// Input stream handles and their bodies.
#pragma once

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Export.h"
#include "QmXpl/RefCounted_t.h"

namespace QmXplIo {

// Body of an input stream. Concrete streams derive from it (or from FilterInputStreamImpl_t)
// and override Read(char*, int); the rest has working defaults.
class QMXPL_API InputStreamImpl_t : public QmXplRef::RefCounted_t {
  public:
    ~InputStreamImpl_t() override;
    // Reads up to len bytes (len > 0, buf valid: the handle checks). Returns the count, which may
    // be 0 when a transforming stream holds input back, or -1 at the end of the stream.
    virtual int Read(char* buf, int len) = 0;
    // One byte as 0..255, or -1 at the end.
    virtual int Read();
    // Bytes that can be read without blocking (a lower bound; 0 when unknown).
    virtual int Available();
    // Reads and discards up to n bytes; returns how many were skipped (0 at the end).
    virtual long long Skip(long long n);
    virtual void Close();
};

// A handle on an input stream body; copies share the body. Every operation on a handle without
// a body throws IllegalStateError_t naming "InputStream_t"; bad arguments throw
// IllegalArgumentError_t. I/O failures are IOException_t from the body.
class QMXPL_API InputStream_t {
  public:
    InputStream_t() = default;
    // Takes a reference on body (null gives an empty handle).
    explicit InputStream_t(InputStreamImpl_t* body) : body_(body) {}
    virtual ~InputStream_t();
    InputStream_t(const InputStream_t&) = default;
    InputStream_t& operator=(const InputStream_t&) = default;

    // Up to len bytes into buf; the count (0 possible), or -1 at the end. len 0 returns 0.
    int Read(char* buf, int len) const;
    // Up to buf.GetSize() bytes.
    int Read(QmXplArray::CharArray_t& buf) const { return Read(buf.GetData(), buf.GetSize()); }
    int Read() const;
    int Available() const;
    long long Skip(long long n) const;
    void Close() const;

    bool IsNull() const noexcept { return !body_; }
    InputStreamImpl_t* GetImpl() const noexcept { return body_.Get(); }
    bool operator==(const InputStream_t& o) const noexcept { return body_ == o.body_; }

  protected:
    // The body, or IllegalStateError_t when there is none.
    InputStreamImpl_t* Body() const;
    QmXplRef::Ref_t<InputStreamImpl_t> body_;
};

}  // namespace QmXplIo
