// Bidirectional byte connections: a handle and the body that derived connections implement.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/OutputStream_t.h"
#include "QmXpl/RefCounted_t.h"

namespace QmXplIo {

// Body of a connection. A socket, a TLS session over another connection, or anything else that
// has one byte stream in each direction derives from it.
class QMXPL_API ConnectionImpl_t : public QmXplRef::RefCounted_t {
  public:
    ~ConnectionImpl_t() override;
    // A stream that reads what the peer sends. Stream bodies keep the connection body alive.
    virtual InputStream_t GetInputStream() = 0;
    // A stream that sends to the peer.
    virtual OutputStream_t GetOutputStream() = 0;
    // Ends the connection and releases what it holds; a second call does nothing.
    virtual void Close() = 0;
};

// A handle on a connection body; copies share the body, the last one releases it. Every
// operation on a handle without a body throws IllegalStateError_t naming "Connection_t"; I/O
// failures are IOException_t from the body.
class QMXPL_API Connection_t {
  public:
    Connection_t() = default;
    // Takes a reference on body (null gives an empty handle).
    explicit Connection_t(ConnectionImpl_t* body) : body_(body) {}
    virtual ~Connection_t();
    Connection_t(const Connection_t&) = default;
    Connection_t& operator=(const Connection_t&) = default;

    InputStream_t GetInputStream() const;
    OutputStream_t GetOutputStream() const;
    void Close() const;

    bool IsNull() const noexcept { return !body_; }
    ConnectionImpl_t* GetImpl() const noexcept { return body_.Get(); }
    bool operator==(const Connection_t& o) const noexcept { return body_ == o.body_; }

  protected:
    // The body, or IllegalStateError_t naming className when there is none.
    ConnectionImpl_t* Body(const char* className = "Connection_t") const;
    QmXplRef::Ref_t<ConnectionImpl_t> body_;
};

}  // namespace QmXplIo
