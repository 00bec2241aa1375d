// Output stream handles and their bodies.
#pragma once

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Export.h"
#include "QmXpl/RefCounted_t.h"

namespace QmXplIo {

// Body of an output stream. Concrete streams override Write(const char*, int).
class QMXPL_API OutputStreamImpl_t : public QmXplRef::RefCounted_t {
  public:
    ~OutputStreamImpl_t() override;
    // Writes len bytes (len > 0, buf valid: the handle checks), all of them or throws.
    virtual void Write(const char* buf, int len) = 0;
    // Writes the low 8 bits of byte.
    virtual void Write(int byte);
    virtual void Flush();
    virtual void Close();
};

// A handle on an output stream body; copies share the body. Every operation on a handle
// without a body throws IllegalStateError_t naming "OutputStream_t"; bad arguments throw
// IllegalArgumentError_t; I/O failures are IOException_t from the body.
class QMXPL_API OutputStream_t {
  public:
    OutputStream_t() = default;
    explicit OutputStream_t(OutputStreamImpl_t* body) : body_(body) {}
    virtual ~OutputStream_t();
    OutputStream_t(const OutputStream_t&) = default;
    OutputStream_t& operator=(const OutputStream_t&) = default;

    // Writes len bytes; len 0 does nothing.
    void Write(const char* buf, int len) const;
    void Write(const QmXplArray::CharArray_t& buf) const { Write(buf.GetData(), buf.GetSize()); }
    void Write(int byte) const;
    void Flush() const;
    void Close() const;

    bool IsNull() const noexcept { return !body_; }
    OutputStreamImpl_t* GetImpl() const noexcept { return body_.Get(); }
    bool operator==(const OutputStream_t& o) const noexcept { return body_ == o.body_; }

  protected:
    OutputStreamImpl_t* Body() const;
    QmXplRef::Ref_t<OutputStreamImpl_t> body_;
};

}  // namespace QmXplIo
